#include "SnapshotBytes.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace snapshotbytes {

namespace {

const uint32_t magic = 0xCAFED00Du;

class Cursor {
  public:
    Cursor(const std::vector<uint8_t>& bytes, size_t position, size_t end)
        : bytes(bytes), position(position), end(end) {}

    uint64_t big(int width) {
        need(width);
        uint64_t value = 0;
        for (int i = 0; i < width; i++)
            value = value << 8 | bytes[position++];
        return value;
    }
    uint8_t u8() { return static_cast<uint8_t>(big(1)); }
    int16_t i16() { return static_cast<int16_t>(big(2)); }
    int32_t i32() { return static_cast<int32_t>(big(4)); }
    int64_t i64() { return static_cast<int64_t>(big(8)); }
    uint64_t id() {
        need(8);
        uint64_t value = 0;
        for (int i = 7; i >= 0; i--)
            value = value << 8 | bytes[position + i];
        position += 8;
        return value;
    }
    std::string str() {
        size_t length = static_cast<size_t>(big(2));
        need(length);
        std::string text(bytes.begin() + position, bytes.begin() + position + length);
        position += length;
        return text;
    }
    void expect(bool condition, const std::string& what) {
        if (!condition)
            throw at(what);
    }
    std::string at(const std::string& what) const { return what + " at offset " + std::to_string(position); }

    const std::vector<uint8_t>& bytes;
    size_t position;
    size_t end;

  private:
    void need(size_t count) {
        if (position + count > end)
            throw at("truncated");
    }
};

Node readNode(Cursor& in) {
    in.expect(in.u8() == 1, "node does not start with 1");
    Node node{};
    for (;;) {
        in.expect(in.position < in.end, "truncated tree");
        if (in.bytes[in.position] != 1)
            break;
        node.children.push_back(readNode(in));
    }
    in.expect(in.u8() == 0, "children not ended by 0");
    node.method = in.id();
    node.line = in.i16();
    node.runnable = in.i64();
    uint8_t hasTimes = in.u8();
    in.expect(hasTimes <= 1, "state-times flag is neither 0 nor 1");
    node.hasStateTimes = hasTimes == 1;
    if (node.hasStateTimes) {
        node.blocked = in.i64();
        node.waiting = in.i64();
        node.netio = in.i64();
    }
    return node;
}

void readClassSection(Cursor& in, File& file) {
    while (in.u8() == 1) {
        uint64_t id = in.id();
        file.classes.emplace_back(id, in.str());
        file.classKinds.push_back(in.i32());
    }
    while (in.u8() == 1) {
        Method method;
        method.id = in.id();
        method.classId = in.id();
        method.name = in.str();
        method.signature = in.str();
        in.expect(in.i32() == 0, "method entry does not end with i32 0");
        file.methods.push_back(method);
    }
    int32_t filters = in.i32();
    in.expect(filters >= 0, "negative filter count");
    for (int32_t i = 0; i < filters; i++)
        file.filters.push_back(in.str());
    uint8_t invert = in.u8();
    in.expect(invert <= 1, "invert flag is neither 0 nor 1");
    file.invert = invert == 1;
}

void readThreadSection(Cursor& in, File& file) {
    for (;;) {
        uint8_t more = in.u8();
        in.expect(more <= 1, "thread marker is neither 0 nor 1");
        if (more == 0)
            return;
        Thread thread;
        thread.id = in.id();
        thread.owner = in.id();
        thread.name = in.str();
        thread.group = in.str();
        thread.start = in.i64();
        thread.end = in.i64();
        int32_t changes = in.i32();
        in.expect(changes >= 0, "negative state-change count");
        for (int32_t i = 0; i < changes; i++) {
            uint8_t state = in.u8();
            thread.states.emplace_back(state, in.i64());
        }
        thread.root = readNode(in);
        uint8_t excluded = in.u8();
        in.expect(excluded <= 1, "excluded flag is neither 0 nor 1");
        thread.excluded = excluded == 1;
        file.threads.push_back(thread);
    }
}

} // namespace

uint32_t referenceCrc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; i++) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; bit++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

bool parse(const std::vector<uint8_t>& bytes, File& file, std::string& error) {
    file = File();
    file.bytes = bytes;
    try {
        Cursor in(bytes, 0, bytes.size());
        in.expect(static_cast<uint32_t>(in.i32()) == magic, "bad magic");
        in.expect(in.i32() == 10001, "bad format version");
        file.vmName = in.str();
        file.javaVersion = in.str();
        file.recordingStart = in.i64();
        file.writeTime = in.i64();
        in.expect(in.i32() == 8, "identifier width is not 8");
        file.tableOffset = static_cast<int64_t>(in.position);
        for (Section& section : file.sections) {
            section.length = in.i64();
            section.offset = in.i64();
            section.checksum = static_cast<uint32_t>(in.i32());
        }
        size_t expectedOffset = in.position;
        for (int i = 0; i < 7; i++) {
            const Section& section = file.sections[i];
            std::string name = "section " + std::to_string(i);
            in.expect(section.offset == static_cast<int64_t>(expectedOffset),
                      name + " is not where it follows");
            in.position = expectedOffset;
            in.expect(static_cast<uint32_t>(in.i32()) == magic, name + " has no magic");
            in.expect(section.length >= 0 && in.position + section.length <= bytes.size(),
                      name + " overruns");
            size_t bodyEnd = in.position + static_cast<size_t>(section.length);
            uint32_t crc = i < 2 ? referenceCrc32(bytes.data() + in.position, section.length) : 0;
            in.expect(crc == section.checksum, name + " checksum mismatch");
            Cursor body(bytes, in.position, bodyEnd);
            if (i == 0)
                readClassSection(body, file);
            else if (i == 1)
                readThreadSection(body, file);
            body.expect(body.position == bodyEnd, name + " has bytes after its body");
            expectedOffset = bodyEnd;
        }
        in.expect(expectedOffset == bytes.size(), "bytes after the last section");
    } catch (const std::string& what) {
        error = what;
        return false;
    }
    return true;
}

bool readFile(const std::string& path, File& file, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return parse(bytes, file, error);
}

const Thread* File::thread(const std::string& name) const {
    for (const Thread& thread : threads)
        if (thread.name == name)
            return &thread;
    return nullptr;
}

std::string File::className(uint64_t methodId) const {
    for (const Method& method : methods)
        if (method.id == methodId)
            for (const auto& entry : classes)
                if (entry.first == method.classId)
                    return entry.second;
    return "?";
}

std::string File::methodName(uint64_t id) const {
    if (id == 0)
        return "root";
    for (const Method& method : methods)
        if (method.id == id) {
            std::string name = className(id);
            return name.substr(name.rfind('.') + 1) + "." + method.name;
        }
    return "unlisted";
}

std::string File::tree(const Node& root) const {
    std::ostringstream text;
    struct Walk {
        const File& file;
        std::ostringstream& text;
        void operator()(const Node& node, int depth) {
            text << std::string(2 * depth, ' ') << file.methodName(node.method);
            if (node.method != 0)
                text << "@" << node.line;
            text << " r=" << node.runnable;
            if (node.hasStateTimes)
                text << " b=" << node.blocked << " w=" << node.waiting << " n=" << node.netio;
            text << "\n";
            for (const Node& child : node.children)
                (*this)(child, depth + 1);
        }
    } walk{*this, text};
    walk(root, 0);
    return text.str();
}

} // namespace snapshotbytes
