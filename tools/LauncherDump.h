// Prints the payload of a configured launcher.
#pragma once

#include <ostream>
#include <string>

// Writes the configuration JSON, then "included files: N" and a line "  NAME (SIZE bytes)" per file.
// False with a message naming the offset when the file has no payload or a damaged one.
bool dumpLauncher(const std::string& path, std::ostream& out, std::string& error);
