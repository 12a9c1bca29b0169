#include "ClassProfilingSession.h"
#include "Hashtable.h"
#include "Object.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

const void* pointer(uintptr_t value) {
    return reinterpret_cast<const void*>(value);
}

int values[64];

TEST(ObjectModel, ClassNamesAndInstanceTests) {
    Object object;
    String text("abc", 3);
    struct Case {
        Object* subject;
        const char* name;
        bool expected;
    } cases[] = {
        {&object, "Object", true}, {&object, "String", false}, {&text, "String", true},
        {&text, "Object", false},  {&text, "string", false},   {&object, nullptr, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.subject->isInstanceOf(c.name), c.expected) << c.subject->getClassName() << " " << c.name;
    EXPECT_STREQ(object.getClassName(), "Object");
    EXPECT_STREQ(text.getClassName(), "String");
}

TEST(ObjectModel, StringEqualityComparesLengthAndBytes) {
    char buffer[] = "abcabd";
    String abc("abc", 3), otherAbc(buffer, 3), abd(buffer + 3, 3), ab("abc", 2), empty("", 0),
        emptyToo(buffer, 0);
    Object plain;
    EXPECT_TRUE(abc.equals(&otherAbc));
    EXPECT_FALSE(abc.equals(&abd));
    EXPECT_FALSE(abc.equals(&ab));
    EXPECT_TRUE(empty.equals(&emptyToo));
    EXPECT_FALSE(abc.equals(&plain));
    EXPECT_FALSE(abc.equals(nullptr));
    EXPECT_FALSE(plain.equals(&plain));
    EXPECT_EQ(plain.hashCode(), 0);
}

TEST(ObjectModel, StringHashIsJavaHashOverSignedBytes) {
    struct Case {
        std::string text;
        int32_t hash;
    } cases[] = {
        {"", 0}, {"a", 97}, {"\xE9", -23}, {"hello", 99162322}, {"java.net.SocketInputStream", -1609641606},
    };
    for (const Case& c : cases) {
        String s(c.text.data(), static_cast<int32_t>(c.text.size()));
        EXPECT_EQ(s.hashCode(), c.hash) << c.text;
        EXPECT_EQ(s.hashCode(), c.hash) << "second call, " << c.text;
        EXPECT_EQ(javaStyleHash(c.text.data(), static_cast<int32_t>(c.text.size())), c.hash);
    }
}

TEST(Hashtable, StringKeysLandInUnsignedBuckets) {
    Hashtable<StringKeys, int> table(0.75f);
    String a("a", 1), e9("\xE9", 1);
    EXPECT_EQ(table.bucketIndex(&a), 9);
    EXPECT_EQ(table.bucketIndex(&e9), 3);
    table.put(&a, &values[0]);
    table.put(&e9, &values[1]);
    // Another String object with the same bytes finds the entry.
    char copy[] = {'\xE9'};
    String probe(copy, 1);
    EXPECT_EQ(table.get(&probe), &values[1]);
}

TEST(Hashtable, PointerHashFoldsHighBitsAndSpreads) {
    Hashtable<PointerKeys, int> table(0.75f);
    struct Case {
        uintptr_t key;
        int32_t bucket;
    } cases[] = {{0x1, 1}, {0x12345678, 1}, {static_cast<uintptr_t>(0x7f00deadbeefULL), 5}};
    for (const Case& c : cases)
        EXPECT_EQ(table.bucketIndex(pointer(c.key)), c.bucket) << std::hex << c.key;
    if (sizeof(uintptr_t) == 8) {
        EXPECT_EQ(PointerKeys::hash(pointer(static_cast<uintptr_t>(0x100000000ULL))),
                  PointerKeys::hash(pointer(1)));
    }
}

TEST(Hashtable, NinthNewKeyGrowsTheTableBeforeLinking) {
    Hashtable<PointerKeys, int> table(0.75f);
    EXPECT_EQ(table.bucketCount(), 11);
    EXPECT_EQ(table.growthThreshold(), 8);
    for (int i = 1; i <= 8; i++)
        EXPECT_EQ(table.put(pointer(i * 16), &values[i]), nullptr);
    EXPECT_EQ(table.bucketCount(), 11);
    table.put(pointer(9 * 16), &values[9]);
    EXPECT_EQ(table.bucketCount(), 23);
    EXPECT_EQ(table.growthThreshold(), 17);
    EXPECT_EQ(table.entryCount(), 9);
    for (int i = 1; i <= 9; i++)
        EXPECT_EQ(table.get(pointer(i * 16)), &values[i]) << i;
}

TEST(Hashtable, GrowsToTwiceThePlusOne) {
    Hashtable<PointerKeys, int> table(0.75f);
    std::vector<int32_t> sizes;
    for (int i = 1; i <= 60; i++) {
        table.put(pointer(i * 8), &values[i % 64]);
        if (sizes.empty() || sizes.back() != table.bucketCount())
            sizes.push_back(table.bucketCount());
    }
    EXPECT_EQ(sizes, (std::vector<int32_t>{11, 23, 47, 95}));
    for (int i = 1; i <= 60; i++)
        ASSERT_EQ(table.get(pointer(i * 8)), &values[i % 64]) << i;
}

TEST(Hashtable, PuttingAnExistingKeyReplacesWithoutGrowing) {
    Hashtable<PointerKeys, int> table(0.75f);
    for (int i = 1; i <= 8; i++)
        table.put(pointer(i), &values[i]);
    EXPECT_EQ(table.put(pointer(3), &values[30]), &values[3]);
    EXPECT_EQ(table.entryCount(), 8);
    EXPECT_EQ(table.bucketCount(), 11);
    EXPECT_EQ(table.get(pointer(3)), &values[30]);
}

TEST(Hashtable, MethodTableNeverGrows) {
    Hashtable<PointerKeys, int> table(0.0f, 200000);
    EXPECT_EQ(table.growthThreshold(), 0);
    const int entries = 300000;
    for (int i = 1; i <= entries; i++)
        table.put(pointer(static_cast<uintptr_t>(i) * 24), &values[i % 64]);
    EXPECT_EQ(table.bucketCount(), 200000);
    EXPECT_EQ(table.entryCount(), entries);
    for (int i = 1; i <= entries; i += 997)
        ASSERT_EQ(table.get(pointer(static_cast<uintptr_t>(i) * 24)), &values[i % 64]) << i;
}

TEST(Hashtable, AbsentKeysAndNullValues) {
    Hashtable<PointerKeys, int> table(0.75f);
    EXPECT_EQ(table.get(pointer(5)), nullptr);
    EXPECT_EQ(table.find(pointer(5)), nullptr);
    table.put(pointer(5), nullptr);
    EXPECT_EQ(table.get(pointer(5)), nullptr);
    ASSERT_NE(table.find(pointer(5)), nullptr);
    EXPECT_EQ(table.entryCount(), 1);
}

TEST(Hashtable, RemoveUnlinksFromAnyPlaceInTheChain) {
    // Keys 1, 12, 22 and 32 share bucket 1 of 11.
    for (uintptr_t victim : {1, 12, 22, 32}) {
        Hashtable<PointerKeys, int> table(0.75f);
        for (uintptr_t key : {1, 12, 22, 32})
            table.put(pointer(key), &values[key]);
        ASSERT_EQ(table.bucketIndex(pointer(32)), 1);
        EXPECT_EQ(table.remove(pointer(victim)), &values[victim]);
        EXPECT_EQ(table.remove(pointer(victim)), nullptr);
        EXPECT_EQ(table.entryCount(), 3);
        for (uintptr_t key : {1, 12, 22, 32})
            EXPECT_EQ(table.get(pointer(key)), key == victim ? nullptr : &values[key])
                << victim << " " << key;
    }
}

TEST(Hashtable, ClearReleasesFromTheLastBucketToTheFirst) {
    Hashtable<PointerKeys, int> table(0.75f);
    for (uintptr_t key : {2, 7, 13})
        table.put(pointer(key), &values[key]);
    std::vector<int*> released;
    table.clear([&](int* value) { released.push_back(value); });
    // Bucket 7 holds 7; bucket 2 holds 13 at the head, then 2.
    EXPECT_EQ(released, (std::vector<int*>{&values[7], &values[13], &values[2]}));
    EXPECT_EQ(table.entryCount(), 0);
    EXPECT_EQ(table.get(pointer(2)), nullptr);
    table.put(pointer(2), &values[2]);
    EXPECT_EQ(table.get(pointer(2)), &values[2]);
}

} // namespace

namespace {

TEST(Hashtable, NetioClassKeysMatchByNameOrIdentity) {
    Hashtable<NetioKeys, NetioClass> table(0.75f);
    char socketName[] = "java.net.Socket";
    char sameName[] = "java.net.Socket";
    NetioClass socket{socketName, nullptr, javaStyleHash(socketName, 15)};
    NetioClass unnamed{nullptr, nullptr, 0};
    table.put(&socket, &socket);
    table.put(&unnamed, &unnamed);

    NetioClass probe{sameName, nullptr, javaStyleHash(sameName, 15)};
    EXPECT_EQ(table.get(&probe), &socket);
    // A key without a name is found only as itself, never by another unnamed key.
    NetioClass otherUnnamed{nullptr, nullptr, 0};
    EXPECT_EQ(table.get(&unnamed), &unnamed);
    EXPECT_EQ(table.get(&otherUnnamed), nullptr);
    // The bucket comes from the cached hash, not from the name.
    NetioClass wrongHash{sameName, nullptr, javaStyleHash(sameName, 15) + 1};
    EXPECT_NE(table.bucketIndex(&wrongHash), table.bucketIndex(&socket));
}

} // namespace
