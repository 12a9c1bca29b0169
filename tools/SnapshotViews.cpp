#include "SnapshotViews.h"
#include "SnapshotTree.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace snapshot {

namespace {

int64_t childrenRunnable(const CallTreeNode& node) {
    int64_t sum = 0;
    for (const CallTreeNode& child : node.children)
        sum += child.runnableTime;
    return sum;
}

struct MethodTimes {
    int64_t self = 0, total = 0;
};

// Adds each node's self time to its method, and the subtree's time to its total once per path, so
// that recursion does not count twice. Returns the subtree's time.
int64_t addTimes(const CallTreeNode& node, TimeKind kind, std::map<uint64_t, MethodTimes>& times,
                 std::map<uint64_t, int>& onPath) {
    int64_t self = selfTime(node, kind);
    int64_t subtree = self;
    onPath[node.methodId]++;
    for (const CallTreeNode& child : node.children)
        subtree += addTimes(child, kind, times, onPath);
    if (--onPath[node.methodId] == 0)
        times[node.methodId].total += subtree;
    times[node.methodId].self += self;
    return subtree;
}

std::string withoutSemicolons(std::string text) {
    std::replace(text.begin(), text.end(), ';', '_');
    return text;
}

void addStacks(const Snapshot& snapshot, const CallTreeNode& node, const std::string& path, TimeKind kind,
               std::map<std::string, int64_t>& stacks) {
    for (const CallTreeNode& child : node.children) {
        std::string childPath = path + ";" + withoutSemicolons(frameName(snapshot, child.methodId));
        int64_t self = selfTime(child, kind);
        if (self > 0)
            stacks[childPath] += self;
        addStacks(snapshot, child, childPath, kind, stacks);
    }
}

} // namespace

bool parseTimeKind(const std::string& name, TimeKind& kind) {
    static const std::pair<const char*, TimeKind> names[] = {{"runnable", TimeKind::runnable},
                                                             {"blocked", TimeKind::blocked},
                                                             {"waiting", TimeKind::waiting},
                                                             {"netio", TimeKind::networkIo},
                                                             {"all", TimeKind::all}};
    for (const auto& entry : names)
        if (name == entry.first) {
            kind = entry.second;
            return true;
        }
    return false;
}

int64_t selfTime(const CallTreeNode& node, TimeKind kind) {
    int64_t runnableSelf = std::max<int64_t>(0, node.runnableTime - childrenRunnable(node));
    switch (kind) {
    case TimeKind::runnable:
        return runnableSelf;
    case TimeKind::blocked:
        return node.blockedTime;
    case TimeKind::waiting:
        return node.waitingTime;
    case TimeKind::networkIo:
        return node.networkIoTime;
    case TimeKind::all:
        break;
    }
    return runnableSelf + node.blockedTime + node.waitingTime + node.networkIoTime;
}

std::string frameName(const Snapshot& snapshot, uint64_t methodId) {
    const MethodEntry* method = snapshot.method(methodId);
    if (method == nullptr)
        return "<unknown method>";
    const ClassEntry* owner = snapshot.classOf(*method);
    return (owner != nullptr ? owner->name + "." : std::string()) + method->name;
}

void printTop(std::ostream& out, const Snapshot& snapshot, TimeKind kind, size_t limit) {
    std::map<uint64_t, MethodTimes> times;
    std::map<uint64_t, int> onPath;
    for (const ThreadEntry& thread : snapshot.threads)
        for (const CallTreeNode& child : thread.root.children)
            addTimes(child, kind, times, onPath);
    std::vector<std::pair<uint64_t, MethodTimes>> ranked(times.begin(), times.end());
    ranked.erase(
        std::remove_if(ranked.begin(), ranked.end(), [](const auto& m) { return m.second.total == 0; }),
        ranked.end());
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        return a.second.self != b.second.self ? a.second.self > b.second.self
                                              : a.second.total > b.second.total;
    });
    char line[64];
    snprintf(line, sizeof line, "%12s %12s  %s\n", "self", "total", "method");
    out << line;
    for (size_t i = 0; i < ranked.size() && i < limit; i++) {
        snprintf(line, sizeof line, "%12s %12s  ", milliseconds(ranked[i].second.self).c_str(),
                 milliseconds(ranked[i].second.total).c_str());
        out << line << methodLabel(snapshot, ranked[i].first) << "\n";
    }
}

void printThreads(std::ostream& out, const Snapshot& snapshot) {
    for (const ThreadEntry& thread : snapshot.threads) {
        int64_t totals[4] = {thread.root.runnableTime, 0, 0, 0};
        std::vector<const CallTreeNode*> pending{&thread.root};
        while (!pending.empty()) {
            const CallTreeNode* node = pending.back();
            pending.pop_back();
            totals[1] += node->blockedTime, totals[2] += node->waitingTime, totals[3] += node->networkIoTime;
            for (const CallTreeNode& child : node->children)
                pending.push_back(&child);
        }
        out << "\"" << thread.name << "\"";
        if (!thread.group.empty())
            out << " in group \"" << thread.group << "\"";
        out << ": " << milliseconds(thread.start - snapshot.recordingStart) << " to "
            << (thread.end == notEnded ? std::string("the end (alive)")
                                       : milliseconds(thread.end - snapshot.recordingStart));
        if (thread.excluded)
            out << ", excluded from sampling";
        out << "\n  runnable " << milliseconds(totals[0]) << ", blocked " << milliseconds(totals[1])
            << ", waiting " << milliseconds(totals[2]) << ", network I/O " << milliseconds(totals[3]) << "\n";
        if (!thread.stateChanges.empty()) {
            out << "  states:";
            for (const StateChange& change : thread.stateChanges)
                out << " " << stateName(change.state) << " at "
                    << milliseconds(change.time - snapshot.recordingStart) << ";";
            out << "\n";
        }
    }
}

void printCollapsed(std::ostream& out, const Snapshot& snapshot, TimeKind kind) {
    std::map<std::string, int64_t> stacks;
    for (const ThreadEntry& thread : snapshot.threads)
        addStacks(snapshot, thread.root, withoutSemicolons(thread.name), kind, stacks);
    for (const auto& stack : stacks)
        out << stack.first << " " << stack.second << "\n";
}

} // namespace snapshot
