// Frames as a reader sends them, built independently of the engine for the
// engine's tests: answers, event frames and tag-data answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/device/scripted_port_impl.h"

namespace TestFrames {

// 5A, the length byte, the body given as hex, the checksum, 7E.
inline std::string frame(const std::string& bodyHex) {
    std::string bytes = std::string("\x5A", 1) + '\0' + ScriptedLine::bytes(bodyHex);
    bytes[1] = static_cast<char>(bytes.size() - 1);
    std::uint32_t sum = 0x10000;
    for (std::size_t i = 1; i < bytes.size(); ++i)
        sum -= static_cast<std::uint8_t>(bytes[i]);
    bytes += static_cast<char>((sum >> 8) & 0xFF);
    bytes += static_cast<char>(sum & 0xFF);
    bytes += '\x7E';
    return bytes;
}

// An answer of the given kind to command `code` with status `status`.
inline std::string answer(int kind, int code, int status) {
    char body[32];
    std::snprintf(body, sizeof body, "01 %02X %02X %02X 00 00", kind, code, status);
    return frame(body);
}

// An event frame of `total` bytes with the event character at byte 12.
inline std::string event(char kind, std::size_t total) {
    std::string bytes = std::string("\x5A", 1) + static_cast<char>(total - 4) + std::string("\x01\x2C\x09", 3) +
            std::string(total - 8, '\0');
    bytes[12] = kind;
    std::uint32_t sum = 0x10000;
    for (std::size_t i = 1; i < bytes.size(); ++i)
        sum -= static_cast<std::uint8_t>(bytes[i]);
    bytes += static_cast<char>((sum >> 8) & 0xFF);
    bytes += static_cast<char>(sum & 0xFF);
    bytes += '\x7E';
    return bytes;
}

// The tag-data answer: PC, EPC with its two further bytes, TID, laid out
// from offset 14 as the reader does.
inline std::string tagData(const std::string& pcHex, const std::string& epcHex, const std::string& tidHex,
                           int code = 0x36) {
    const std::string pc = ScriptedLine::bytes(pcHex);
    const std::string epc = ScriptedLine::bytes(epcHex);
    const std::string tid = ScriptedLine::bytes(tidHex);
    std::string body = std::string("\x01\x3B", 2) + static_cast<char>(code) + std::string(9, '\0');
    body += static_cast<char>(epc.size() + 2);  // L: PC and EPC with its two further bytes
    body += pc + epc;
    body += '\0';
    body += static_cast<char>(tid.size());
    body += tid;
    return frame(ScriptedLine::hex(body));
}

// The user-memory answer with the data bytes from offset 7.
inline std::string userData(const std::string& dataHex) {
    const std::string data = ScriptedLine::bytes(dataHex);
    std::string body = std::string("\x01\x3B\x32\x00", 4) + static_cast<char>(data.size()) + data;
    while (body.size() < 20)
        body += '\0';
    return frame(ScriptedLine::hex(body));
}

// True when the frame's checksum and end byte follow the protocol's rule.
inline bool checksumHolds(const std::string& bytes) {
    if (bytes.size() < 5 || static_cast<std::uint8_t>(bytes[1]) + 4u != bytes.size())
        return false;
    std::uint32_t sum = 0x10000;
    for (std::size_t i = 1; i + 3 < bytes.size(); ++i)
        sum -= static_cast<std::uint8_t>(bytes[i]);
    sum &= 0xFFFF;
    return static_cast<std::uint8_t>(bytes[bytes.size() - 3]) == (sum >> 8) &&
           static_cast<std::uint8_t>(bytes[bytes.size() - 2]) == (sum & 0xFF) &&
           static_cast<std::uint8_t>(bytes.back()) == 0x7E;
}

}  // namespace TestFrames
