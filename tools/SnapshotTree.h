// Text views of a snapshot: a summary and the threads with their call trees.
#pragma once

#include "Snapshot.h"

#include <ostream>
#include <string>

namespace snapshot {

struct TreeOptions {
    std::string thread; // only threads of this name; empty for all
    int maxDepth = -1;  // -1: the whole tree
    bool lines = true;  // show line numbers
};

void printSummary(std::ostream& out, const std::string& path, const Snapshot& snapshot);
void printTree(std::ostream& out, const Snapshot& snapshot, const TreeOptions& options);

// "12.5 ms" from microseconds.
std::string milliseconds(int64_t micros);
// "runnable", "blocked", "waiting", "network I/O" for the state codes.
const char* stateName(uint8_t state);

// "com.example.Foo.bar(I)V", or "<unknown method>" for an identifier the file does not list.
std::string methodLabel(const Snapshot& snapshot, uint64_t methodId);

} // namespace snapshot
