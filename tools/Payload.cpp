#include "Payload.h"

#include "TextEncoding.h"

#include <cctype>
#include <climits>
#include <cstdio>

namespace {

const unsigned char fileXor = 0x88;
const int64_t entryHeaderSize = 8; // identifier and byte length
const int64_t blockHeaderSize = 8; // prefix length and entry count
const std::streamsize copyChunk = 64 * 1024;

// Header words the launcher reads and ignores; these are the values it ships with.
const uint32_t headerWord1 = 0;
const uint32_t headerWord2 = 1220735356;
const uint64_t headerWord3 = 2431;

void putLittleEndian(std::string& out, uint64_t value, int size) {
    for (int i = 0; i < size; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void putBytes(std::string& out, const std::string& bytes) {
    putLittleEndian(out, bytes.size(), 4);
    out += bytes;
}

void putWide(std::string& out, const std::u16string& text) {
    putLittleEndian(out, text.size() * 2, 4);
    for (char16_t unit : text)
        putLittleEndian(out, unit, 2);
}

void putWideEntries(std::string& out, const std::map<int32_t, std::u16string>& entries) {
    putLittleEndian(out, entries.size(), 4);
    for (const auto& [id, text] : entries) {
        putLittleEndian(out, static_cast<uint32_t>(id), 4);
        putWide(out, text);
    }
}

// The launcher's reading of a number: leading blanks, an optional sign, decimal digits.
int64_t configInt(const std::string& text) {
    size_t pos = 0;
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
        ++pos;
    bool negative = pos < text.size() && text[pos] == '-';
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+'))
        ++pos;
    int64_t value = 0;
    for (; pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) && value <= INT_MAX;
         ++pos)
        value = value * 10 + (text[pos] - '0');
    return negative ? -value : value;
}

// Reads the payload field by field, keeping the offset for messages.
class PayloadReader {
  public:
    PayloadReader(std::istream& in, uint64_t fileSize, uint64_t start)
        : in(in), fileSize(fileSize), pos(start) {
        in.clear();
        in.seekg(static_cast<std::streamoff>(start));
    }

    uint64_t offset() const { return pos; }
    const std::string& error() const { return message; }

    bool failAt(uint64_t at, const std::string& what) {
        message = "damaged payload at offset " + std::to_string(at) + ": " + what;
        return false;
    }

    bool readBytes(const std::string& field, uint64_t size, std::string& bytes) {
        if (size > left())
            return failAt(pos, field + ": the file ends after " + std::to_string(left()) + " of its " +
                                   std::to_string(size) + " bytes");
        bytes.resize(size);
        if (size > 0 && !in.read(&bytes[0], static_cast<std::streamsize>(size)))
            return failAt(pos, field + ": read error");
        pos += size;
        return true;
    }

    bool readNumber(const std::string& field, int size, uint64_t& value) {
        std::string bytes;
        if (!readBytes(field, size, bytes))
            return false;
        value = 0;
        for (int i = size - 1; i >= 0; --i)
            value = (value << 8) | static_cast<unsigned char>(bytes[i]);
        return true;
    }

    bool readInt32(const std::string& field, int32_t& value) {
        uint64_t raw = 0;
        if (!readNumber(field, 4, raw))
            return false;
        value = static_cast<int32_t>(static_cast<uint32_t>(raw));
        return true;
    }

    bool readInt64(const std::string& field, int64_t& value) {
        uint64_t raw = 0;
        if (!readNumber(field, 8, raw))
            return false;
        value = static_cast<int64_t>(raw);
        return true;
    }

    // A count of items that take at least itemSize bytes each.
    bool readCount(const std::string& field, int64_t itemSize, int32_t& count) {
        uint64_t at = pos;
        if (!readInt32(field, count))
            return false;
        if (count < 0)
            return failAt(at, field + " " + std::to_string(count) + " is negative");
        if (static_cast<uint64_t>(count) * itemSize > left())
            return failAt(at, field + " " + std::to_string(count) + " needs at least " +
                                  std::to_string(count * itemSize) + " bytes, but only " +
                                  std::to_string(left()) + " are left in the file");
        return true;
    }

    // A byte length followed by that many bytes.
    bool readText(const std::string& field, bool wide, std::string& bytes) {
        uint64_t at = pos;
        int32_t length = 0;
        if (!readInt32(field + " length", length))
            return false;
        if (length < 0)
            return failAt(at, field + " length " + std::to_string(length) + " is negative");
        if (wide && length % 2 != 0)
            return failAt(at, field + " length " + std::to_string(length) +
                                  " is odd, but UTF-16 text has 2 bytes a unit");
        if (static_cast<uint64_t>(length) > left())
            return failAt(at, field + " length " + std::to_string(length) + " is larger than the " +
                                  std::to_string(left()) + " bytes left in the file");
        return readBytes(field, length, bytes);
    }

    bool readWideEntries(const std::string& field, std::map<int32_t, std::u16string>& entries) {
        int32_t count = 0;
        if (!readCount(field + " count", entryHeaderSize, count))
            return false;
        for (int32_t i = 1; i <= count; ++i) {
            std::string entry = field + " entry " + std::to_string(i);
            int32_t id = 0;
            std::string bytes;
            if (!readInt32(entry + " identifier", id) ||
                !readText(entry + " (id " + std::to_string(id) + ") text", true, bytes))
                return false;
            std::u16string& text = entries[id];
            text.clear();
            for (size_t unit = 0; unit < bytes.size(); unit += 2)
                text += static_cast<char16_t>(static_cast<unsigned char>(bytes[unit]) |
                                              static_cast<unsigned char>(bytes[unit + 1]) << 8);
        }
        return true;
    }

    // Everything from the header words to the last language block.
    bool readConfiguration(Configuration& config) {
        uint64_t ignored = 0;
        int32_t count = 0;
        if (!readNumber("header word 1", 4, ignored) || !readNumber("header word 2", 4, ignored) ||
            !readNumber("header word 3", 8, ignored) || !readCount("narrow count", entryHeaderSize, count))
            return false;
        for (int32_t i = 1; i <= count; ++i) {
            std::string entry = "narrow entry " + std::to_string(i);
            int32_t id = 0;
            std::string text;
            if (!readInt32(entry + " identifier", id) ||
                !readText(entry + " (id " + std::to_string(id) + ") text", false, text))
                return false;
            config.narrow[id] = text;
        }
        if (!readWideEntries("wide", config.wide) ||
            !readCount("language block count", blockHeaderSize, count))
            return false;
        for (int32_t i = 1; i <= count; ++i) {
            std::string field = "language block " + std::to_string(i);
            config.languages.emplace_back();
            if (!readText(field + " prefix", false, config.languages.back().prefix) ||
                !readWideEntries(field, config.languages.back().entries))
                return false;
        }
        return true;
    }

    // Included files are skipped, not read: only their places and sizes are recorded.
    bool locateIncludedFiles(const std::vector<std::string>& names, std::vector<IncludedFileEntry>& files) {
        for (size_t i = 0; i < names.size(); ++i) {
            std::string field =
                "included file " + std::to_string(i + 1) + " (" + cp1252ToUtf8(names[i]) + ") size";
            uint64_t at = pos;
            int64_t size = 0;
            if (!readInt64(field, size))
                return false;
            if (size < 0)
                return failAt(at, field + " " + std::to_string(size) + " is negative");
            if (static_cast<uint64_t>(size) > left())
                return failAt(at, field + " " + std::to_string(size) + " is larger than the " +
                                      std::to_string(left()) + " bytes left in the file");
            files.push_back({names[i], pos, size});
            pos += size;
            in.seekg(static_cast<std::streamoff>(pos));
        }
        return true;
    }

  private:
    uint64_t left() const { return fileSize - pos; }

    std::istream& in;
    uint64_t fileSize;
    uint64_t pos;
    std::string message;
};

} // namespace

std::string encodeConfiguration(const Configuration& config) {
    std::string out;
    putLittleEndian(out, payloadMagic, 4);
    putLittleEndian(out, headerWord1, 4);
    putLittleEndian(out, headerWord2, 4);
    putLittleEndian(out, headerWord3, 8);
    putLittleEndian(out, config.narrow.size(), 4);
    for (const auto& [id, text] : config.narrow) {
        putLittleEndian(out, static_cast<uint32_t>(id), 4);
        putBytes(out, text);
    }
    putWideEntries(out, config.wide);
    putLittleEndian(out, config.languages.size(), 4);
    for (const LanguageBlock& block : config.languages) {
        putBytes(out, block.prefix);
        putWideEntries(out, block.entries);
    }
    return out;
}

bool appendIncludedFile(std::istream& data, int64_t size, std::ostream& out) {
    std::string sizeField;
    putLittleEndian(sizeField, static_cast<uint64_t>(size), 8);
    out.write(sizeField.data(), 8);
    std::string chunk(copyChunk, '\0');
    for (int64_t left = size; left > 0;) {
        std::streamsize count = left < copyChunk ? static_cast<std::streamsize>(left) : copyChunk;
        if (!data.read(&chunk[0], count))
            return false;
        for (std::streamsize i = 0; i < count; ++i)
            chunk[i] = static_cast<char>(chunk[i] ^ fileXor);
        out.write(chunk.data(), count);
        left -= count;
    }
    return static_cast<bool>(out);
}

std::vector<std::string> includedFileNames(const Configuration& config) {
    auto count = config.narrow.find(includedFileCountId);
    auto names = config.narrow.find(includedFileNamesId);
    int64_t wanted = count == config.narrow.end() ? 0 : configInt(count->second);
    std::vector<std::string> result;
    if (names == config.narrow.end())
        return result;
    size_t start = 0;
    while (static_cast<int64_t>(result.size()) < wanted && start <= names->second.size()) {
        size_t end = names->second.find(';', start);
        if (end == std::string::npos)
            end = names->second.size();
        if (end > start)
            result.push_back(names->second.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

void setIncludedFileNames(Configuration& config, const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names)
        joined += (joined.empty() ? "" : ";") + name;
    config.narrow[includedFileCountId] = std::to_string(names.size());
    config.narrow[includedFileNamesId] = joined;
}

bool readPayload(std::istream& in, uint64_t fileSize, uint64_t start, PayloadContents& contents,
                 std::string& error) {
    contents = PayloadContents{};
    if (start >= fileSize) {
        error = "no payload: nothing follows the raw data of the last section, which ends at offset " +
                std::to_string(start);
        return false;
    }
    PayloadReader reader(in, fileSize, start);
    uint64_t magic = 0;
    if (!reader.readNumber("magic", 4, magic)) {
        error = reader.error();
        return false;
    }
    if (magic != payloadMagic) {
        char found[16];
        snprintf(found, sizeof found, "0x%08X", static_cast<unsigned>(magic));
        error = "no payload at offset " + std::to_string(start) +
                " (behind the raw data of the last section): magic " + found + " instead of 0xE8E413D5";
        return false;
    }
    if (!reader.readConfiguration(contents.config) ||
        !reader.locateIncludedFiles(includedFileNames(contents.config), contents.files)) {
        error = reader.error();
        return false;
    }
    contents.end = reader.offset();
    return true;
}
