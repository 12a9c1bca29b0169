// Readable names for the configuration identifiers the launcher knows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ConfigAlias {
    const char* name;
    int32_t id;
    const char* meaning;
};

const std::vector<ConfigAlias>& configAliases();
bool findConfigAlias(const std::string& name, int32_t& id);
