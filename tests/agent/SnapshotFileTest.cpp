// The snapshot file byte by byte: header, section table, sections, and what a failed write leaves.
#include "DebugOutput.h"
#include "SamplingFixture.h"

#include <cstdlib>
#include <cstring>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes slice(const Bytes& bytes, int64_t offset, int64_t length) {
    return Bytes(bytes.begin() + offset, bytes.begin() + offset + length);
}

class SnapshotFile : public SamplingFixture {
  protected:
    void SetUp() override {
        SamplingFixture::SetUp();
        std::free(session.vmName);
        std::free(session.javaVersion);
        session.vmName = copyString("Scripted VM");
        session.javaVersion = copyString("17.0.9");
    }
    void TearDown() override {
        std::free(session.vmName);
        std::free(session.javaVersion);
        session.vmName = session.javaVersion = nullptr;
        SamplingFixture::TearDown();
    }
};

TEST_F(SnapshotFile, TableFollowsTheHeaderAndSectionsFollowEachOther) {
    snapshotbytes::File file = snapshot();
    EXPECT_EQ(file.vmName, "Scripted VM");
    EXPECT_EQ(file.javaVersion, "17.0.9");
    EXPECT_EQ(file.recordingStart, recordingStartTime);
    EXPECT_GE(file.writeTime, 0);
    EXPECT_EQ(file.tableOffset, 32 + 11 + 6);
    EXPECT_EQ(file.sections[0].offset, file.tableOffset + 140);
    for (int i = 2; i < 7; i++) {
        EXPECT_EQ(file.sections[i].length, 0) << i;
        EXPECT_EQ(file.sections[i].checksum, 0u) << i;
        EXPECT_EQ(file.sections[i].offset, file.sections[i - 1].offset + 4 + file.sections[i - 1].length)
            << i;
    }
    EXPECT_EQ(static_cast<int64_t>(file.bytes.size()), file.sections[6].offset + 4);
}

TEST_F(SnapshotFile, SmallestClassSectionAndAnEmptyThreadSection) {
    snapshotbytes::File file = snapshot();
    ClassProfilingSession& profiling = *session.classProfilingSession;
    auto id = [](const void* p) {
        Bytes b(8);
        std::memcpy(b.data(), &p, 8);
        return b;
    };
    auto text = [](const char* s) {
        Bytes b = {0, static_cast<uint8_t>(std::strlen(s))};
        b.insert(b.end(), s, s + std::strlen(s));
        return b;
    };
    Bytes expected;
    auto append = [&](const Bytes& b) { expected.insert(expected.end(), b.begin(), b.end()); };
    append({1});
    append(id(&unknownClass));
    append(text("com.zentaro.agent.Unknown"));
    append({0, 0, 0, 0, 1});
    append(id(&annotationMarkerClass));
    append(text("_kalvimeter_annotation_class"));
    append({0, 0, 0, 50, 0, 1});
    append(id(profiling.unknownMethod));
    append(id(&unknownClass));
    append(text("unknown"));
    append(text("()V"));
    append({0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const snapshotbytes::Section& classes = file.sections[0];
    EXPECT_EQ(slice(file.bytes, classes.offset + 4, classes.length), expected);
    const snapshotbytes::Section& threads = file.sections[1];
    EXPECT_EQ(slice(file.bytes, threads.offset + 4, threads.length), Bytes{0});
    EXPECT_EQ(threads.checksum, snapshotbytes::referenceCrc32(Bytes{0}.data(), 1));
}

TEST_F(SnapshotFile, ThreadTimesAreClampedToTheRecordingAndLongNamesCut) {
    std::string longName(70000, 'n');
    longName.replace(4460, 4, "tail");
    worker(longName, {runnable({})});
    worker("ended", {runnable({})});
    threadRegistry->front()->history->start = recordingStartTime - 500;
    ThreadHistory* ended = threadRegistry->back()->history;
    ended->start = recordingStartTime + 20;
    ended->end = recordingStartTime - 10;
    snapshotbytes::File file = snapshot();
    ASSERT_EQ(file.threads.size(), 2u);
    EXPECT_EQ(file.threads[0].name, longName.substr(0, 4464)) << "70000 bytes keep their length modulo 65536";
    EXPECT_EQ(file.threads[0].start, recordingStartTime);
    EXPECT_EQ(file.threads[0].end, -1);
    EXPECT_EQ(file.threads[0].group, "main");
    EXPECT_EQ(file.threads[0].id, file.threads[0].owner);
    EXPECT_EQ(file.threads[1].start, recordingStartTime + 20);
    EXPECT_EQ(file.threads[1].end, recordingStartTime);
}

TEST_F(SnapshotFile, FiltersAreListedAsReceived) {
    session.classProfilingSession->setFilters({copyString("-com.acme.internal"), copyString("com.acme")},
                                              true);
    snapshotbytes::File file = snapshot();
    EXPECT_EQ(file.filters, (std::vector<std::string>{"-com.acme.internal", "com.acme"}));
    EXPECT_TRUE(file.invert);
}

TEST_F(SnapshotFile, AFileThatCannotBeOpenedIsNotWritten) {
    std::u16string directory = scratch.path().u16string();
    EXPECT_FALSE(writeSnapshot(directory.c_str(), env()));
    std::u16string missing = directory + u"/no/such/dir/file";
    EXPECT_FALSE(writeSnapshot(missing.c_str(), env()));
}

#ifndef _WIN32
TEST_F(SnapshotFile, AFullDiskIsReportedAndTheWriteFails) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writeSnapshot(u"/dev/full", env()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "zentaro> Your disk or partition might be full.\n");
}
#endif

} // namespace
