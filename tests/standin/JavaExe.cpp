// Stand-in java.exe (and javaw.exe). Steered by files beside it:
//   standin-version.txt   what "-version" prints on standard error (default: a 1.8.0_251 banner)
//   standin-exitcode.txt  the exit code (default 0)
//   standin-hang          when present, the process never ends
// Every run is counted in standin-runs.txt and its command line appended to standin-commands.txt.
#include "StandinFiles.h"

#include <cstdio>
#include <cstdlib>

int main() {
    standin::countRun();
    standin::writeBeside("standin-commands.txt", std::string(GetCommandLineA()) + "\n", true);
    if (standin::fileExists(standin::moduleDirectory() + "standin-hang")) Sleep(INFINITE);
    std::string banner = standin::readBeside("standin-version.txt",
                                             "java version \"1.8.0_251\"\n"
                                             "Java(TM) SE Runtime Environment (build 1.8.0_251-b08)\n"
                                             "Java HotSpot(TM) Client VM (build 25.251-b08, mixed mode)\n");
    fputs(banner.c_str(), stderr);
    fflush(stderr);
    return atoi(standin::readBeside("standin-exitcode.txt", "0").c_str());
}
