#include "SnapshotTree.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

namespace snapshot {

namespace {

size_t countNodes(const CallTreeNode& node) {
    size_t count = 1;
    for (const CallTreeNode& child : node.children)
        count += countNodes(child);
    return count;
}

void printNode(std::ostream& out, const Snapshot& snapshot, const CallTreeNode& node, int depth,
               const TreeOptions& options) {
    // Iterative, like the reader: trees can be as deep as the sampled stacks.
    struct Pending {
        const CallTreeNode* node;
        int depth;
    };
    std::vector<Pending> stack{{&node, depth}};
    while (!stack.empty()) {
        Pending current = stack.back();
        stack.pop_back();
        const CallTreeNode& n = *current.node;
        // Indentation stops growing at some point; deeper levels say their depth instead.
        const int maxIndent = 64;
        out << std::string(static_cast<size_t>(std::min(current.depth, maxIndent)) * 2, ' ');
        if (current.depth > maxIndent)
            out << "[" << current.depth << "] ";
        out << methodLabel(snapshot, n.methodId);
        if (options.lines && n.line != 0)
            out << ":" << n.line;
        out << "  runnable " << milliseconds(n.runnableTime);
        if (n.hasStateTimes) {
            if (n.blockedTime != 0)
                out << ", blocked " << milliseconds(n.blockedTime);
            if (n.waitingTime != 0)
                out << ", waiting " << milliseconds(n.waitingTime);
            if (n.networkIoTime != 0)
                out << ", network I/O " << milliseconds(n.networkIoTime);
        }
        out << "\n";
        if (options.maxDepth >= 0 && current.depth - depth >= options.maxDepth)
            continue;
        for (auto child = n.children.rbegin(); child != n.children.rend(); ++child)
            stack.push_back({&*child, current.depth + 1});
    }
}

} // namespace

std::string milliseconds(int64_t micros) {
    char text[32];
    snprintf(text, sizeof text, "%.1f ms", static_cast<double>(micros) / 1000.0);
    return text;
}

const char* stateName(uint8_t state) {
    switch (state) {
    case runnable:
        return "runnable";
    case blocked:
        return "blocked";
    case waiting:
        return "waiting";
    case networkIo:
        return "network I/O";
    default:
        return "unknown";
    }
}

std::string methodLabel(const Snapshot& snapshot, uint64_t methodId) {
    const MethodEntry* method = snapshot.method(methodId);
    if (method == nullptr)
        return "<unknown method>";
    const ClassEntry* owner = snapshot.classOf(*method);
    return (owner != nullptr ? owner->name + "." : std::string()) + method->name + method->signature;
}

void printSummary(std::ostream& out, const std::string& path, const Snapshot& snapshot) {
    size_t nodes = 0;
    for (const ThreadEntry& thread : snapshot.threads)
        nodes += countNodes(thread.root) - 1;
    out << path << ": valid snapshot, format " << formatVersion << "\n"
        << "  VM: " << snapshot.vmName << ", Java " << snapshot.javaVersion << "\n"
        << "  " << snapshot.classes.size() << " classes, " << snapshot.methods.size() << " methods, "
        << snapshot.filters.size() << " filters" << (snapshot.invertFilters ? " (inverted)" : "") << "\n"
        << "  " << snapshot.threads.size() << " threads, " << nodes << " call tree nodes\n"
        << "  sections 0 and 1: " << snapshot.sections[0].length << " and " << snapshot.sections[1].length
        << " bytes, checksums valid\n";
}

void printTree(std::ostream& out, const Snapshot& snapshot, const TreeOptions& options) {
    for (const ThreadEntry& thread : snapshot.threads) {
        if (!options.thread.empty() && thread.name != options.thread)
            continue;
        out << "Thread \"" << thread.name << "\"";
        if (!thread.group.empty())
            out << " in group \"" << thread.group << "\"";
        out << ", from " << milliseconds(thread.start - snapshot.recordingStart);
        if (thread.end == notEnded)
            out << ", alive";
        else
            out << " to " << milliseconds(thread.end - snapshot.recordingStart);
        if (thread.excluded)
            out << ", excluded from sampling";
        out << "\n";
        for (const StateChange& change : thread.stateChanges)
            out << "  at " << milliseconds(change.time - snapshot.recordingStart) << ": "
                << stateName(change.state) << "\n";
        for (const CallTreeNode& child : thread.root.children)
            printNode(out, snapshot, child, 1, options);
    }
}

} // namespace snapshot
