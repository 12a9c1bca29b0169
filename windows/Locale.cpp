#include "Locale.h"

#include "Log.h"

#include <cstring>

namespace {
char detectedLanguage[3];
char detectedCountry[3];
} // namespace

void detectLocale(char* locale) {
    // The mapping of Windows language identifiers is not built yet: every user gets the default.
    strcpy(locale, "en");
    logMessage("language/country is %s", locale);
}

void storeLocale(const char* locale) {
    detectedLanguage[0] = 0;
    detectedCountry[0] = 0;
    size_t length = strlen(locale);
    if (length >= 2) {
        memcpy(detectedLanguage, locale, 2);
        detectedLanguage[2] = 0;
    }
    if (length == 5) {
        memcpy(detectedCountry, locale + 3, 2);
        detectedCountry[2] = 0;
    }
}

bool getDetectedLanguage(char* buffer) {
    if (detectedLanguage[0] == 0) return false;
    strcpy(buffer, detectedLanguage);
    return true;
}

bool getDetectedCountry(char* buffer) {
    if (detectedCountry[0] == 0) return false;
    strcpy(buffer, detectedCountry);
    return true;
}
