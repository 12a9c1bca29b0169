#include "JavaVersion.h"

#include "Config.h"
#include "Log.h"

#include <cctype>
#include <climits>
#include <cstring>

void parseVersion(const char* version, ParsedVersion& parsed) {
    parsed.clear();
    const char* piece = version;
    while (true) {
        size_t length = strcspn(piece, "._-+");
        if (length > 0) {
            const char* p = piece;
            const char* end = piece + length;
            while (p < end && isspace(static_cast<unsigned char>(*p))) p++;
            long long value = 0;
            // Leading digits only; a piece that begins otherwise counts as 0. Huge numbers saturate.
            for (; p < end && isdigit(static_cast<unsigned char>(*p)); p++)
                value = value > INT_MAX / 10 ? INT_MAX : value * 10 + (*p - '0');
            parsed.push_back(value > INT_MAX ? INT_MAX : static_cast<int>(value));
        }
        if (piece[length] == 0) break;
        piece += length + 1;
    }
}

bool versionWithinBound(const ParsedVersion& bound, const ParsedVersion& version, bool isMaximum,
                        bool shortVersionAccepted) {
    for (size_t i = 0; i < bound.size(); i++) {
        if (i >= version.size()) return shortVersionAccepted;
        if (version[i] == bound[i]) continue;
        return isMaximum ? version[i] < bound[i] : version[i] > bound[i];
    }
    return true;
}

bool versionMatches(const char* version, const VersionBounds& bounds, bool allowBeta) {
    if (!allowBeta && getConfigInt(130) == 0 &&
        (strstr(version, "beta") != nullptr || strstr(version, "ea") != nullptr || strstr(version, "rc") != nullptr)) {
        logMessage("beta vm not allowed");
        return false;
    }
    ParsedVersion parsed;
    parseVersion(version, parsed);
    return versionWithinBound(bounds.minimum, parsed, false, false) &&
           versionWithinBound(bounds.maximum, parsed, true, false);
}

bool versionMatchesPrefix(const char* version, const VersionBounds& bounds) {
    ParsedVersion parsed;
    parseVersion(version, parsed);
    return versionWithinBound(bounds.minimum, parsed, false, true) &&
           versionWithinBound(bounds.maximum, parsed, true, true);
}

bool isNewerVersion(const char* a, const char* b) {
    ParsedVersion first, second;
    parseVersion(a, first);
    parseVersion(b, second);
    for (size_t i = 0; i < first.size(); i++) {
        if (i >= second.size()) return true;
        if (first[i] != second[i]) return first[i] > second[i];
    }
    return false;
}
