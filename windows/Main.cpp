#include "Launcher.h"

#include <cstring>
#include <string>

// The entry receives the command-line tail the way a GUI program's entry would: the text behind
// the program name and the blanks that follow it.
int main() {
    const char* line = GetCommandLineA();
    if (*line == '"') {
        line++;
        while (*line != 0 && *line != '"') line++;
        if (*line == '"') line++;
    } else {
        while (*line != 0 && *line != ' ' && *line != '\t') line++;
    }
    while (*line == ' ' || *line == '\t') line++;
    std::string tail(line);
    return launcherMain(GetModuleHandleW(nullptr), &tail[0]);
}
