// Suspends the calling thread; the platform form uses the system's sleep.
#pragma once

void sleepMilliseconds(unsigned milliseconds);
