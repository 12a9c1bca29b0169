#include "ConfigJson.h"

#include "ConfigAliases.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(ConfigJson, ReadsNumbersAndAliases) {
    Configuration config;
    std::string error;
    ASSERT_TRUE(configurationFromJson(R"({
        "narrow": {"serviceName": "Demo service", "122": "com.example.Main", "-5": "minus",
                   "errorCaption": "Fehler \u00e4", "10123": "1", "2147483647": "max", "-2147483648": "min"},
        "wide": {"serviceDescription": "\u4e2d \ud83d\ude00"},
        "languages": [{"prefix": "de", "entries": {"errorCaption": "Fehler"}}, {"prefix": ""}]
    })",
                                      config, error))
        << error;
    EXPECT_EQ(config.narrow, (std::map<int32_t, std::string>{{101, "Demo service"},
                                                             {122, "com.example.Main"},
                                                             {-5, "minus"},
                                                             {1000, "Fehler \xE4"},
                                                             {10123, "1"},
                                                             {INT32_MAX, "max"},
                                                             {INT32_MIN, "min"}}));
    EXPECT_EQ(config.wide, (std::map<int32_t, std::u16string>{{20017, u"\u4E2D \U0001F600"}}));
    ASSERT_EQ(config.languages.size(), 2u);
    EXPECT_EQ(config.languages[0].prefix, "de");
    EXPECT_EQ(config.languages[0].entries, (std::map<int32_t, std::u16string>{{1000, u"Fehler"}}));
    EXPECT_EQ(config.languages[1].prefix, "");
    EXPECT_TRUE(config.languages[1].entries.empty());
}

TEST(ConfigJson, AllMembersAreOptional) {
    Configuration config;
    std::string error;
    ASSERT_TRUE(configurationFromJson("{}", config, error)) << error;
    EXPECT_TRUE(config.narrow.empty() && config.wide.empty() && config.languages.empty());
}

struct BadConfig {
    const char* json;
    const char* message;
};

TEST(ConfigJson, RefusesBadConfigurationsNamingTheKey) {
    const BadConfig cases[] = {
        {R"({"narrow": {"serviceNam": "x"}})",
         R"("narrow": unknown key "serviceNam": neither a decimal identifier)"},
        {R"({"narrow": {"12a": "x"}})", R"(unknown key "12a")"},
        {R"({"narrow": {" 12": "x"}})", R"(unknown key " 12")"},
        {R"({"narrow": {"": "x"}})", R"(unknown key "")"},
        {R"({"narrow": {"2147483648": "x"}})",
         R"(identifier "2147483648" is outside the signed 32-bit range)"},
        {R"({"narrow": {"-2147483649": "x"}})", R"(identifier "-2147483649" is outside)"},
        {R"({"narrow": {"99999999999999999999999": "x"}})",
         R"(identifier "99999999999999999999999" is outside)"},
        {R"({"narrow": {"101": 5}})", R"("narrow": the value of "101" is number, not a string)"},
        {R"({"narrow": {"101": null}})", R"(the value of "101" is null, not a string)"},
        {R"({"wide": {"serviceDescription": ["x"]}})",
         R"("wide": the value of "serviceDescription" is array)"},
        {R"({"narrow": {"101": "a", "101": "b"}})", R"(key "101" is given twice in "narrow")"},
        {R"({"narrow": {"101": "a", "serviceName": "b"}})",
         R"("101" and "serviceName" both name identifier 101)"},
        {R"({"narrow": {"101": "a", "0101": "b"}})", R"("0101" and "101" both name identifier 101)"},
        {R"({"narrow": {"1000": "\u4e2d"}})",
         R"("narrow": the value of "1000" holds U+4E2D, which narrow text)"},
        {R"({"languages": [{"prefix": "\u0100"}]})", R"("languages[0]": the prefix holds U+0100)"},
        {R"({"narrow": {}, "narow": {}})", R"(unknown top-level member "narow")"},
        {R"({"narrow": {}, "narrow": {}})", R"(key "narrow" is given twice)"},
        {R"({"narrow": []})", R"("narrow" must be an object)"},
        {R"({"languages": {}})", R"("languages" must be an array)"},
        {R"({"languages": ["de"]})", R"("languages[0]" must be an object)"},
        {R"({"languages": [{"prefix": "de", "entry": {}}]})", R"("languages[0]": unknown member "entry")"},
        {R"({"languages": [{"entries": {}}]})", R"("languages[0]": "prefix" must be given as a string)"},
        {R"({"languages": [{"prefix": "de", "entries": {"x": "y"}}]})",
         R"("languages[0].entries": unknown key "x")"},
        {R"({"languages": [{"prefix": "de", "entries": {"1": "a", "1": "b"}}]})",
         R"(key "1" is given twice in "entries")"},
        {R"(["narrow"])", "must be a JSON object"},
        {R"({"narrow": {"101": "x"})", "not valid JSON: parse error at line 1"},
        {"{\"narrow\": {\"101\": \"\xC3\"}}", "not valid JSON"},
    };
    for (const BadConfig& c : cases) {
        Configuration config;
        std::string error;
        EXPECT_FALSE(configurationFromJson(c.json, config, error)) << c.json;
        EXPECT_NE(error.find(c.message), std::string::npos)
            << c.json << "\n  expected: " << c.message << "\n  got:      " << error;
    }
}

TEST(ConfigJson, WritesNumericKeysInNumericOrderAndReadsThemBack) {
    Configuration config;
    config.narrow = {{1000, "Fehler \xE4\x80"}, {101, "a\nb\"c\\"}, {-3, ""}, {2, "x"}};
    config.wide = {{20017, u"\u4E2D \U0001F600"}};
    config.languages = {{"pt_BR", {{1000, u"Erro"}, {5, u""}}}, {"de", {}}};
    std::string json;
    std::string error;
    ASSERT_TRUE(configurationToJson(config, json, error)) << error;
    EXPECT_LT(json.find("\"-3\""), json.find("\"2\""));
    EXPECT_LT(json.find("\"2\""), json.find("\"101\""));
    EXPECT_LT(json.find("\"101\""), json.find("\"1000\""));
    EXPECT_LT(json.find("\"5\""), json.find("\"1000\": \"Erro\""));
    EXPECT_NE(json.find("Fehler \xC3\xA4\xE2\x82\xAC"), std::string::npos) << json; // UTF-8 in the JSON

    Configuration back;
    ASSERT_TRUE(configurationFromJson(json, back, error)) << error;
    EXPECT_EQ(back.narrow, config.narrow);
    EXPECT_EQ(back.wide, config.wide);
    ASSERT_EQ(back.languages.size(), 2u);
    EXPECT_EQ(back.languages[0].prefix, "pt_BR");
    EXPECT_EQ(back.languages[0].entries, config.languages[0].entries);
    EXPECT_EQ(back.languages[1].prefix, "de");
}

TEST(ConfigJson, RefusesToWriteAnUnpairedSurrogate) {
    Configuration config;
    config.languages = {{"de", {{1000, std::u16string(u"ab") + char16_t(0xDC00)}}}};
    std::string json;
    std::string error;
    EXPECT_FALSE(configurationToJson(config, json, error));
    EXPECT_NE(error.find("language block 1 value of id 1000 holds the unpaired surrogate 0xDC00"),
              std::string::npos)
        << error;
}

TEST(ConfigAliases, NamesAndIdentifiersAreUnique) {
    std::set<std::string> names;
    std::set<int32_t> ids;
    for (const ConfigAlias& alias : configAliases()) {
        EXPECT_TRUE(names.insert(alias.name).second) << alias.name;
        EXPECT_TRUE(ids.insert(alias.id).second) << alias.id;
        int32_t found = 0;
        EXPECT_TRUE(findConfigAlias(alias.name, found));
        EXPECT_EQ(found, alias.id);
    }
    int32_t found = 0;
    EXPECT_FALSE(findConfigAlias("ServiceName", found)); // aliases are case-sensitive
}

} // namespace
