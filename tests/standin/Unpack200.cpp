// Stand-in unpack200.exe: called as  unpack200 -r "PACKED" "JAR", it writes a small jar at JAR and
// appends its command line to standin-unpack200.txt beside it.
#include "StandinFiles.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    standin::writeBeside("standin-unpack200.txt", std::string(GetCommandLineA()) + "\n", true);
    if (argc != 4 || std::string(argv[1]) != "-r") {
        fprintf(stderr, "usage: unpack200 -r PACKED JAR\n");
        return 2;
    }
    FILE* jar = fopen(argv[3], "wb");
    if (jar == nullptr) {
        fprintf(stderr, "unpack200: cannot write %s\n", argv[3]);
        return 1;
    }
    fprintf(jar, "PK\x03\x04 unpacked from %s\n", argv[2]);
    fclose(jar);
    return 0;
}
