#include "platform/Utf16.h"

#include <cstdint>

namespace platform {

bool utf16ToUtf8(const char16_t* text, std::string& out) {
    out.clear();
    for (const char16_t* p = text; *p != 0; p++) {
        uint32_t c = *p;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (p[1] < 0xDC00 || p[1] > 0xDFFF)
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
            p++;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return true;
}

std::u16string utf8ToUtf16(const char* text) {
    std::u16string out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        uint32_t c = *p;
        int extra = c < 0x80             ? 0
                    : (c & 0xE0) == 0xC0 ? 1
                    : (c & 0xF0) == 0xE0 ? 2
                    : (c & 0xF8) == 0xF0 ? 3
                                         : -1;
        uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        bool valid = extra >= 0;
        if (valid) {
            c = extra == 0 ? c : c & (0x3F >> extra);
            for (int i = 1; i <= extra && valid; i++) {
                valid = (p[i] & 0xC0) == 0x80;
                c = (c << 6) | (p[i] & 0x3F);
            }
            valid = valid && c >= minimum[extra] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
        }
        if (!valid) {
            out += u'\uFFFD';
            p++;
            continue;
        }
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        p += extra + 1;
    }
    return out;
}

} // namespace platform
