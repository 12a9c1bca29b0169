// printf-style formatting with the Windows C runtime's conventions: in a narrow format "%s" is a
// narrow string and "%S" a wide one, in a wide format the other way round. MinGW's C++ mode switches
// printf and friends to C99 rules, so these call the runtime's own _vsnprintf and _vsnwprintf.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <string>

// Formats into a fixed buffer; the result is always terminated, cut when it does not fit.
void formatBounded(char* buffer, size_t size, const char* format, ...);
void formatBoundedWide(wchar_t* buffer, size_t size, const wchar_t* format, ...);

// Formats into a string of whatever length the text needs.
std::string formatText(const char* format, va_list arguments);
std::wstring formatTextWide(const wchar_t* format, va_list arguments);

// Converts to the ANSI code page, as the narrow file functions and the console expect.
std::string narrowFromWide(const wchar_t* text);
