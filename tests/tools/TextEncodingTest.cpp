#include "TextEncoding.h"

#include <gtest/gtest.h>

namespace {

struct Cp1252Case {
    std::string utf8;
    std::string cp1252;
};

TEST(TextEncoding, ConvertsUtf8ToWindows1252) {
    const Cp1252Case cases[] = {
        {"Fehler \xC3\xA4", "Fehler \xE4"}, // a umlaut
        {"\xE2\x82\xAC", "\x80"},           // euro sign
        {"\xC5\xB8", "\x9F"},               // Y with diaeresis
        {"\xC2\x81", "\x81"},               // undefined in the code page: kept as the control character
        {"\xC3\xBF", "\xFF"},
        {"", ""},
    };
    for (const Cp1252Case& c : cases) {
        std::string narrow;
        uint32_t bad = 0;
        EXPECT_TRUE(utf8ToCp1252(c.utf8, narrow, bad)) << c.utf8;
        EXPECT_EQ(narrow, c.cp1252);
        EXPECT_EQ(cp1252ToUtf8(c.cp1252), c.utf8);
    }
}

TEST(TextEncoding, RefusesWhatWindows1252CannotRepresent) {
    const std::pair<std::string, uint32_t> cases[] = {
        {"x\xE4\xB8\xAD", 0x4E2D},     // a CJK character
        {"\xC2\x80", 0x80},            // U+0080 is not the euro byte
        {"\xF0\x9F\x98\x80", 0x1F600}, // outside the BMP
        {"\xC3", 0xFFFFFFFF},          // malformed UTF-8
    };
    for (const auto& [utf8, codePoint] : cases) {
        std::string narrow;
        uint32_t bad = 0;
        EXPECT_FALSE(utf8ToCp1252(utf8, narrow, bad));
        EXPECT_EQ(bad, codePoint);
    }
}

TEST(TextEncoding, EveryWindows1252ByteSurvivesARoundTrip) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all += static_cast<char>(byte);
    std::string back;
    uint32_t bad = 0;
    ASSERT_TRUE(utf8ToCp1252(cp1252ToUtf8(all), back, bad));
    EXPECT_EQ(back, all);
}

TEST(TextEncoding, ConvertsBetweenUtf8AndUtf16) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"Dienst \xC3\xA4", u"Dienst \u00E4"},
        {"\xE4\xB8\xAD", u"\u4E2D"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"}, // a surrogate pair
        {"", u""},
    };
    for (const auto& [utf8, utf16] : cases) {
        std::u16string wide;
        EXPECT_TRUE(utf8ToUtf16(utf8, wide));
        EXPECT_EQ(wide, utf16);
        std::string back;
        size_t badIndex = 0;
        EXPECT_TRUE(utf16ToUtf8(utf16, back, badIndex));
        EXPECT_EQ(back, utf8);
    }
}

TEST(TextEncoding, RefusesUnpairedSurrogates) {
    const std::pair<std::u16string, size_t> cases[] = {
        {std::u16string(u"ab") + char16_t(0xD800), 2},
        {std::u16string(1, char16_t(0xDC00)) + u"x", 0},
        {std::u16string(u"a") + char16_t(0xD83D) + u"b", 1},
    };
    for (const auto& [utf16, index] : cases) {
        std::string utf8;
        size_t badIndex = 99;
        EXPECT_FALSE(utf16ToUtf8(utf16, utf8, badIndex));
        EXPECT_EQ(badIndex, index);
    }
    std::u16string wide;
    EXPECT_FALSE(utf8ToUtf16("\xED\xA0\x80", wide)); // a surrogate encoded in UTF-8
}

} // namespace
