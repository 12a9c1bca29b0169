// Java version parsing, bounds, the beta rule and the newer-than order.
#include "JavaVersion.h"

#include <gtest/gtest.h>

namespace {

ParsedVersion parsed(const char* version) {
    ParsedVersion result;
    parseVersion(version, result);
    return result;
}

VersionBounds bounds(const char* minimum, const char* maximum) { return {parsed(minimum), parsed(maximum)}; }

TEST(JavaVersion, CutsAtSeparatorsAndTakesLeadingDigits) {
    const std::pair<const char*, ParsedVersion> cases[] = {
        {"1.8.0_251-b08", {1, 8, 0, 251, 0}},
        {"1.7.0-ea", {1, 7, 0, 0}},
        {"9.0.4+11", {9, 0, 4, 11}},
        {"11.0.2", {11, 0, 2}},
        {"", {}},
        {"1..8", {1, 8}},
        {" 17", {17}},
        {"1.8x.3", {1, 8, 3}},
        {"99999999999.1", {2147483647, 1}},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(parsed(text), expected) << text;
}

TEST(JavaVersion, BoundsAreInclusivePrefixes) {
    struct Case {
        const char* minimum;
        const char* maximum;
        const char* version;
        bool accepted;
    };
    const Case cases[] = {
        {"1.7", "1.8", "1.7.0_80", true},     {"1.7", "1.8", "1.8.0_251", true}, {"1.7", "1.8", "1.6.0_45", false},
        {"1.7", "1.8", "1.9.0", false},       {"1.7", "1.8", "11.0.2", false},   {"1.7.0_45", "", "1.7.0", false},
        {"1.7.0_45", "", "1.7.0_51", true},   {"", "", "1.4", true},             {"", "1.8.0_20", "1.8", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(versionMatches(c.version, bounds(c.minimum, c.maximum), true), c.accepted)
            << c.version << " within [" << c.minimum << ", " << c.maximum << "]";
    EXPECT_TRUE(versionMatchesPrefix("1.8", bounds("", "1.8.0_20"))) << "registry names may be short";
}

TEST(JavaVersion, BetaRuleRejectsEaRcAndBetaAnywhereUnlessAllowed) {
    VersionBounds any = bounds("", "");
    for (const char* beta : {"1.8.0-ea", "9-beta", "1.8.0-rc1", "1.8.0_1-search"}) {
        EXPECT_FALSE(versionMatches(beta, any, false)) << beta;
        EXPECT_TRUE(versionMatches(beta, any, true)) << beta;
    }
    EXPECT_TRUE(versionMatches("1.8.0_251", any, false));
    EXPECT_TRUE(versionMatchesPrefix("1.8.0-ea", any)) << "no beta rule for registry names";
}

TEST(JavaVersion, NewerIsStrict) {
    EXPECT_FALSE(isNewerVersion("1.8", "1.8"));
    EXPECT_TRUE(isNewerVersion("1.8.0", "1.8"));
    EXPECT_FALSE(isNewerVersion("1.8", "1.8.0"));
    EXPECT_TRUE(isNewerVersion("11.0.2", "1.8.0_251"));
    EXPECT_TRUE(isNewerVersion("1.8", ""));
    EXPECT_FALSE(isNewerVersion("", ""));
}

} // namespace
