// The snapshot reader against files built here byte by byte, independently of the agent's writer.
#include "Snapshot.h"
#include "SnapshotTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using snapshot::SnapshotError;

// Appends the snapshot primitives: big-endian integers, u16-prefixed strings, little-endian ids.
struct Bytes {
    std::vector<uint8_t> data;
    void u8(uint8_t v) { data.push_back(v); }
    void u16(uint16_t v) { be(v, 2); }
    void i32(int64_t v) { be(static_cast<uint64_t>(v), 4); }
    void i64(int64_t v) { be(static_cast<uint64_t>(v), 8); }
    void id(uint64_t v) {
        for (int i = 0; i < 8; i++) data.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void str(const std::string& s) {
        u16(static_cast<uint16_t>(s.size()));
        data.insert(data.end(), s.begin(), s.end());
    }
    void be(uint64_t v, int n) {
        for (int i = n - 1; i >= 0; i--) data.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void append(const Bytes& other) { data.insert(data.end(), other.data.begin(), other.data.end()); }
};

struct Node {
    uint64_t method;
    uint16_t line;
    int64_t runnable;
    bool stateTimes;
    int64_t blocked, waiting, netio;
    std::vector<Node> children;
};

void writeNode(Bytes& out, const Node& node) {
    out.u8(1);
    for (const Node& child : node.children) writeNode(out, child);
    out.u8(0);
    out.id(node.method);
    out.u16(node.line);
    out.i64(node.runnable);
    out.u8(node.stateTimes ? 1 : 0);
    if (node.stateTimes) {
        out.i64(node.blocked);
        out.i64(node.waiting);
        out.i64(node.netio);
    }
}

const int64_t start = 1000000;

Bytes classSection(uint64_t extraMethodClass = 0x30) {
    Bytes body;
    body.u8(1), body.id(0x10), body.str("com.zentaro.agent.Unknown"), body.i32(0);
    body.u8(1), body.id(0x20), body.str("_kalvimeter_annotation_class"), body.i32(50);
    body.u8(1), body.id(0x30), body.str("com.example.Work"), body.i32(0);
    body.u8(0);
    body.u8(1), body.id(0x100), body.id(0x10), body.str("unknown"), body.str("()V"), body.i32(0);
    body.u8(1), body.id(0x200), body.id(0x30), body.str("run"), body.str("()V"), body.i32(0);
    body.u8(1), body.id(0x300), body.id(extraMethodClass), body.str("spin"), body.str("(I)J"), body.i32(0);
    body.u8(0);
    body.i32(2), body.str("-com.example.internal."), body.str("com.example.*");
    body.u8(1);
    return body;
}

Node sampleTree() {
    Node spin{0x300, 42, 7000, true, 0, 1500, 0, {}};
    Node run{0x200, 17, 9000, true, 2500, 0, 0, {spin}};
    return Node{0, 0, 9000, false, 0, 0, 0, {run}};
}

Bytes threadSection(const Node& tree = sampleTree()) {
    Bytes body;
    body.u8(1);
    body.id(0xA0), body.id(0xA0), body.str("worker-1"), body.str("main");
    body.i64(start), body.i64(snapshot::notEnded);
    body.i32(2), body.u8(63), body.i64(start), body.u8(65), body.i64(start + 20000);
    writeNode(body, tree);
    body.u8(0);
    body.u8(1);
    body.id(0xB0), body.id(0xB0), body.str("_zentaro sampler"), body.str("");
    body.i64(start + 5000), body.i64(start + 8000);
    body.i32(0);
    writeNode(body, Node{0, 0, 0, false, 0, 0, 0, {}});
    body.u8(1);
    body.u8(0);
    return body;
}

// A whole file with a correct section table; `patch` may damage it afterwards.
std::vector<uint8_t> snapshotFile(const Bytes& classes = classSection(), const Bytes& threads = threadSection()) {
    Bytes file;
    file.i32(0xCAFED00D), file.i32(10001), file.str("OpenJDK 64-Bit Server VM"), file.str("17.0.15");
    file.i64(start), file.i64(start + 1100000), file.i32(8);
    size_t table = file.data.size();
    Bytes body;
    std::vector<std::pair<int64_t, uint32_t>> sections;  // offset, checksum
    int64_t offset = static_cast<int64_t>(table) + 140;
    const Bytes* bodies[] = {&classes, &threads};
    Bytes tableBytes;
    for (int i = 0; i < 7; i++) {
        const Bytes* sectionBody = i < 2 ? bodies[i] : nullptr;
        int64_t length = sectionBody ? static_cast<int64_t>(sectionBody->data.size()) : 0;
        tableBytes.i64(length);
        tableBytes.i64(offset);
        tableBytes.i32(sectionBody ? snapshot::crc32(sectionBody->data.data(), sectionBody->data.size()) : 0);
        body.i32(0xCAFED00D);
        if (sectionBody) body.append(*sectionBody);
        offset += 4 + length;
    }
    file.append(tableBytes);
    file.append(body);
    return file.data;
}

std::string errorOf(const std::vector<uint8_t>& bytes, uint64_t* offset = nullptr) {
    try {
        snapshot::parseSnapshot(bytes);
    } catch (const SnapshotError& error) {
        if (offset != nullptr) *offset = error.offset;
        return error.what();
    }
    return "";
}

TEST(SnapshotReader, ReadsEveryField) {
    snapshot::Snapshot s = snapshot::parseSnapshot(snapshotFile());
    EXPECT_EQ(s.vmName, "OpenJDK 64-Bit Server VM");
    EXPECT_EQ(s.javaVersion, "17.0.15");
    EXPECT_EQ(s.recordingStart, start);
    ASSERT_EQ(s.classes.size(), 3u);
    EXPECT_EQ(s.classes[1].kind, 50);
    ASSERT_EQ(s.methods.size(), 3u);
    EXPECT_EQ(s.methods[2].signature, "(I)J");
    EXPECT_EQ(s.filters, (std::vector<std::string>{"-com.example.internal.", "com.example.*"}));
    EXPECT_TRUE(s.invertFilters);
    ASSERT_EQ(s.threads.size(), 2u);
    const snapshot::ThreadEntry& worker = s.threads[0];
    EXPECT_EQ(worker.name, "worker-1");
    EXPECT_EQ(worker.end, snapshot::notEnded);
    ASSERT_EQ(worker.stateChanges.size(), 2u);
    EXPECT_EQ(worker.stateChanges[1].state, snapshot::waiting);
    ASSERT_EQ(worker.root.children.size(), 1u);
    const snapshot::CallTreeNode& spin = worker.root.children[0].children.at(0);
    EXPECT_EQ(spin.line, 42);
    EXPECT_EQ(spin.waitingTime, 1500);
    EXPECT_TRUE(s.threads[1].excluded);
    EXPECT_EQ(s.sections[0].offset, 32 + 24 + 7 + 140) << "section 0 follows the table directly";
}

TEST(SnapshotReader, PrintsTheTreeWithMethodsLinesAndTimes) {
    std::ostringstream out;
    snapshot::printTree(out, snapshot::parseSnapshot(snapshotFile()), {});
    EXPECT_EQ(out.str(),
              "Thread \"worker-1\" in group \"main\", from 0.0 ms, alive\n"
              "  at 0.0 ms: runnable\n"
              "  at 20.0 ms: waiting\n"
              "  com.example.Work.run()V:17  runnable 9.0 ms, blocked 2.5 ms\n"
              "    com.example.Work.spin(I)J:42  runnable 7.0 ms, waiting 1.5 ms\n"
              "Thread \"_zentaro sampler\", from 5.0 ms to 8.0 ms, excluded from sampling\n");
    std::ostringstream shallow;
    snapshot::printTree(shallow, snapshot::parseSnapshot(snapshotFile()), {"worker-1", 0, false});
    EXPECT_EQ(shallow.str().find("spin"), std::string::npos);
    EXPECT_NE(shallow.str().find("com.example.Work.run()V  runnable"), std::string::npos);
}

TEST(SnapshotReader, RefusesDamageNamingTheOffset) {
    std::vector<uint8_t> good = snapshotFile();
    const size_t table = 32 + 24 + 7;
    const size_t body0 = table + 140 + 4;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* message;
        uint64_t offset;
    };
    auto patched = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> copy = good;
        copy[at] = value;
        return copy;
    };
    std::vector<uint8_t> zeroedTable = good;
    ASSERT_GT(zeroedTable.size(), table + 140);
    for (size_t i = table; i < table + 140; i++) zeroedTable[i] = 0;
    std::vector<uint8_t> trailing = good;
    trailing.push_back(0);
    const Case cases[] = {
        {"wrong magic", patched(0, 0xCB), "not a snapshot file", 0},
        {"other version", patched(7, 0x12), "unsupported format version", 4},
        {"identifier width", patched(table - 1, 4), "identifier width 4", table - 4},
        {"zeroed table", zeroedTable, "section table is empty", table},
        {"body byte changed", patched(body0 + 12, 'X'), "section 0 checksum mismatch", body0},
        {"section offset moved", patched(table + 15, good[table + 15] + 1), "section 0 should begin at", table},
        {"trailing bytes", trailing, "1 bytes follow the last section", good.size()},
    };
    for (const Case& c : cases) {
        uint64_t offset = 0;
        std::string message = errorOf(c.bytes, &offset);
        EXPECT_NE(message.find(c.message), std::string::npos) << c.name << ": " << message;
        EXPECT_EQ(offset, c.offset) << c.name;
    }
}

TEST(SnapshotReader, EveryTruncationIsRefusedNeverACrash) {
    std::vector<uint8_t> good = snapshotFile();
    for (size_t length = 0; length < good.size(); length++) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(length));
        EXPECT_NE(errorOf(cut), "") << "truncated to " << length;
    }
}

TEST(SnapshotReader, ChecksStructureInsideValidChecksums) {
    Node unknownMethod = sampleTree();
    unknownMethod.children[0].method = 0x999;
    EXPECT_NE(errorOf(snapshotFile(classSection(), threadSection(unknownMethod))).find("refers to a method"),
              std::string::npos);
    EXPECT_NE(errorOf(snapshotFile(classSection(0x77))).find("refers to a class"), std::string::npos);
    Bytes extra = classSection();
    extra.u8(9);
    EXPECT_NE(errorOf(snapshotFile(extra)).find("bytes after its end"), std::string::npos);
}

TEST(SnapshotReader, DeepTreesNeedNoDeepStack) {
    const int depth = 200000;
    Bytes threads;
    threads.u8(1), threads.id(0xA0), threads.id(0xA0), threads.str("deep"), threads.str(""), threads.i64(start),
        threads.i64(-1), threads.i32(0);
    for (int i = 0; i <= depth; i++) threads.u8(1);
    for (int i = depth; i >= 0; i--) {
        threads.u8(0), threads.id(i == 0 ? 0 : 0x200), threads.u16(0), threads.i64(depth - i), threads.u8(0);
    }
    threads.u8(0), threads.u8(0);
    snapshot::Snapshot s = snapshot::parseSnapshot(snapshotFile(classSection(), threads));
    const snapshot::CallTreeNode* node = &s.threads.at(0).root;
    int levels = 0;
    while (!node->children.empty()) node = &node->children[0], levels++;
    EXPECT_EQ(levels, depth);
    std::ostringstream out;
    snapshot::printTree(out, s, {});
    std::string printed = out.str();
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), depth + 1);
}

// The command line, run as a process.
std::string run(const std::string& arguments, int* status) {
    std::string command = std::string(ZENTARO_SNAPSHOT) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[4096];
    while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
    int code = pclose(pipe);
    *status = WIFEXITED(code) ? WEXITSTATUS(code) : -1;
    return output;
}

TEST(ZentaroSnapshotCommand, ChecksPrintsAndRefuses) {
    std::string good = testing::TempDir() + "good.zsnap";
    std::string bad = testing::TempDir() + "bad.zsnap";
    std::vector<uint8_t> bytes = snapshotFile();
    std::ofstream(good, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    bytes[bytes.size() - 30] ^= 0xFF;
    std::ofstream(bad, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());

    int status = 0;
    std::string output = run("check " + good, &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("3 classes, 3 methods, 2 filters (inverted)"), std::string::npos) << output;
    EXPECT_NE(output.find("2 threads, 2 call tree nodes"), std::string::npos) << output;

    output = run("tree " + good + " --thread worker-1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(output.find("com.example.Work.spin(I)J:42"), std::string::npos) << output;
    EXPECT_EQ(output.find("_zentaro sampler"), std::string::npos);

    output = run("check " + bad, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(output.find("is damaged at offset"), std::string::npos) << output;
    output = run("check /nonexistent/file", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(output.find("cannot open"), std::string::npos) << output;

    for (const char* usage : {"", "frobnicate x", "check", "tree x --depth -1", "check a b"}) {
        run(usage, &status);
        EXPECT_EQ(status, 2) << usage;
    }
    output = run("--help", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(output.find("runnable time includes the node's callees"), std::string::npos);
}

} // namespace
