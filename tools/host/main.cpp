// tarvel60x-host LIBRARY: loads the driver library the way the platform does,
// creates the driver and prints its version and description for a person.
#include <cstdio>
#include <exception>
#include <sstream>
#include <string>

#include "host/test_host.h"

using TestHost::Value;

namespace {

std::string show(const Value& value) {
    switch (value.type()) {
    case TestHost::Abi::WideString: return TestHost::toUtf8(value.text());
    case TestHost::Abi::Bool: return value.boolean() ? "да (true)" : "нет (false)";
    case TestHost::Abi::Int32: return std::to_string(value.int32());
    default: {
        std::ostringstream text;
        text << value;
        return text.str();
    }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
        return 2;
    }
    try {
        TestHost::Host host(argv[1]);
        std::printf("%-15s %s\n", "Library:", argv[1]);
        std::printf("%-15s %s\n", "Component:", TestHost::toUtf8(host.registeredName()).c_str());

        const TestHost::CallResult version = host.call("GetVersion");
        if (!version.ok) {
            std::fprintf(stderr, "GetVersion failed\n");
            return 1;
        }
        std::printf("%-15s %s\n", "Version:", show(version.result).c_str());

        const TestHost::CallResult description = host.call("GetDescription", std::vector<Value>(7));
        if (!description.ok || description.args.size() != 7) {
            std::fprintf(stderr, "GetDescription failed\n");
            return 1;
        }
        static const char* const labels[7] = {"Name:",        "Description:", "Equipment:",    "Interface:",
                                              "Integration:", "Main driver:", "Download page:"};
        for (int i = 0; i < 7; ++i)
            std::printf("%-15s %s\n", labels[i], show(description.args[i]).c_str());
        host.stop();
        const auto memory = host.memory().report();
        if (memory.liveBlocks != 0 || memory.foreignFrees != 0 || memory.foreignBlocks != 0) {
            std::fprintf(stderr, "host memory not balanced: %zu blocks left, %zu foreign frees, %zu foreign blocks\n",
                         memory.liveBlocks, memory.foreignFrees, memory.foreignBlocks);
            return 1;
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarvel60x-host: %s\n", error.what());
        return 1;
    }
}
