// Java version strings: parsing, the configured bounds, the beta rule and the newer-than order.
#pragma once

#include <vector>

// A version cut into numbers: "1.8.0_251-b08" is 1, 8, 0, 251, 0.
typedef std::vector<int> ParsedVersion;

struct VersionBounds {
    ParsedVersion minimum;  // empty: no restriction
    ParsedVersion maximum;
};

void parseVersion(const char* version, ParsedVersion& parsed);
// Bounds act as prefixes and are inclusive. A version shorter than the bound and equal so far is
// accepted only with `shortVersionAccepted`.
bool versionWithinBound(const ParsedVersion& bound, const ParsedVersion& version, bool isMaximum,
                        bool shortVersionAccepted);
// The bounds and, unless allowed, the beta rule: no "beta", "ea" or "rc" anywhere in the text.
bool versionMatches(const char* version, const VersionBounds& bounds, bool allowBeta);
// For version names of registry keys: short versions pass, no beta rule.
bool versionMatchesPrefix(const char* version, const VersionBounds& bounds);
// True when a is strictly newer than b; 1.8.0 is newer than 1.8.
bool isNewerVersion(const char* a, const char* b);
