// The user's locale in the Java form (language, optionally "_" and country, such as "de_DE").
#pragma once

#include <cstddef>

struct LocaleEntry {
    unsigned short key;
    const char* locale;
};
// Windows language identifiers, and bare primary languages, with their Java locales; searched in order.
extern const LocaleEntry localeTable[];
extern const size_t localeTableSize;

// The Java locale of a Windows locale identifier (its sort bits are ignored): the entry of its
// language identifier, else of its primary language, else "en".
const char* localeForLocaleId(unsigned long localeId);

// Writes the user's locale string (at most 8 characters) to `locale`, a buffer of at least 9 bytes.
void detectLocale(char* locale);
// Keeps the language code and, for a five-character locale, the country code.
void storeLocale(const char* locale);
// Copy the code into `buffer` (3 bytes at least) and return true, or return false when it is not set.
bool getDetectedLanguage(char* buffer);
bool getDetectedCountry(char* buffer);
