// Buffered writer of big-endian primitives, length-prefixed strings and 8-byte identifiers: the only
// way the agent writes files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

// Standard CRC-32 (reflected polynomial 0xEDB88320) of a run of bytes continued from a register.
uint32_t crc32Update(uint32_t crc, const void* data, size_t count);

class DataWriter {
  public:
    static constexpr int32_t bufferSize = 16384;

    DataWriter() : buffer(new uint8_t[bufferSize]) {}
    virtual ~DataWriter() = default;
    DataWriter(const DataWriter&) = delete;
    DataWriter& operator=(const DataWriter&) = delete;

    // Sends bytes past the buffer to the target; returns how many were taken.
    virtual int32_t write(const void* data, int32_t count) = 0;

    void writeByte(int32_t value);
    void writeShort(int32_t value);
    void writeInt(int32_t value);
    void writeLong(int64_t value);
    void writeId(const void* id);
    void writeBytes(const void* data, int32_t count);
    // A u16 byte count and the bytes; a string of 65536 bytes or more keeps only the leading
    // (length modulo 65536) bytes, so the count always matches what follows.
    void writeString(const char* text, size_t byteLength);
    void writeString(const char* text);
    void flush();

    bool hasError() const { return error; }
    int32_t bufferedLength() const { return length; }

  protected:
    bool error = false;

  private:
    void put(const uint8_t* bytes, int32_t count);

    int32_t length = 0;
    std::unique_ptr<uint8_t[]> buffer;
};

// Writes to a stdio file opened and closed by the owner, keeping a running CRC-32 of every byte sent.
class FileDataWriter : public DataWriter {
  public:
    explicit FileDataWriter(FILE* file) : file(file) {}

    int32_t write(const void* data, int32_t count) override;

    void resetCrc() { crc = 0xFFFFFFFFu; }
    uint32_t crcRegister() const { return crc; }
    // The CRC-32 of the bytes sent since the last reset.
    uint32_t checksum() const { return ~crc; }

  private:
    uint32_t crc = 0xFFFFFFFFu;
    FILE* file;
};
