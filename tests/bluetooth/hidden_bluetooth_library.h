// Runs a piece of code in a child process that cannot load the Bluetooth
// library: a private mount namespace binds an empty file over it.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <functional>
#include <string>

namespace hidden_bluetooth {

constexpr int kSkipStatus = 77;

inline std::string readAll(int descriptor) {
    std::string text;
    char chunk[4096];
    ssize_t count;
    while ((count = ::read(descriptor, chunk, sizeof chunk)) > 0) {
        text.append(chunk, static_cast<std::size_t>(count));
    }
    return text;
}

// The file that the dynamic loader opens for the library's run-time name,
// found in a throw-away child so that this process never loads it. Empty
// when the library is not installed.
inline std::string libraryFilePath(const char* libraryName) {
    int channel[2];
    if (pipe(channel) != 0) {
        return "";
    }
    const pid_t child = fork();
    if (child == 0) {
        ::close(channel[0]);
        void* handle = dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
        link_map* map = nullptr;
        if (handle != nullptr && dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) {
            char resolved[PATH_MAX];
            if (realpath(map->l_name, resolved) != nullptr) {
                const ssize_t ignored = ::write(channel[1], resolved, strlen(resolved));
                (void)ignored;
            }
        }
        _exit(0);
    }
    ::close(channel[1]);
    std::string path = child > 0 ? readAll(channel[0]) : "";
    ::close(channel[0]);
    if (child > 0) {
        waitpid(child, nullptr, 0);
    }
    return path;
}

struct Outcome {
    bool skipped = false;
    std::string skipReason;
    bool exitedNormally = false;  // false: the child died of a signal
    int exitStatus = -1;
    int signal = 0;
    std::string result;  // what the body returned
    std::string output;  // the child's standard output (the debug log)
};

// Forks; the child hides the library, sends its standard output into a
// pipe, runs body and hands back the text it returns. Skipped when this
// process already has the library loaded or the namespace cannot be made
// (not root, or a sandbox that forbids it).
inline Outcome runWithoutLibrary(const char* libraryName, const std::function<std::string()>& body) {
    Outcome outcome;
    if (dlopen(libraryName, RTLD_NOW | RTLD_NOLOAD) != nullptr) {
        outcome.skipped = true;
        outcome.skipReason = std::string(libraryName) + " is already loaded in this process";
        return outcome;
    }
    // Empty when the library is not installed: the body then runs as it is,
    // which is the very case to show.
    const std::string path = libraryFilePath(libraryName);
    char emptyFile[] = "/tmp/t60-no-bluetooth-XXXXXX";
    const int emptyDescriptor = mkstemp(emptyFile);
    if (emptyDescriptor < 0) {
        outcome.skipped = true;
        outcome.skipReason = "no temporary file";
        return outcome;
    }
    ::close(emptyDescriptor);

    int resultPipe[2];
    int outputPipe[2];
    if (pipe(resultPipe) != 0 || pipe(outputPipe) != 0) {
        unlink(emptyFile);
        outcome.skipped = true;
        outcome.skipReason = "no pipe";
        return outcome;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child == 0) {
        ::close(resultPipe[0]);
        ::close(outputPipe[0]);
        if (!path.empty()) {
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount(emptyFile, path.c_str(), nullptr, MS_BIND, nullptr) != 0) {
                _exit(kSkipStatus);
            }
        }
        // Standard error too: what a sanitizer reports before ending the
        // child is then shown with the failure.
        dup2(outputPipe[1], STDOUT_FILENO);
        dup2(outputPipe[1], STDERR_FILENO);
        ::close(outputPipe[1]);
        const std::string result = body();
        std::fflush(stdout);
        const ssize_t ignored = ::write(resultPipe[1], result.data(), result.size());
        (void)ignored;
        _exit(0);
    }
    ::close(resultPipe[1]);
    ::close(outputPipe[1]);
    if (child < 0) {
        ::close(resultPipe[0]);
        ::close(outputPipe[0]);
        unlink(emptyFile);
        outcome.skipped = true;
        outcome.skipReason = "no fork";
        return outcome;
    }
    // The child writes little, so reading one pipe after the other cannot
    // block it on a full pipe.
    outcome.output = readAll(outputPipe[0]);
    outcome.result = readAll(resultPipe[0]);
    ::close(resultPipe[0]);
    ::close(outputPipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    unlink(emptyFile);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kSkipStatus) {
        outcome.skipped = true;
        outcome.skipReason = "no private mount namespace here";
        return outcome;
    }
    outcome.exitedNormally = WIFEXITED(status);
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return outcome;
}

}  // namespace hidden_bluetooth
