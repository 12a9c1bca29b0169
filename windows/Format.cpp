#include "Format.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

void formatBounded(char* buffer, size_t size, const char* format, ...) {
    if (size == 0) return;
    va_list arguments;
    va_start(arguments, format);
    _vsnprintf(buffer, size - 1, format, arguments);
    va_end(arguments);
    buffer[size - 1] = 0;
}

void formatBoundedWide(wchar_t* buffer, size_t size, const wchar_t* format, ...) {
    if (size == 0) return;
    va_list arguments;
    va_start(arguments, format);
    _vsnwprintf(buffer, size - 1, format, arguments);
    va_end(arguments);
    buffer[size - 1] = 0;
}

std::string formatText(const char* format, va_list arguments) {
    va_list copy;
    va_copy(copy, arguments);
    int length = _vscprintf(format, copy);
    va_end(copy);
    if (length < 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    _vsnprintf(&text[0], text.size(), format, arguments);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::wstring formatTextWide(const wchar_t* format, va_list arguments) {
    va_list copy;
    va_copy(copy, arguments);
    int length = _vscwprintf(format, copy);
    va_end(copy);
    if (length < 0) return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    _vsnwprintf(&text[0], text.size(), format, arguments);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string narrowFromWide(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], size, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(size) - 1);
    return narrow;
}
