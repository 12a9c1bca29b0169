// The text of this test process's diagnostic log (the tests run with LANYX_LOG=yes).
#pragma once

#include "Log.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

inline std::string logText() {
    const wchar_t* name = getLogFileName();
    if (name == nullptr)
        return "";
    std::ifstream in(name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string lines = text.str();
    lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end());
    return lines;
}

inline bool logContains(const std::string& line) {
    return logText().find(line) != std::string::npos;
}
