// StringConvert in the "C" locale and in a UTF-8 locale: whole results or
// empty ones, never partial; text after an embedded zero is not converted.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "support/string_convert.h"

namespace {

using namespace std::string_literals;

struct Case {
    const char* what;
    std::string narrow;
    std::wstring wide;
};

// Conversions that hold in both directions.
void expectBothWays(const Case& c) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(StringConvert::AnsiToUnicode(c.narrow), c.wide);
    EXPECT_EQ(StringConvert::UnicodeToAnsi(c.wide), c.narrow);
}

TEST(StringConvertTest, CLocaleConvertsAsciiOnly) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    for (const Case& c : {
             Case{"port name", "COM3", L"COM3"},
             Case{"empty", "", L""},
             Case{"printable ASCII", " !~/dev/ttyUSB0", L" !~/dev/ttyUSB0"},
         })
        expectBothWays(c);

    EXPECT_EQ(StringConvert::AnsiToUnicode("AB\0CD"s), L"AB");
    EXPECT_EQ(StringConvert::UnicodeToAnsi(L"AB\0CD"s), "AB");
    EXPECT_EQ(StringConvert::AnsiToUnicode("\0CD"s), L"");
    // Bytes and characters beyond ASCII fail whole, not from where they are.
    EXPECT_EQ(StringConvert::AnsiToUnicode("COM\xff"), L"");
    EXPECT_EQ(StringConvert::UnicodeToAnsi(L"Порт"), "");
    EXPECT_EQ(StringConvert::UnicodeToAnsi(L"COM3 Порт"), "");
}

TEST(StringConvertTest, Utf8LocaleConvertsWholeText) {
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr) << "C.UTF-8 locale missing";
    for (const Case& c : {
             Case{"port name", "COM3", L"COM3"},
             Case{"Cyrillic, two bytes a letter", "\xd0\x9f\xd0\xbe\xd1\x80\xd1\x82", L"Порт"},
             Case{"mixed", "Tarvel60x \xd0\xbe\xd1\x88\xd0\xb8\xd0\xb1\xd0\xba\xd0\xb0", L"Tarvel60x ошибка"},
             Case{"beyond 16 bits", "\xf0\x9f\x93\xa1", L"\U0001F4E1"},
         })
        expectBothWays(c);
    EXPECT_EQ(StringConvert::UnicodeToAnsi(L"Порт").size(), 8u);

    EXPECT_EQ(StringConvert::AnsiToUnicode("\xd0\x9f\0\xd0\xbe"s), L"П");
    // Invalid or cut sequences give nothing, not the part before them.
    EXPECT_EQ(StringConvert::AnsiToUnicode("COM\xff"), L"");
    EXPECT_EQ(StringConvert::AnsiToUnicode("COM\xd0"), L"");
    EXPECT_EQ(StringConvert::AnsiToUnicode("\xc0\xaf"), L"");
}

}  // namespace
