// Conversions between the JSON side (UTF-8) and the payload side (Windows-1252 narrow text,
// UTF-16LE wide text).
#pragma once

#include <cstdint>
#include <string>

// Converts UTF-8 to Windows-1252. The five bytes that code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) stand for the control characters of the same value, as Windows maps them, so every
// byte string survives a round trip. On failure returns false and sets badCodePoint (0xFFFFFFFF for
// malformed UTF-8).
bool utf8ToCp1252(const std::string& utf8, std::string& cp1252, uint32_t& badCodePoint);
std::string cp1252ToUtf8(const std::string& cp1252);

// False for malformed UTF-8.
bool utf8ToUtf16(const std::string& utf8, std::u16string& utf16);
// False for an unpaired surrogate; badIndex is its position in code units.
bool utf16ToUtf8(const std::u16string& utf16, std::string& utf8, size_t& badIndex);
