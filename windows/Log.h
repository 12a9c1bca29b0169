// The diagnostic log (only when LANYX_LOG or QUORVEX_LOG is "yes") and the error report that ends
// every fatal condition with a configured message.
#pragma once

#include <cstddef>

// Narrow printf-style formats with the C runtime's conventions: "%s" narrow, "%S" wide.
void logMessage(const char* format, ...);
// The same line with "ERROR: " in front.
void logError(const char* format, ...);
// The log file's name, or nullptr while logging is off.
const wchar_t* getLogFileName();

// Errors show in message boxes until the configuration is loaded, then as it says.
void setErrorDisplayConsole(bool console);

void showErrorText(const char* text);
void showErrorTextWide(const wchar_t* text);
// Shows message `id` of the configuration with `argument` in place of its first "{0}".
void showErrorMessage(int id, const char* argument = nullptr);
void showErrorMessageWide(int id, const wchar_t* argument = nullptr);
// Puts `argument` (when given) in place of the first "{0}" of `message`, within `size` characters.
void replaceFirstPlaceholder(char* message, size_t size, const char* argument);
void replaceFirstPlaceholder(wchar_t* message, size_t size, const wchar_t* argument);

// Removes the launcher temporary directory and ends the process at once.
[[noreturn]] void exitLauncher(int exitCode);
[[noreturn]] void fatalText(const char* text);
[[noreturn]] void fatalMessage(int id, const char* argument = nullptr);
[[noreturn]] void fatalMessageWide(int id, const wchar_t* argument = nullptr);
