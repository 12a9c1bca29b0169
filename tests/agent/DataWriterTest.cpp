#include "DataWriter.h"
#include "MemoryWriter.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

// The definition of the checksum: one table lookup per byte.
uint32_t referenceCrc(const uint8_t* data, size_t count) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; i++) {
        uint32_t c = (crc ^ data[i]) & 0xFF;
        for (int bit = 0; bit < 8; bit++)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        crc = (crc >> 8) ^ c;
    }
    return ~crc;
}

TEST(DataWriter, EncodesEachPrimitive) {
    std::string big(70000, 'q');
    for (size_t i = 0; i < big.size(); i++)
        big[i] = static_cast<char>('a' + i % 26);
    Bytes bigEncoded = {0x11, 0x70}; // 70000 modulo 65536 = 4464
    bigEncoded.insert(bigEncoded.end(), big.begin(), big.begin() + 4464);
    struct Case {
        const char* what;
        std::function<void(DataWriter&)> write;
        Bytes expected;
    } cases[] = {
        {"byte 0x1FF", [](DataWriter& w) { w.writeByte(0x1FF); }, {0xFF}},
        {"short 258", [](DataWriter& w) { w.writeShort(258); }, {0x01, 0x02}},
        {"short 65535", [](DataWriter& w) { w.writeShort(65535); }, {0xFF, 0xFF}},
        {"int -1", [](DataWriter& w) { w.writeInt(-1); }, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"int 0x01020304", [](DataWriter& w) { w.writeInt(0x01020304); }, {1, 2, 3, 4}},
        {"long 1", [](DataWriter& w) { w.writeLong(1); }, {0, 0, 0, 0, 0, 0, 0, 1}},
        {"long -2", [](DataWriter& w) { w.writeLong(-2); }, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}},
        {"long 0x0102030405060708",
         [](DataWriter& w) { w.writeLong(0x0102030405060708LL); },
         {1, 2, 3, 4, 5, 6, 7, 8}},
        {"id 258",
         [](DataWriter& w) { w.writeId(reinterpret_cast<const void*>(258)); },
         {2, 1, 0, 0, 0, 0, 0, 0}},
        {"string null", [](DataWriter& w) { w.writeString(nullptr, 5); }, {0, 0}},
        {"string empty", [](DataWriter& w) { w.writeString(""); }, {0, 0}},
        {"string abc", [](DataWriter& w) { w.writeString("abc"); }, {0, 3, 0x61, 0x62, 0x63}},
        {"string 70000 bytes", [&](DataWriter& w) { w.writeString(big.data(), big.size()); }, bigEncoded},
        {"bytes as they are", [](DataWriter& w) { w.writeBytes("\0\xFFz", 3); }, {0, 0xFF, 'z'}},
    };
    for (const Case& c : cases) {
        MemoryWriter writer;
        c.write(writer);
        EXPECT_EQ(writer.written(), c.expected) << c.what;
    }
}

TEST(DataWriter, FixedSizePrimitiveFlushesOnlyWhenItWouldNotFit) {
    const int32_t size = DataWriter::bufferSize;
    struct Case {
        int32_t buffered;
        std::vector<int32_t> calls;
        int32_t left;
    } cases[] = {{size - 2, {size - 2}, 4}, {size - 4, {}, size}, {size, {size}, 4}};
    for (const Case& c : cases) {
        MemoryWriter writer;
        writer.writeBytes(std::string(c.buffered, 'x').data(), c.buffered);
        writer.writeInt(7);
        EXPECT_EQ(writer.calls, c.calls) << c.buffered;
        EXPECT_EQ(writer.bufferedLength(), c.left) << c.buffered;
    }
}

TEST(DataWriter, LongIsSplitIntoTwoHalvesAtTheBufferEdge) {
    MemoryWriter writer;
    std::string fill(DataWriter::bufferSize - 4, 'x');
    writer.writeBytes(fill.data(), static_cast<int32_t>(fill.size()));
    writer.writeLong(0x0102030405060708LL);
    // The high half fills the buffer exactly; the low half flushes it first.
    EXPECT_EQ(writer.calls, std::vector<int32_t>{DataWriter::bufferSize});
    Bytes all = writer.written();
    EXPECT_EQ(Bytes(all.end() - 8, all.end()), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(DataWriter, LongRunsOfBytesBypassTheBuffer) {
    const int32_t size = DataWriter::bufferSize;
    struct Case {
        int32_t before;
        int32_t count;
        std::vector<int32_t> calls;
        int32_t left;
    } cases[] = {
        {0, size, {}, size},               // fills the buffer exactly
        {0, size + 1, {size + 1}, 0},      // straight to write
        {10, size + 1, {10, size + 1}, 0}, // flushes what was there, then straight to write
        {10, size - 10, {}, size},         // still fits
        {10, size - 9, {10}, size - 9},    // flushes, then buffers
    };
    for (const Case& c : cases) {
        MemoryWriter writer;
        std::string before(c.before, 'b'), run(c.count, 'r');
        writer.writeBytes(before.data(), c.before);
        writer.writeBytes(run.data(), c.count);
        EXPECT_EQ(writer.calls, c.calls) << c.before << "+" << c.count;
        EXPECT_EQ(writer.bufferedLength(), c.left) << c.before << "+" << c.count;
        EXPECT_EQ(writer.written().size(), static_cast<size_t>(c.before + c.count));
    }
}

TEST(DataWriter, StreamIsTheSameWhateverTheFlushPoints) {
    std::mt19937 random(7);
    MemoryWriter flushing, steady;
    for (int i = 0; i < 600; i++) {
        int32_t value = static_cast<int32_t>(random());
        std::string run(random() % 9000, static_cast<char>(value));
        for (DataWriter* w : {static_cast<DataWriter*>(&flushing), static_cast<DataWriter*>(&steady)}) {
            w->writeInt(value);
            w->writeLong(static_cast<int64_t>(value) << 20);
            w->writeBytes(run.data(), static_cast<int32_t>(run.size()));
        }
        if (i % 3 == 0)
            flushing.flush();
    }
    EXPECT_EQ(flushing.written(), steady.written());
}

TEST(Crc32, MatchesTheBytewiseDefinition) {
    EXPECT_EQ(~crc32Update(0xFFFFFFFFu, "123456789", 9), 0xCBF43926u);
    std::mt19937 random(11);
    std::vector<uint8_t> data(70000);
    for (auto& b : data)
        b = static_cast<uint8_t>(random());
    for (size_t offset : {0, 1, 3, 7})
        for (size_t count : {0, 1, 7, 8, 9, 15, 16, 17, 1000, 69990})
            ASSERT_EQ(~crc32Update(0xFFFFFFFFu, data.data() + offset, count),
                      referenceCrc(data.data() + offset, count))
                << offset << "+" << count;
    // A run checksummed in pieces gives the checksum of the whole.
    uint32_t crc = crc32Update(0xFFFFFFFFu, data.data(), 12345);
    crc = crc32Update(crc, data.data() + 12345, data.size() - 12345);
    EXPECT_EQ(~crc, referenceCrc(data.data(), data.size()));
}

TEST(FileDataWriter, ChecksumsWhatItSendsSinceTheLastReset) {
    testsupport::ScratchDirectory dir;
    auto path = dir.path() / "section.bin";
    FILE* file = std::fopen(path.string().c_str(), "w+b");
    ASSERT_NE(file, nullptr);
    FileDataWriter writer(file);
    EXPECT_EQ(writer.crcRegister(), 0xFFFFFFFFu);
    writer.writeInt(static_cast<int32_t>(0xCAFED00D));
    writer.flush();
    writer.resetCrc();
    writer.writeBytes("123456789", 9);
    writer.flush();
    EXPECT_EQ(writer.checksum(), 0xCBF43926u);
    EXPECT_FALSE(writer.hasError());
    std::fclose(file);
    EXPECT_EQ(testsupport::readFile(path), std::string("\xCA\xFE\xD0\x0D") + "123456789");
}

TEST(FileDataWriter, FileThatTakesNothingSetsErrorAndKeepsChecksumming) {
    testsupport::ScratchDirectory dir;
    auto path = dir.path() / "readonly.bin";
    std::fclose(std::fopen(path.string().c_str(), "wb"));
    FILE* file = std::fopen(path.string().c_str(), "rb");
    ASSERT_NE(file, nullptr);
    FileDataWriter writer(file);
    writer.writeBytes("123", 3);
    writer.flush();
    EXPECT_TRUE(writer.hasError());
    writer.writeBytes("456789", 6);
    writer.flush();
    EXPECT_TRUE(writer.hasError());
    EXPECT_EQ(writer.checksum(), 0xCBF43926u);
    std::fclose(file);
}

#ifndef _WIN32
// A descriptor that refuses one write in the middle of a run.
TEST(FileDataWriter, ShortWriteLeavesErrorSetAndLaterBytesStillGo) {
    testsupport::ScratchDirectory dir;
    auto path = dir.path() / "partial.bin";
    FILE* file = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    // Unbuffered, so each write reaches the descriptor at once; a read-only descriptor swapped in
    // for the middle write makes exactly that one fail.
    std::setvbuf(file, nullptr, _IONBF, 0);
    FileDataWriter writer(file);
    writer.writeBytes("123", 3);
    writer.flush();
    int fd = fileno(file);
    int saved = dup(fd);
    int readOnly = open(path.string().c_str(), O_RDONLY);
    dup2(readOnly, fd);
    writer.writeBytes("456", 3);
    writer.flush();
    dup2(saved, fd);
    close(readOnly);
    close(saved);
    std::clearerr(file);
    EXPECT_TRUE(writer.hasError());
    writer.writeBytes("789", 3);
    writer.flush();
    EXPECT_TRUE(writer.hasError());
    EXPECT_EQ(writer.checksum(), 0xCBF43926u);
    std::fclose(file);
    EXPECT_EQ(testsupport::readFile(path), "123789");
}
#endif

} // namespace
