#include "TextEncoding.h"

namespace {

// Code points of the bytes 0x80 to 0x9F; the rest of Windows-1252 equals Latin-1.
const char16_t cp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

const uint32_t malformed = 0xFFFFFFFF;

// Decodes the code point at utf8[pos] and advances pos; malformed input gives `malformed`.
uint32_t nextCodePoint(const std::string& utf8, size_t& pos) {
    unsigned char lead = static_cast<unsigned char>(utf8[pos++]);
    if (lead < 0x80)
        return lead;
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (extra < 0 || lead > 0xF4 || pos + extra > utf8.size())
        return malformed;
    uint32_t codePoint = lead & (0x3F >> extra);
    for (int i = 0; i < extra; ++i) {
        unsigned char next = static_cast<unsigned char>(utf8[pos++]);
        if ((next & 0xC0) != 0x80)
            return malformed;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    static const uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (codePoint < smallest[extra] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return malformed;
    return codePoint;
}

void appendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

} // namespace

bool utf8ToCp1252(const std::string& utf8, std::string& cp1252, uint32_t& badCodePoint) {
    cp1252.clear();
    for (size_t pos = 0; pos < utf8.size();) {
        uint32_t codePoint = nextCodePoint(utf8, pos);
        int byte = -1;
        if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
            byte = static_cast<int>(codePoint);
        } else {
            for (int i = 0; i < 32; ++i)
                if (cp1252High[i] == codePoint)
                    byte = 0x80 + i;
        }
        if (byte < 0) {
            badCodePoint = codePoint;
            return false;
        }
        cp1252 += static_cast<char>(byte);
    }
    return true;
}

std::string cp1252ToUtf8(const std::string& cp1252) {
    std::string utf8;
    for (char c : cp1252) {
        unsigned char byte = static_cast<unsigned char>(c);
        appendUtf8(utf8, byte >= 0x80 && byte < 0xA0 ? cp1252High[byte - 0x80] : byte);
    }
    return utf8;
}

bool utf8ToUtf16(const std::string& utf8, std::u16string& utf16) {
    utf16.clear();
    for (size_t pos = 0; pos < utf8.size();) {
        uint32_t codePoint = nextCodePoint(utf8, pos);
        if (codePoint == malformed)
            return false;
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            utf16 += static_cast<char16_t>(0xD800 + (codePoint >> 10));
            utf16 += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
        } else {
            utf16 += static_cast<char16_t>(codePoint);
        }
    }
    return true;
}

bool utf16ToUtf8(const std::u16string& utf16, std::string& utf8, size_t& badIndex) {
    utf8.clear();
    for (size_t i = 0; i < utf16.size(); ++i) {
        uint32_t unit = utf16[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            appendUtf8(utf8, 0x10000 + ((unit - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            badIndex = i;
            return false;
        } else {
            appendUtf8(utf8, unit);
        }
    }
    return true;
}
