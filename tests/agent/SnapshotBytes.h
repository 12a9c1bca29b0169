// A strict reader of snapshot files for the agent's tests, in both trees (the host tools do not
// build for Windows). It checks the layout byte by byte and every checksum with its own CRC, and
// renders call trees as text so that a test states the whole tree it expects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace snapshotbytes {

struct Section {
    int64_t length, offset;
    uint32_t checksum;
};

struct Node {
    uint64_t method;
    int16_t line;
    int64_t runnable;
    bool hasStateTimes;
    int64_t blocked, waiting, netio;
    std::vector<Node> children; // in file order: newest first
};

struct Thread {
    uint64_t id, owner;
    std::string name, group;
    int64_t start, end;
    std::vector<std::pair<uint8_t, int64_t>> states;
    Node root;
    bool excluded;
};

struct Method {
    uint64_t id, classId;
    std::string name, signature;
};

struct File {
    std::string vmName, javaVersion;
    int64_t recordingStart, writeTime;
    int64_t tableOffset;
    Section sections[7];
    std::vector<std::pair<uint64_t, std::string>> classes; // id, name
    std::vector<int32_t> classKinds;
    std::vector<Method> methods;
    std::vector<std::string> filters;
    bool invert;
    std::vector<Thread> threads;
    std::vector<uint8_t> bytes; // the whole file

    const Thread* thread(const std::string& name) const;
    // "Class.method" with the class name's last part; the full class name.
    std::string methodName(uint64_t id) const;
    std::string className(uint64_t methodId) const;
    // "Class.method@line r=runnable b=blocked w=waiting n=netio", children indented by two.
    std::string tree(const Node& root) const;
};

// Parses and verifies; on any fault returns false and says why and where in error.
bool parse(const std::vector<uint8_t>& bytes, File& file, std::string& error);
bool readFile(const std::string& path, File& file, std::string& error);

uint32_t referenceCrc32(const uint8_t* data, size_t size);

} // namespace snapshotbytes
