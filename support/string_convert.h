// StringConvert: narrow/wide text conversion in the process locale. Any
// failure gives an empty string, never a partial one; nothing throws.
#pragma once

#include <string>

class StringConvert {
public:
    static std::wstring AnsiToUnicode(const std::string& text);
    static std::string UnicodeToAnsi(const std::wstring& text);
};
