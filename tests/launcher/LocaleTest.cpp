// Unit tests of the mapping from Windows locale identifiers to Java locales.
#include "Locale.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>

namespace {

TEST(Locale, TheTableHoldsPrimaryLanguagesAndFullIdentifiersOnce) {
    ASSERT_EQ(localeTableSize, 215u);
    std::set<unsigned> keys;
    size_t primary = 0;
    for (size_t i = 0; i < localeTableSize; i++) {
        keys.insert(localeTable[i].key);
        if (localeTable[i].key <= 0x3FF)
            primary++;
        size_t length = strlen(localeTable[i].locale);
        EXPECT_TRUE(length == 2 || length == 5 || length == 8) << localeTable[i].locale;
    }
    EXPECT_EQ(keys.size(), 215u);
    EXPECT_EQ(primary, 71u);
}

TEST(Locale, IdentifiersMapToJavaLocales) {
    const std::pair<unsigned long, const char*> cases[] = {
        {0x0407, "de_DE"}, {0x0C07, "de_AT"}, {0x10407, "de_DE"}, // sort identifier dropped
        {0x4809, "en"},    {0x0442, "en"},    {0x0814, "no_NO_NY"}, {0x041A, "hr_HR"}, {0x101A, "sr"},
        {0x083C, "ga_IE"}, {0x003C, "gd"},    {0x043C, "gd_GB"},    {0x040D, "iw_IL"}, {0x000D, "iw"},
        {0x0421, "in_ID"}, {0x0021, "in"},    {0x081A, "sr_CS"},    {0x0C1A, "sr_CS"}, {0x0C0A, "es_ES"},
        {0x040A, "es_ES"}, {0x0812, "ko_KR"}, {0x2409, "en"},       {0x0431, "ts"},    {0x0434, "xh"},
        {0x0435, "zu"},    {0x043D, "yi"},    {0x0444, "tt"},       {0x0409, "en_US"}, {0x0816, "pt_PT"},
        {0x0416, "pt_BR"}, {0x500A, "es_PR"}, {0x0456, "gl_ES"},    {0x0056, "gl"},    {0x0028, "en"},
        {0x0000, "en"},    {0xFFFF, "en"},    {0x0001, "ar"},       {0x3C01, "ar_BH"}, {0x0843, "uz_UZ"},
        {0x082C, "az_AZ"},
    };
    for (auto [id, locale] : cases)
        EXPECT_STREQ(localeForLocaleId(id), locale) << std::hex << id;
}

TEST(Locale, CountryOnlyForFiveCharacterLocales) {
    const struct {
        const char* locale;
        const char* language;
        const char* country;
    } cases[] = {
        {"de_AT", "de", "AT"}, {"no_NO_NY", "no", nullptr}, {"en", "en", nullptr}, {"tt", "tt", nullptr}};
    for (const auto& c : cases) {
        storeLocale(c.locale);
        char language[3] = "", country[3] = "";
        EXPECT_TRUE(getDetectedLanguage(language));
        EXPECT_STREQ(language, c.language);
        EXPECT_EQ(getDetectedCountry(country), c.country != nullptr) << c.locale;
        if (c.country != nullptr) {
            EXPECT_STREQ(country, c.country);
        }
    }
}

TEST(Locale, DetectionWritesAndLogsTheUsersLocale) {
    char locale[9];
    detectLocale(locale);
    EXPECT_STREQ(locale, localeForLocaleId(GetUserDefaultLCID()));
}

} // namespace
