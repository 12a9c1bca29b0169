// UTF-16 and UTF-8 conversion for the Linux platform unit, which names files in UTF-8.
#pragma once

#include <string>

namespace platform {

// False for a lone surrogate, which has no UTF-8 form.
bool utf16ToUtf8(const char16_t* text, std::string& out);

// Bytes that are not UTF-8 become U+FFFD.
std::u16string utf8ToUtf16(const char* text);

} // namespace platform
