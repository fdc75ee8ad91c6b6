// POSIX form of StringConvert: the C library's multibyte conversions in the
// process locale (the host's; the driver never changes it).
#include "support/string_convert.h"

#include <cstdlib>
#include <vector>

std::wstring StringConvert::AnsiToUnicode(const std::string& text) {
    if (text.empty())
        return std::wstring();
    // The measurement stops at the first zero byte: text after it is not
    // converted.
    const std::size_t length = std::mbstowcs(nullptr, text.c_str(), 0);
    if (length == static_cast<std::size_t>(-1) || length == 0)
        return std::wstring();
    // One extra element for the terminating zero that the conversion writes
    // when the input has more bytes than characters.
    std::vector<wchar_t> converted(length + 1, L'\0');
    const std::size_t count = std::mbstowcs(converted.data(), text.c_str(), text.size() < length + 1 ? text.size() : length + 1);
    if (count == static_cast<std::size_t>(-1) || count == 0)
        return std::wstring();
    return std::wstring(converted.data(), length);
}

std::string StringConvert::UnicodeToAnsi(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const std::size_t length = std::wcstombs(nullptr, text.c_str(), 0);
    if (length == static_cast<std::size_t>(-1) || length == 0)
        return std::string();
    std::vector<char> converted(length + 1, '\0');
    const std::size_t count = std::wcstombs(converted.data(), text.c_str(), length);
    if (count == static_cast<std::size_t>(-1) || count == 0)
        return std::string();
    return std::string(converted.data(), length);
}
