// zentaro-snapshot: checks and prints the agent's snapshot files.
#include "FlameGraph.h"
#include "Snapshot.h"
#include "SnapshotTree.h"
#include "SnapshotViews.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

namespace {

const char* const usage = "usage: zentaro-snapshot check FILE\n"
                          "       zentaro-snapshot tree FILE [--thread NAME] [--depth N] [--no-lines]\n"
                          "       zentaro-snapshot top FILE [--state STATE] [--limit N]\n"
                          "       zentaro-snapshot threads FILE\n"
                          "       zentaro-snapshot collapsed FILE [--state STATE]\n"
                          "       zentaro-snapshot flamegraph FILE -o OUT.html\n";

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
    "  top FILE     the hottest methods by self time, with their total time (callees included)\n"
    "      --state STATE  runnable (default), blocked, waiting, netio or all\n"
    "      --limit N      at most N methods (default 20)\n"
    "  threads FILE each thread with its lifetime, its time in each state and its state changes\n"
    "  collapsed FILE\n"
    "               folded stacks for flame graph tools: one line per stack, \"thread;frame;...\"\n"
    "               and its own time in microseconds\n"
    "      --state STATE  as for top (default runnable)\n"
    "  flamegraph FILE -o OUT.html\n"
    "               a flame graph in one self-contained HTML file: click to zoom, search, frames\n"
    "               coloured by the state they spent most time in, times in each frame's tooltip\n"
    "\n"
    "A damaged file is refused with the offset where the damage was found.\n"
    "Exit codes: 0 success, 1 unreadable or damaged file, 2 wrong usage.\n";

int usageError(const std::string& problem) {
    std::cerr << "zentaro-snapshot: " << problem << "\n" << usage;
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usageError("a command is missing");
    std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << usage << "\n" << help;
        return 0;
    }
    const char* const commands[] = {"check", "tree", "top", "threads", "collapsed", "flamegraph"};
    if (std::find(std::begin(commands), std::end(commands), command) == std::end(commands))
        return usageError("unknown command \"" + command + "\"");

    std::string path, htmlPath;
    snapshot::TreeOptions options;
    snapshot::TimeKind kind = snapshot::TimeKind::runnable;
    long limit = 20;
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
            if (*end != 0 || depth < 0)
                return usageError("--depth needs a number of levels");
            options.maxDepth = static_cast<int>(depth);
        } else if (command == "tree" && argument == "--no-lines") {
            options.lines = false;
        } else if ((command == "top" || command == "collapsed") && argument == "--state" && i + 1 < argc) {
            if (!snapshot::parseTimeKind(argv[++i], kind))
                return usageError("--state needs runnable, blocked, waiting, netio or all");
        } else if (command == "top" && argument == "--limit" && i + 1 < argc) {
            char* end = nullptr;
            limit = strtol(argv[++i], &end, 10);
            if (*end != 0 || limit <= 0)
                return usageError("--limit needs a number of methods");
        } else if (command == "flamegraph" && argument == "-o" && i + 1 < argc) {
            htmlPath = argv[++i];
        } else if (!argument.empty() && argument[0] == '-') {
            return usageError("unknown option \"" + argument + "\"");
        } else if (path.empty()) {
            path = argument;
        } else {
            return usageError("only one file, please");
        }
    }
    if (path.empty())
        return usageError("the snapshot file is missing");
    if (command == "flamegraph" && htmlPath.empty())
        return usageError("flamegraph needs -o OUT.html");

    try {
        snapshot::Snapshot file = snapshot::readSnapshotFile(path);
        if (command == "check") {
            snapshot::printSummary(std::cout, path, file);
        } else if (command == "tree") {
            snapshot::printTree(std::cout, file, options);
        } else if (command == "top") {
            snapshot::printTop(std::cout, file, kind, static_cast<size_t>(limit));
        } else if (command == "threads") {
            snapshot::printThreads(std::cout, file);
        } else if (command == "collapsed") {
            snapshot::printCollapsed(std::cout, file, kind);
        } else {
            std::ofstream html(htmlPath, std::ios::binary);
            if (html)
                snapshot::writeFlameGraph(html, file, path);
            if (!html.flush()) {
                std::cerr << "zentaro-snapshot: cannot write " << htmlPath << "\n";
                return 1;
            }
            std::cout << "Wrote " << htmlPath << "\n";
        }
        return 0;
    } catch (const snapshot::SnapshotError& error) {
        std::cerr << "zentaro-snapshot: " << path << " is damaged at offset " << error.offset << ": "
                  << error.what() << "\n";
    } catch (const std::exception& error) {
        std::cerr << "zentaro-snapshot: " << error.what() << "\n";
    }
    return 1;
}
