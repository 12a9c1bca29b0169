// The launcher's payload: the configuration tables written behind the last section of the
// executable, followed by the included files.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <ostream>
#include <string>
#include <vector>

const uint32_t payloadMagic = 0xE8E413D5;
const int32_t includedFileCountId = 2002;
const int32_t includedFileNamesId = 2003;

struct LanguageBlock {
    std::string prefix; // Windows-1252
    std::map<int32_t, std::u16string> entries;
};

// What the launcher loads into its two tables. Narrow values are Windows-1252 bytes.
struct Configuration {
    std::map<int32_t, std::string> narrow;
    std::map<int32_t, std::u16string> wide;
    std::vector<LanguageBlock> languages;
};

struct IncludedFileEntry {
    std::string name; // Windows-1252, as listed in id 2003
    uint64_t dataOffset;
    int64_t size;
};

struct PayloadContents {
    Configuration config;
    std::vector<IncludedFileEntry> files;
    uint64_t end; // offset behind the last included file
};

// Magic, header words and tables; the included files follow separately.
std::string encodeConfiguration(const Configuration& config);

// Writes one included file: its size, then its bytes XOR 0x88. False when `data` holds fewer than
// size bytes.
bool appendIncludedFile(std::istream& data, int64_t size, std::ostream& out);

// The names the launcher extracts: those of id 2003 (";"-separated, empty ones skipped), at most as
// many as id 2002 counts.
std::vector<std::string> includedFileNames(const Configuration& config);
void setIncludedFileNames(Configuration& config, const std::vector<std::string>& names);

// Reads the payload at `start` and locates the included files. Every count and length is checked
// against what is left of the file before anything is read or allocated; a damaged payload gives
// false and a message naming the offset and the field.
bool readPayload(std::istream& in, uint64_t fileSize, uint64_t start, PayloadContents& contents,
                 std::string& error);
