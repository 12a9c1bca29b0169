#include "Snapshot.h"

#include <fstream>
#include <iterator>
#include <unordered_map>
#include <unordered_set>

namespace snapshot {

namespace {

// Reads big-endian fields from a byte range; every read checks the range first.
class Cursor {
  public:
    Cursor(const std::vector<uint8_t>& bytes, size_t begin, size_t end) : bytes(bytes), at(begin), end(end) {}

    size_t position() const { return at; }
    bool atEnd() const { return at == end; }

    uint8_t u8(const char* what) { return static_cast<uint8_t>(take(1, what)); }
    uint16_t u16(const char* what) { return static_cast<uint16_t>(take(2, what)); }
    int32_t i32(const char* what) { return static_cast<int32_t>(static_cast<uint32_t>(take(4, what))); }
    int64_t i64(const char* what) { return static_cast<int64_t>(take(8, what)); }
    // Identifiers are the agent's pointers in its own (little-endian) byte order; opaque keys here.
    uint64_t id(const char* what) {
        need(8, what);
        uint64_t value = 0;
        for (int i = 7; i >= 0; i--) value = (value << 8) | bytes[at + static_cast<size_t>(i)];
        at += 8;
        return value;
    }
    std::string str(const char* what) {
        size_t length = u16(what);
        need(length, what);
        std::string text(reinterpret_cast<const char*>(&bytes[at]), length);
        at += length;
        return text;
    }
    [[noreturn]] void fail(const std::string& problem) const { throw SnapshotError(at, problem); }

  private:
    void need(size_t count, const char* what) const {
        if (end - at < count) fail(std::string("the file ends inside ") + what);
    }
    uint64_t take(size_t count, const char* what) {
        need(count, what);
        uint64_t value = 0;
        for (size_t i = 0; i < count; i++) value = (value << 8) | bytes[at + i];
        at += count;
        return value;
    }

    const std::vector<uint8_t>& bytes;
    size_t at, end;
};

void expectMarker(Cursor& in, uint8_t expected, const char* where) {
    size_t at = in.position();
    uint8_t marker = in.u8(where);
    if (marker != expected)
        throw SnapshotError(at, std::string("expected ") + std::to_string(expected) + " in " + where + ", found " +
                                    std::to_string(marker));
}

// Call trees are read without recursion: a damaged file must not be able to exhaust the stack.
CallTreeNode readCallTree(Cursor& in, const std::unordered_set<uint64_t>& methodIds) {
    CallTreeNode root;
    std::vector<CallTreeNode*> open;
    expectMarker(in, 1, "a call tree node");
    open.push_back(&root);
    while (!open.empty()) {
        CallTreeNode* node = open.back();
        size_t at = in.position();
        uint8_t next = in.u8("a call tree node");
        if (next == 1) {
            node->children.emplace_back();
            open.push_back(&node->children.back());
            continue;
        }
        if (next != 0) throw SnapshotError(at, "expected 0 or 1 between call tree nodes, found " + std::to_string(next));
        size_t fieldsAt = in.position();
        node->methodId = in.id("a call tree node's method");
        node->line = in.u16("a call tree node's line");
        node->runnableTime = in.i64("a call tree node's runnable time");
        uint8_t hasStateTimes = in.u8("a call tree node's state times");
        if (hasStateTimes > 1) throw SnapshotError(in.position() - 1, "state-times flag is neither 0 nor 1");
        if (hasStateTimes == 1) {
            node->hasStateTimes = true;
            node->blockedTime = in.i64("a call tree node's blocked time");
            node->waitingTime = in.i64("a call tree node's waiting time");
            node->networkIoTime = in.i64("a call tree node's network I/O time");
        }
        bool isRoot = open.size() == 1;
        if (isRoot && node->methodId != 0) throw SnapshotError(fieldsAt, "a thread's root node names a method");
        if (!isRoot && methodIds.count(node->methodId) == 0)
            throw SnapshotError(fieldsAt, "call tree node refers to a method the class section does not list");
        open.pop_back();
    }
    return root;
}

void readClassSection(Cursor& in, Snapshot& result) {
    std::unordered_set<uint64_t> classIds;
    while (true) {
        size_t at = in.position();
        uint8_t marker = in.u8("the class list");
        if (marker == 0) break;
        if (marker != 1) throw SnapshotError(at, "expected 0 or 1 in the class list, found " + std::to_string(marker));
        ClassEntry entry;
        entry.id = in.id("a class entry");
        entry.name = in.str("a class name");
        entry.kind = in.i32("a class kind");
        if (!classIds.insert(entry.id).second) throw SnapshotError(at, "class identifier listed twice");
        result.classes.push_back(std::move(entry));
    }
    std::unordered_set<uint64_t> methodIds;
    while (true) {
        size_t at = in.position();
        uint8_t marker = in.u8("the method list");
        if (marker == 0) break;
        if (marker != 1) throw SnapshotError(at, "expected 0 or 1 in the method list, found " + std::to_string(marker));
        MethodEntry entry;
        entry.id = in.id("a method entry");
        entry.classId = in.id("a method's class");
        entry.name = in.str("a method name");
        entry.signature = in.str("a method signature");
        in.i32("a method entry");
        if (classIds.count(entry.classId) == 0) throw SnapshotError(at, "method refers to a class the list lacks");
        if (!methodIds.insert(entry.id).second) throw SnapshotError(at, "method identifier listed twice");
        result.methods.push_back(std::move(entry));
    }
    size_t at = in.position();
    int32_t filterCount = in.i32("the filter count");
    if (filterCount < 0) throw SnapshotError(at, "negative filter count");
    for (int32_t i = 0; i < filterCount; i++) result.filters.push_back(in.str("a filter pattern"));
    at = in.position();
    uint8_t invert = in.u8("the filter invert flag");
    if (invert > 1) throw SnapshotError(at, "filter invert flag is neither 0 nor 1");
    result.invertFilters = invert == 1;
}

void readThreadSection(Cursor& in, Snapshot& result) {
    std::unordered_set<uint64_t> methodIds;
    for (const MethodEntry& method : result.methods) methodIds.insert(method.id);
    while (true) {
        size_t at = in.position();
        uint8_t marker = in.u8("the thread list");
        if (marker == 0) break;
        if (marker != 1) throw SnapshotError(at, "expected 0 or 1 in the thread list, found " + std::to_string(marker));
        ThreadEntry thread;
        thread.id = in.id("a thread entry");
        thread.owner = in.id("a thread's history owner");
        thread.name = in.str("a thread name");
        thread.group = in.str("a thread group");
        thread.start = in.i64("a thread's start time");
        thread.end = in.i64("a thread's end time");
        size_t countAt = in.position();
        int32_t changes = in.i32("a thread's state change count");
        if (changes < 0) throw SnapshotError(countAt, "negative state change count");
        for (int32_t i = 0; i < changes; i++) {
            size_t changeAt = in.position();
            StateChange change{in.u8("a state change"), in.i64("a state change time")};
            if (change.state < runnable || change.state > networkIo)
                throw SnapshotError(changeAt, "unknown thread state " + std::to_string(change.state));
            thread.stateChanges.push_back(change);
        }
        thread.root = readCallTree(in, methodIds);
        size_t excludedAt = in.position();
        uint8_t excluded = in.u8("a thread's excluded flag");
        if (excluded > 1) throw SnapshotError(excludedAt, "excluded flag is neither 0 nor 1");
        thread.excluded = excluded == 1;
        result.threads.push_back(std::move(thread));
    }
}

void expectSectionMagic(const std::vector<uint8_t>& bytes, const Section& section, int index) {
    Cursor in(bytes, static_cast<size_t>(section.offset), bytes.size());
    if (in.i32("a section magic") != fileMagic)
        throw SnapshotError(static_cast<uint64_t>(section.offset),
                            "section " + std::to_string(index) + " does not begin with the magic");
}

} // namespace

CallTreeNode::~CallTreeNode() {
    std::vector<CallTreeNode> pending = std::move(children);
    while (!pending.empty()) {
        CallTreeNode node = std::move(pending.back());
        pending.pop_back();
        for (CallTreeNode& child : node.children) pending.push_back(std::move(child));
        node.children.clear();
    }
}

SnapshotError::SnapshotError(uint64_t offset, const std::string& problem)
    : std::runtime_error(problem), offset(offset) {}

uint32_t crc32(const uint8_t* data, size_t size) {
    static uint32_t table[256];
    if (table[1] == 0)
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; i++) crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xFF];
    return ~crc;
}

const MethodEntry* Snapshot::method(uint64_t id) const {
    for (const MethodEntry& entry : methods)
        if (entry.id == id) return &entry;
    return nullptr;
}

const ClassEntry* Snapshot::classOf(const MethodEntry& entry) const {
    for (const ClassEntry& c : classes)
        if (c.id == entry.classId) return &c;
    return nullptr;
}

Snapshot parseSnapshot(const std::vector<uint8_t>& bytes) {
    Snapshot result;
    Cursor header(bytes, 0, bytes.size());
    if (header.i32("the file magic") != fileMagic) throw SnapshotError(0, "not a snapshot file (wrong magic)");
    int32_t version = header.i32("the format version");
    if (version != formatVersion)
        throw SnapshotError(4, "unsupported format version " + std::to_string(version) + " (expected 10001)");
    result.vmName = header.str("the VM name");
    result.javaVersion = header.str("the Java version");
    result.recordingStart = header.i64("the recording start time");
    result.writeTime = header.i64("the write time");
    size_t widthAt = header.position();
    int32_t width = header.i32("the identifier width");
    if (width != 8) throw SnapshotError(widthAt, "identifier width " + std::to_string(width) + ", expected 8");

    size_t tableAt = header.position();
    bool zeroed = true;
    for (Section& section : result.sections) {
        section.length = header.i64("the section table");
        section.offset = header.i64("the section table");
        section.checksum = static_cast<uint32_t>(header.i32("the section table"));
        zeroed = zeroed && section.length == 0 && section.offset == 0 && section.checksum == 0;
    }
    if (zeroed)
        throw SnapshotError(tableAt, "the section table is empty: the agent could not finish this file "
                                     "(disk full or failed seek)");

    // Sections follow the table and each other without gaps, each a magic and its body.
    int64_t expected = static_cast<int64_t>(header.position());
    for (int i = 0; i < sectionCount; i++) {
        const Section& section = result.sections[i];
        size_t entryAt = tableAt + static_cast<size_t>(i) * 20;
        if (section.offset != expected)
            throw SnapshotError(entryAt, "section " + std::to_string(i) + " should begin at offset " +
                                             std::to_string(expected) + ", the table says " + std::to_string(section.offset));
        if (section.length < 0 || section.length > static_cast<int64_t>(bytes.size()) - section.offset - 4)
            throw SnapshotError(entryAt, "section " + std::to_string(i) + " length " + std::to_string(section.length) +
                                             " runs past the end of the file");
        if (i >= 2 && (section.length != 0 || section.checksum != 0))
            throw SnapshotError(entryAt, "section " + std::to_string(i) + " should be empty");
        expectSectionMagic(bytes, section, i);
        uint32_t actual = crc32(bytes.data() + section.offset + 4, static_cast<size_t>(section.length));
        if (i < 2 && actual != section.checksum)
            throw SnapshotError(static_cast<uint64_t>(section.offset + 4),
                                "section " + std::to_string(i) + " checksum mismatch: the table says " +
                                    std::to_string(section.checksum) + ", the body has " + std::to_string(actual));
        expected = section.offset + 4 + section.length;
    }
    if (expected != static_cast<int64_t>(bytes.size()))
        throw SnapshotError(static_cast<uint64_t>(expected),
                            std::to_string(static_cast<int64_t>(bytes.size()) - expected) +
                                " bytes follow the last section");

    auto body = [&](int index) {
        const Section& section = result.sections[index];
        return Cursor(bytes, static_cast<size_t>(section.offset + 4), static_cast<size_t>(section.offset + 4 + section.length));
    };
    Cursor classes = body(0);
    readClassSection(classes, result);
    if (!classes.atEnd()) classes.fail("the class section has bytes after its end");
    Cursor threads = body(1);
    readThreadSection(threads, result);
    if (!threads.atEnd()) threads.fail("the thread section has bytes after its end");
    return result;
}

Snapshot readSnapshotFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw std::runtime_error("cannot read " + path);
    return parseSnapshot(bytes);
}

} // namespace snapshot
