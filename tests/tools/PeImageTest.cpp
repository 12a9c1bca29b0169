#include "PeImage.h"

#include "ToolTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

namespace {

bool find(const std::string& image, uint64_t& offset, std::string& error) {
    std::istringstream in(image);
    return findPayloadOffset(in, image.size(), offset, error);
}

TEST(PeImage, PayloadGoesBehindTheLastSectionHeadersRawData) {
    for (int sections : {1, 2, 5}) {
        for (int optionalHeaderSize : {0, 0xE0}) {
            std::string image = fakePeStub(sections, optionalHeaderSize);
            uint64_t offset = 0;
            std::string error;
            ASSERT_TRUE(find(image, offset, error)) << error;
            EXPECT_EQ(offset, image.size());
        }
    }
}

TEST(PeImage, UsesTheLastSectionHeaderNotTheHighestRawData) {
    // The last header's raw data may lie before another section's; the launcher still reads the last one.
    std::string image = fakePeStub(2);
    size_t secondHeader = 0x40 + 24 + 40;
    putInt32(image, secondHeader + 20, 0x10);
    putInt32(image, secondHeader + 16, 0x20);
    uint64_t offset = 0;
    std::string error;
    ASSERT_TRUE(find(image, offset, error)) << error;
    EXPECT_EQ(offset, 0x30u);
}

struct BadImage {
    const char* name;
    std::function<std::string()> image;
    const char* message;
};

TEST(PeImage, RefusesWhatIsNotAPeImage) {
    const BadImage cases[] = {
        {"empty file", [] { return std::string(); }, "no MZ signature"},
        {"text file", [] { return std::string("hello, world, this is text"); }, "no MZ signature"},
        {"DOS header only", [] { return fakePeStub().substr(0, 0x3C); }, "ends before the PE header offset"},
        {"PE offset beyond the end",
         [] {
             std::string image = fakePeStub();
             putInt32(image, 0x3C, 0x7FFFFFF0);
             return image;
         },
         "no PE signature at offset 2147483632"},
        {"wrong PE signature",
         [] {
             std::string image = fakePeStub();
             image[0x41] = 'X';
             return image;
         },
         "no PE signature at offset 64"},
        {"cut inside the file header", [] { return fakePeStub().substr(0, 0x40 + 10); },
         "inside the file header"},
        {"no sections",
         [] {
             std::string image = fakePeStub();
             image[0x46] = 0;
             return image;
         },
         "without section headers"},
        {"cut inside the section headers", [] { return fakePeStub(2).substr(0, 0x40 + 24 + 60); },
         "inside the header of section 2"},
        {"huge optional header",
         [] {
             std::string image = fakePeStub();
             image[0x54] = '\xFF';
             image[0x55] = '\xFF';
             return image;
         },
         "inside the header of section 1"},
        {"raw data beyond the end", [] { return fakePeStub().substr(0, fakePeStub().size() - 1); },
         "behind the end of the file"},
    };
    for (const BadImage& c : cases) {
        uint64_t offset = 0;
        std::string error;
        EXPECT_FALSE(find(c.image(), offset, error)) << c.name;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
    }
}

} // namespace
