// Configuration JSON: {"narrow": {ID: TEXT}, "wide": {ID: TEXT}, "languages": [{"prefix": TEXT,
// "entries": {ID: TEXT}}]}, where ID is a decimal identifier or an alias.
#pragma once

#include "Payload.h"

#include <string>

// False with a message naming the offending key or member.
bool configurationFromJson(const std::string& text, Configuration& config, std::string& error);

// Numeric keys in numeric order; the result is accepted by configurationFromJson. False only for a
// wide value that UTF-8 cannot carry (an unpaired surrogate).
bool configurationToJson(const Configuration& config, std::string& json, std::string& error);
