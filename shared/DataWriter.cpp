#include "DataWriter.h"

#include <array>
#include <cstring>

namespace {

// Eight tables for slicing-by-8: table[0] is the classic byte table, table[k] advances a byte k
// positions further, so eight bytes cost eight lookups and one 64-bit load.
struct CrcTables {
    std::array<std::array<uint32_t, 256>, 8> table;
    constexpr CrcTables() : table() {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int bit = 0; bit < 8; bit++)
                c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            table[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; i++)
            for (int k = 1; k < 8; k++)
                table[k][i] = (table[k - 1][i] >> 8) ^ table[0][table[k - 1][i] & 0xFF];
    }
};

constexpr CrcTables crcTables;

} // namespace

uint32_t crc32Update(uint32_t crc, const void* data, size_t count) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    const auto& t = crcTables.table;
    for (; count >= 8; count -= 8, p += 8) {
        // Assembled byte by byte, so the result does not depend on the host's byte order.
        uint32_t low =
            crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        uint32_t high = uint32_t(p[4]) | uint32_t(p[5]) << 8 | uint32_t(p[6]) << 16 | uint32_t(p[7]) << 24;
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
              t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
    }
    for (; count > 0; count--, p++)
        crc = (crc >> 8) ^ t[0][(crc ^ *p) & 0xFF];
    return crc;
}

void DataWriter::put(const uint8_t* bytes, int32_t count) {
    if (length + count > bufferSize && length > 0)
        flush();
    std::memcpy(buffer.get() + length, bytes, count);
    length += count;
}

void DataWriter::writeByte(int32_t value) {
    uint8_t b = static_cast<uint8_t>(value);
    put(&b, 1);
}

void DataWriter::writeShort(int32_t value) {
    uint8_t b[2] = {uint8_t(value >> 8), uint8_t(value)};
    put(b, 2);
}

void DataWriter::writeInt(int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    put(b, 4);
}

void DataWriter::writeLong(int64_t value) {
    writeInt(static_cast<int32_t>(static_cast<uint64_t>(value) >> 32));
    writeInt(static_cast<int32_t>(static_cast<uint64_t>(value)));
}

void DataWriter::writeId(const void* id) {
    uint8_t b[sizeof id];
    std::memcpy(b, &id, sizeof id);
    put(b, sizeof id);
}

void DataWriter::writeBytes(const void* data, int32_t count) {
    if (count <= 0)
        return;
    if (length + count > bufferSize) {
        if (length > 0)
            flush();
        if (count > bufferSize) {
            write(data, count);
            return;
        }
    }
    std::memcpy(buffer.get() + length, data, count);
    length += count;
}

void DataWriter::writeString(const char* text, size_t byteLength) {
    if (text == nullptr) {
        writeShort(0);
        return;
    }
    int32_t count = static_cast<int32_t>(byteLength & 0xFFFF);
    writeShort(count);
    writeBytes(text, count);
}

void DataWriter::writeString(const char* text) {
    writeString(text, text != nullptr ? std::strlen(text) : 0);
}

void DataWriter::flush() {
    if (length > 0)
        write(buffer.get(), length);
    length = 0;
}

int32_t FileDataWriter::write(const void* data, int32_t count) {
    crc = crc32Update(crc, data, static_cast<size_t>(count));
    size_t written = std::fwrite(data, 1, static_cast<size_t>(count), file);
    if (written < static_cast<size_t>(count))
        error = true;
    return static_cast<int32_t>(written);
}
