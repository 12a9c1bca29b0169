// zentaro-snapshot: checks and prints the agent's snapshot files.
#include "Snapshot.h"
#include "SnapshotTree.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

const char* const usage =
    "usage: zentaro-snapshot check FILE\n"
    "       zentaro-snapshot tree FILE [--thread NAME] [--depth N] [--no-lines]\n";

const char* const help =
    "zentaro-snapshot reads the snapshot files that the zentaro agent writes.\n"
    "\n"
    "Commands:\n"
    "  check FILE   verify the file (magic, format, section table, every checksum and the whole\n"
    "               structure) and print a summary\n"
    "  tree FILE    print each thread with its lifetime, state changes and call tree; every node\n"
    "               shows its method, line and times (runnable time includes the node's callees,\n"
    "               blocked, waiting and network I/O time are the node's own)\n"
    "      --thread NAME  only threads of that name\n"
    "      --depth N      only N levels below each thread\n"
    "      --no-lines     without line numbers\n"
    "\n"
    "A damaged file is refused with the offset where the damage was found.\n"
    "Exit codes: 0 success, 1 unreadable or damaged file, 2 wrong usage.\n";

int usageError(const std::string& problem) {
    std::cerr << "zentaro-snapshot: " << problem << "\n" << usage;
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usageError("a command is missing");
    std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << usage << "\n" << help;
        return 0;
    }
    if (command != "check" && command != "tree") return usageError("unknown command \"" + command + "\"");

    std::string path;
    snapshot::TreeOptions options;
    for (int i = 2; i < argc; i++) {
        std::string argument = argv[i];
        if (argument == "-h" || argument == "--help") {
            std::cout << usage << "\n" << help;
            return 0;
        } else if (command == "tree" && argument == "--thread" && i + 1 < argc) {
            options.thread = argv[++i];
        } else if (command == "tree" && argument == "--depth" && i + 1 < argc) {
            char* end = nullptr;
            long depth = strtol(argv[++i], &end, 10);
            if (*end != 0 || depth < 0) return usageError("--depth needs a number of levels");
            options.maxDepth = static_cast<int>(depth);
        } else if (command == "tree" && argument == "--no-lines") {
            options.lines = false;
        } else if (!argument.empty() && argument[0] == '-') {
            return usageError("unknown option \"" + argument + "\"");
        } else if (path.empty()) {
            path = argument;
        } else {
            return usageError("only one file, please");
        }
    }
    if (path.empty()) return usageError("the snapshot file is missing");

    try {
        snapshot::Snapshot file = snapshot::readSnapshotFile(path);
        if (command == "check")
            snapshot::printSummary(std::cout, path, file);
        else
            snapshot::printTree(std::cout, file, options);
        return 0;
    } catch (const snapshot::SnapshotError& error) {
        std::cerr << "zentaro-snapshot: " << path << " is damaged at offset " << error.offset << ": " << error.what()
                  << "\n";
    } catch (const std::exception& error) {
        std::cerr << "zentaro-snapshot: " << error.what() << "\n";
    }
    return 1;
}
