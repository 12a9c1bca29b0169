// Writes a configured launcher: a copy of the stub with the payload and the included files behind
// the raw data of its last section.
#pragma once

#include <string>
#include <vector>

struct BuildRequest {
    std::string stubPath;
    std::string configPath;
    std::string outPath;
    std::vector<std::string> fileOptions; // NAME=PATH, in order
};

// False with a message on any problem; the output then stays untouched. Warnings go to `warnings`.
bool buildLauncher(const BuildRequest& request, std::vector<std::string>& warnings, std::string& error);
