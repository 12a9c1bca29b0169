// The agent's snapshot file: its model and a reader that verifies every checksum and the whole
// structure before anything is shown.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace snapshot {

const int32_t fileMagic = static_cast<int32_t>(0xCAFED00D);
const int32_t formatVersion = 10001;
const int sectionCount = 7;
const int64_t notEnded = -1;

enum ThreadState : uint8_t { runnable = 63, blocked = 64, waiting = 65, networkIo = 66 };

struct Section {
    int64_t length = 0;  // of the body, without its magic
    int64_t offset = 0;  // of its magic
    uint32_t checksum = 0;
};

struct ClassEntry {
    uint64_t id = 0;
    std::string name;
    int32_t kind = 0;  // 50 for the annotation marker class
};

struct MethodEntry {
    uint64_t id = 0;
    uint64_t classId = 0;
    std::string name, signature;
};

struct StateChange {
    uint8_t state = 0;
    int64_t time = 0;
};

// Runnable time is charged to a node and all its ancestors; the other states only to the node.
struct CallTreeNode {
    uint64_t methodId = 0;  // 0 for a thread's root
    uint16_t line = 0;
    int64_t runnableTime = 0;
    bool hasStateTimes = false;
    int64_t blockedTime = 0, waitingTime = 0, networkIoTime = 0;
    std::vector<CallTreeNode> children;

    CallTreeNode() = default;
    CallTreeNode(CallTreeNode&&) noexcept = default;
    CallTreeNode& operator=(CallTreeNode&&) noexcept = default;
    CallTreeNode(const CallTreeNode&) = default;
    CallTreeNode& operator=(const CallTreeNode&) = default;
    // Releases the subtree without recursion: trees are as deep as the sampled stacks.
    ~CallTreeNode();
};

struct ThreadEntry {
    uint64_t id = 0, owner = 0;
    std::string name, group;
    int64_t start = 0, end = notEnded;
    std::vector<StateChange> stateChanges;
    CallTreeNode root;
    bool excluded = false;
};

struct Snapshot {
    std::string vmName, javaVersion;
    int64_t recordingStart = 0, writeTime = 0;
    Section sections[sectionCount];
    std::vector<ClassEntry> classes;
    std::vector<MethodEntry> methods;
    std::vector<std::string> filters;
    bool invertFilters = false;
    std::vector<ThreadEntry> threads;

    const MethodEntry* method(uint64_t id) const;
    const ClassEntry* classOf(const MethodEntry& method) const;
};

// A damaged or foreign file: what is wrong and the file offset where it was found.
class SnapshotError : public std::runtime_error {
  public:
    SnapshotError(uint64_t offset, const std::string& problem);
    uint64_t offset;
};

// Reads and verifies a snapshot held in memory; throws SnapshotError.
Snapshot parseSnapshot(const std::vector<uint8_t>& bytes);
// Reads the file and verifies it; throws SnapshotError, or std::runtime_error when it cannot be read.
Snapshot readSnapshotFile(const std::string& path);

// The standard CRC-32 (reflected polynomial 0xEDB88320), as the agent computes it per section.
uint32_t crc32(const uint8_t* data, size_t size);

} // namespace snapshot
