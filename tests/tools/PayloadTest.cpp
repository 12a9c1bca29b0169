#include "Payload.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>

namespace {

const std::string stubBytes = "stub bytes before the payload";

bool read(const std::string& file, PayloadContents& contents, std::string& error) {
    std::istringstream in(file);
    return readPayload(in, file.size(), stubBytes.size(), contents, error);
}

std::string withIncludedFiles(const Configuration& config, const std::vector<std::string>& files) {
    std::ostringstream out;
    out << stubBytes << encodeConfiguration(config);
    for (const std::string& data : files) {
        std::istringstream in(data);
        EXPECT_TRUE(appendIncludedFile(in, data.size(), out));
    }
    return out.str();
}

Configuration sampleConfiguration() {
    Configuration config;
    config.narrow = {{101, "Demo service"}, {1000, "Fehler \xE4"}, {-7, ""}, {2147483647, "max"}};
    config.wide = {{20017, u"Dienst \u00E4 \u4E2D \U0001F600"}, {5, u""}};
    config.languages = {{"de", {{1000, u"Fehler"}, {1001, u"\u00DF"}}}, {"", {}}, {"pt_BR", {{1, u"x"}}}};
    return config;
}

TEST(Payload, ReadsBackWhatItWrites) {
    Configuration config = sampleConfiguration();
    setIncludedFileNames(config, {"a.txt", "lib\\empty.dll", "lib\\b.bin"});
    std::string file = withIncludedFiles(config, {"abc", "", std::string("\x00\x88\xFF", 3)});

    PayloadContents contents;
    std::string error;
    ASSERT_TRUE(read(file, contents, error)) << error;
    EXPECT_EQ(contents.config.narrow, config.narrow);
    EXPECT_EQ(contents.config.wide, config.wide);
    ASSERT_EQ(contents.config.languages.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(contents.config.languages[i].prefix, config.languages[i].prefix);
        EXPECT_EQ(contents.config.languages[i].entries, config.languages[i].entries);
    }
    ASSERT_EQ(contents.files.size(), 3u);
    const std::pair<std::string, std::string> expected[] = {
        {"a.txt", "abc"}, {"lib\\empty.dll", ""}, {"lib\\b.bin", std::string("\x00\x88\xFF", 3)}};
    for (size_t i = 0; i < 3; ++i) {
        const IncludedFileEntry& entry = contents.files[i];
        EXPECT_EQ(entry.name, expected[i].first);
        ASSERT_EQ(entry.size, static_cast<int64_t>(expected[i].second.size()));
        std::string decoded = file.substr(entry.dataOffset, entry.size);
        for (char& c : decoded)
            c = static_cast<char>(c ^ 0x88);
        EXPECT_EQ(decoded, expected[i].second) << entry.name;
    }
    EXPECT_EQ(contents.end, file.size());
}

TEST(Payload, WritesTheLayoutTheLauncherReads) {
    Configuration config;
    config.narrow = {{101, "ab"}};
    config.wide = {{20017, u"\u00E4"}};
    config.languages = {{"de", {{1000, u"F"}}}};
    const unsigned char expected[] = {
        0xD5, 0x13, 0xE4, 0xE8,                   // magic
        0,    0,    0,    0,                      // header word 1
        0x7C, 0xF1, 0xC2, 0x48,                   // header word 2: 1220735356
        0x7F, 0x09, 0,    0,    0,    0,    0, 0, // header word 3: 2431
        1,    0,    0,    0,    101,  0,    0, 0, 2,   0,
        0,    0,    'a',  'b', // narrow count, id, length, text
        1,    0,    0,    0,    0x31, 0x4E, 0, 0, 2,   0,
        0,    0,    0xE4, 0,                                // wide count, id 20017, length, UTF-16LE
        1,    0,    0,    0,    2,    0,    0, 0, 'd', 'e', // block count, prefix
        1,    0,    0,    0,    0xE8, 3,    0, 0, 2,   0,
        0,    0,    'F',  0, // entry count, id 1000, length, text
    };
    EXPECT_EQ(encodeConfiguration(config),
              std::string(reinterpret_cast<const char*>(expected), sizeof expected));

    std::ostringstream out;
    std::istringstream data(std::string("\x00\x01", 2));
    ASSERT_TRUE(appendIncludedFile(data, 2, out));
    EXPECT_EQ(out.str(), std::string("\x02\0\0\0\0\0\0\0\x88\x89", 10));
}

TEST(Payload, RefusesIncludedFileDataShorterThanItsSize) {
    std::ostringstream out;
    std::istringstream data("abc");
    EXPECT_FALSE(appendIncludedFile(data, 4, out));
}

TEST(Payload, ListsTheIncludedFilesTheLauncherExtracts) {
    struct Case {
        const char* count;
        const char* names;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"2", "a.txt;lib\\b.dll", {"a.txt", "lib\\b.dll"}},
        {"2", ";a.txt;;b;", {"a.txt", "b"}}, // empty names are skipped
        {"1", "a;b;c", {"a"}},               // no more than counted
        {"5", "a;b", {"a", "b"}},            // no more than named
        {" 2x", "a;b;c", {"a", "b"}},        // read as the launcher reads numbers
        {"-1", "a", {}},
        {"", "a", {}},
        {"99999999999999999999", "a", {"a"}},
    };
    for (const Case& c : cases) {
        Configuration config;
        config.narrow = {{includedFileCountId, c.count}, {includedFileNamesId, c.names}};
        EXPECT_EQ(includedFileNames(config), c.expected) << c.count << " " << c.names;
    }
    EXPECT_TRUE(includedFileNames(Configuration{}).empty());
}

TEST(Payload, LaterEntriesOfOneIdentifierWin) {
    std::string file = stubBytes + encodeConfiguration({});
    // Two narrow entries with id 101, as a foreign writer might produce them.
    std::string narrow = std::string("\x02\0\0\0", 4) + std::string("\x65\0\0\0\x01\0\0\0x", 9) +
                         std::string("\x65\0\0\0\x01\0\0\0y", 9);
    file.replace(stubBytes.size() + 20, 4, narrow);
    PayloadContents contents;
    std::string error;
    ASSERT_TRUE(read(file, contents, error)) << error;
    EXPECT_EQ(contents.config.narrow, (std::map<int32_t, std::string>{{101, "y"}}));
}

// Builds a small payload field by field, remembering where each field starts, so that a test
// can replace one field's value.
class PayloadBuilder {
  public:
    std::map<std::string, int64_t> values{
        {"magic", 0xE8E413D5}, {"narrow count", 3},   {"narrow length", 2}, {"wide count", 1},
        {"wide length", 2},    {"language count", 1}, {"prefix length", 2}, {"entry count", 1},
        {"entry length", 2},   {"file size", 3},
    };
    std::map<std::string, size_t> offsets;

    std::string build() {
        bytes = stubBytes;
        field("magic", 4);
        bytes.append(16, '\0'); // header words
        field("narrow count", 4);
        entry(101, "narrow length", "ab");
        entry(includedFileCountId, "", "1");
        entry(includedFileNamesId, "", "a");
        field("wide count", 4);
        entry(20017, "wide length", std::string("x\0", 2));
        field("language count", 4);
        field("prefix length", 4);
        bytes += "de";
        field("entry count", 4);
        entry(1000, "entry length", std::string("y\0", 2));
        field("file size", 8);
        bytes += "\xE9\xEA\xEB";
        return bytes;
    }

  private:
    std::string bytes;

    void field(const std::string& name, int size) {
        offsets[name] = bytes.size();
        for (int i = 0; i < size; ++i)
            bytes += static_cast<char>((static_cast<uint64_t>(values[name]) >> (8 * i)) & 0xFF);
    }

    void entry(int32_t id, const std::string& lengthField, const std::string& text) {
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>((static_cast<uint32_t>(id) >> (8 * i)) & 0xFF);
        if (lengthField.empty())
            values["length"] = text.size();
        field(lengthField.empty() ? "length" : lengthField, 4);
        bytes += text;
    }
};

TEST(Payload, ReadsTheHandBuiltPayload) {
    PayloadBuilder builder;
    std::string file = builder.build();
    PayloadContents contents;
    std::string error;
    ASSERT_TRUE(read(file, contents, error)) << error;
    EXPECT_EQ(contents.config.narrow.at(101), "ab");
    EXPECT_EQ(contents.config.wide.at(20017), u"x");
    EXPECT_EQ(contents.config.languages.at(0).entries.at(1000), u"y");
    ASSERT_EQ(contents.files.size(), 1u);
    EXPECT_EQ(contents.files[0].size, 3);
    EXPECT_EQ(contents.end, file.size());
}

TEST(Payload, RefusesATruncatedPayloadAtEveryLength) {
    std::string file = PayloadBuilder().build();
    for (size_t length = stubBytes.size(); length < file.size(); ++length) {
        PayloadContents contents;
        std::string error;
        EXPECT_FALSE(read(file.substr(0, length), contents, error)) << "length " << length;
        if (length == stubBytes.size()) {
            EXPECT_NE(error.find("no payload"), std::string::npos) << error;
            continue;
        }
        // The message names an offset inside the payload, at most the end of the file.
        size_t at = error.find("damaged payload at offset ");
        ASSERT_NE(at, std::string::npos) << "length " << length << ": " << error;
        size_t offset = std::stoul(error.substr(at + 26));
        EXPECT_GE(offset, stubBytes.size()) << error;
        EXPECT_LE(offset, length) << error;
    }
}

TEST(Payload, RefusesDamagedCountsAndLengths) {
    struct Case {
        const char* field;
        int64_t value;
        std::string message;
    };
    const Case cases[] = {
        {"narrow count", -1, "narrow count -1 is negative"},
        {"narrow count", 0x7FFFFFFF, "narrow count 2147483647 needs at least 17179869176 bytes"},
        {"narrow length", -1, "narrow entry 1 (id 101) text length -1 is negative"},
        {"narrow length", 0x7FFFFFFF, "narrow entry 1 (id 101) text length 2147483647 is larger than the"},
        {"wide count", -3, "wide count -3 is negative"},
        {"wide count", 0x10000000, "wide count 268435456 needs at least"},
        {"wide length", 3, "wide entry 1 (id 20017) text length 3 is odd"},
        {"wide length", -2, "wide entry 1 (id 20017) text length -2 is negative"},
        {"wide length", 0x7FFFFFFE, "wide entry 1 (id 20017) text length 2147483646 is larger than the"},
        {"language count", -1, "language block count -1 is negative"},
        {"language count", 0x7FFFFFFF, "language block count 2147483647 needs at least"},
        {"prefix length", -1, "language block 1 prefix length -1 is negative"},
        {"prefix length", 1000, "language block 1 prefix length 1000 is larger than the"},
        {"entry count", -1, "language block 1 count -1 is negative"},
        {"entry count", 0x7FFFFFFF, "language block 1 count 2147483647 needs at least"},
        {"entry length", 1, "language block 1 entry 1 (id 1000) text length 1 is odd"},
        {"file size", -1, "included file 1 (a) size -1 is negative"},
        {"file size", 4, "included file 1 (a) size 4 is larger than the 3 bytes left in the file"},
        {"file size", INT64_MAX, "included file 1 (a) size 9223372036854775807 is larger than the 3 bytes"},
    };
    for (const Case& c : cases) {
        PayloadBuilder builder;
        builder.values[c.field] = c.value;
        std::string file = builder.build();
        PayloadContents contents;
        std::string error;
        EXPECT_FALSE(read(file, contents, error)) << c.field << " " << c.value;
        std::string where = "damaged payload at offset " + std::to_string(builder.offsets[c.field]) + ": ";
        EXPECT_NE(error.find(where + c.message), std::string::npos)
            << "expected: " << where << c.message << "\n"
            << "got:      " << error;
    }
}

TEST(Payload, RefusesAWrongMagic) {
    PayloadBuilder builder;
    builder.values["magic"] = 0xE813E4D5; // the bytes in the opposite order
    PayloadContents contents;
    std::string error;
    EXPECT_FALSE(read(builder.build(), contents, error));
    EXPECT_NE(error.find("no payload at offset " + std::to_string(stubBytes.size())), std::string::npos)
        << error;
    EXPECT_NE(error.find("magic 0xE813E4D5"), std::string::npos) << error;
}

} // namespace
