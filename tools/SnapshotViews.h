// Summaries of a snapshot: the hottest methods, the threads, and folded stacks for flame graph tools.
#pragma once

#include "Snapshot.h"

#include <ostream>
#include <string>

namespace snapshot {

// Which time a view counts: one state, or all four together.
enum class TimeKind { runnable, blocked, waiting, networkIo, all };

// "runnable", "blocked", "waiting", "netio" or "all"; false for anything else.
bool parseTimeKind(const std::string& name, TimeKind& kind);

// A node's own time of that kind: runnable time without its callees' share.
int64_t selfTime(const CallTreeNode& node, TimeKind kind);

void printTop(std::ostream& out, const Snapshot& snapshot, TimeKind kind, size_t limit);
void printThreads(std::ostream& out, const Snapshot& snapshot);
// One line per distinct stack, "thread;frame;...;frame microseconds", frames without signatures.
void printCollapsed(std::ostream& out, const Snapshot& snapshot, TimeKind kind);

// "com.example.Foo.bar": a frame without its signature, whose ';' would split folded stacks.
std::string frameName(const Snapshot& snapshot, uint64_t methodId);

} // namespace snapshot
