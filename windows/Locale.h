// The user's locale in the Java form (language, optionally "_" and country, such as "de_DE").
#pragma once

// Writes the locale string (at most 8 characters) to `locale`, a buffer of at least 9 bytes.
void detectLocale(char* locale);
// Keeps the language code and, for a five-character locale, the country code.
void storeLocale(const char* locale);
// Copy the code into `buffer` (3 bytes at least) and return true, or return false when it is not set.
bool getDetectedLanguage(char* buffer);
bool getDetectedCountry(char* buffer);
