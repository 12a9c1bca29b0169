// Launching the Java application: expansion of launcher and environment variables in configuration
// strings, and the JVM home of the chosen runtime.
#pragma once

#include <cstddef>

// Expands the variable tokens of `text` in place, within `size` characters: the launcher's own
// tokens, then ${NAME} for every environment variable (also with NAME upper-cased). With ansiSafe
// the executable and temporary directories are taken in the forms the ANSI functions can open.
void expandVariables(wchar_t* text, size_t size, bool ansiSafe);
void expandVariablesNarrow(char* text, size_t size);

// Replaces every occurrence of `token` by `value`; an inserted value is not searched again for the
// same token. A narrow value is widened byte by byte. The text is cut at `size` when it grows past it.
void replaceVariable(wchar_t* text, size_t size, const wchar_t* token, const wchar_t* value);
void replaceVariable(wchar_t* text, size_t size, const wchar_t* token, const char* value);
void replaceVariable(char* text, size_t size, const char* token, const char* value);

// The JVM home: the directory of the chosen java executable followed by "..".
void setJvmHome(const char* javaExecutable);
const char* getJvmHome();
