// The driver's error vocabulary: every code that the driver and the reader
// engine record, with its Russian text, kept here once.
#pragma once

#include <string>

namespace Errors {

enum Code : long {
    None = 0,
    WrongTag = 100,
    NoTagToWrite = 101,
    WaitTimeout = 105,
    AdapterException = 111,
    WriteWaitTimeout = 199,
    TagWriteFailed = 200,
    Send3610SerialFailed = 209,
    SendSettingsFailed = 210,
    Connect3610Timeout = 215,
    Switch3610ModeFailed = 229,
    ConnectFailed = 245,
    ConfigureFailed = 247,
    TagReadFailed = 300,
    NoContact = 404,
    Bad3610SerialLength = 600,
    SessionAlreadyOpen = 660,
    SessionNotOpen = 661,
    BluetoothAdapterNotFound = 702,
    BluetoothDeviceNotFound = 703,
    BluetoothConnectFailed = 704,
    BluetoothPortInitFailed = 706,
    CommandNotSent = 1000,
    NoAnswer = 1001,
};

// The Russian text of a code of the table above; empty for any other code.
const wchar_t* text(long code);

}  // namespace Errors
