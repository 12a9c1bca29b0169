#include "PeImage.h"

namespace {

const uint64_t peOffsetField = 0x3C;
const uint64_t sectionHeaderSize = 40;

// Reads size bytes (at most 4) at offset as a little-endian number; false when the file is shorter.
bool readLittleEndian(std::istream& image, uint64_t fileSize, uint64_t offset, int size, uint32_t& value) {
    if (offset > fileSize || fileSize - offset < static_cast<uint64_t>(size))
        return false;
    unsigned char bytes[4] = {};
    image.clear();
    image.seekg(static_cast<std::streamoff>(offset));
    if (!image.read(reinterpret_cast<char*>(bytes), size))
        return false;
    value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return true;
}

} // namespace

bool findPayloadOffset(std::istream& image, uint64_t fileSize, uint64_t& payloadOffset, std::string& error) {
    uint32_t mz = 0;
    if (!readLittleEndian(image, fileSize, 0, 2, mz) || mz != 0x5A4D) {
        error = "not a PE image: no MZ signature at offset 0";
        return false;
    }
    uint32_t e = 0;
    if (!readLittleEndian(image, fileSize, peOffsetField, 4, e)) {
        error = "not a PE image: the file ends before the PE header offset at 0x3C";
        return false;
    }
    uint32_t signature = 0;
    if (!readLittleEndian(image, fileSize, e, 4, signature) || signature != 0x00004550) {
        error = "not a PE image: no PE signature at offset " + std::to_string(e) + " (named at 0x3C)";
        return false;
    }
    uint32_t sectionCount = 0;
    uint32_t optionalHeaderSize = 0;
    if (!readLittleEndian(image, fileSize, e + 6, 2, sectionCount) ||
        !readLittleEndian(image, fileSize, e + 20, 2, optionalHeaderSize)) {
        error = "truncated PE image: the file ends inside the file header at offset " + std::to_string(e + 4);
        return false;
    }
    if (sectionCount == 0) {
        error = "PE image without section headers: there is no last section to put the payload behind";
        return false;
    }
    uint64_t lastHeader = uint64_t{e} + 24 + optionalHeaderSize + (sectionCount - 1) * sectionHeaderSize;
    uint32_t rawSize = 0;
    uint32_t rawOffset = 0;
    if (!readLittleEndian(image, fileSize, lastHeader + 16, 4, rawSize) ||
        !readLittleEndian(image, fileSize, lastHeader + 20, 4, rawOffset)) {
        error = "truncated PE image: the file ends inside the header of section " +
                std::to_string(sectionCount) + " at offset " + std::to_string(lastHeader);
        return false;
    }
    payloadOffset = uint64_t{rawOffset} + rawSize;
    if (payloadOffset > fileSize) {
        error = "truncated PE image: the raw data of the last section ends at offset " +
                std::to_string(payloadOffset) + ", behind the end of the file at " + std::to_string(fileSize);
        return false;
    }
    return true;
}
