#include "ClassProfilingSession.h"
#include "MemoryWriter.h"
#include "ProfilingSession.h"
#include "ScriptedJvm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

TEST(MatchPattern, WildcardsSeparatorsAndPrefixes) {
    struct Case {
        const char* pattern;
        const char* text;
        bool matches;
    } cases[] = {
        {"com.*.Foo", "com.a.Foo", true},
        {"com.*.Foo", "com/a/b/Foo", true},
        {"com.*.Foo", "com.a.FooBar", false},
        {"com.?", "com.a", true},
        {"com.?", "com.ab", false},
        {"com.acme", "com/acme/X", true},
        {"com.acme", "com.acmesoft.Bar", true}, // a pattern without wildcards matches what it begins
        {"com.acme", "com.acm", false},
        {"com.acme.", "com.acme", false},
        {"*", "anything", true},
        {"**", "", true},
        {"", "", true},
        {"", "x", true},
        {"java.*", "java.lang.String", true},
        {"*.String", "java.lang.String", true},
        {"*.String", "java.lang.StringBuilder", false},
        {"org.*", "com.org.X", false},
        {"a?c", "abc", true},
        {"a?c", "abd", false},
        {"a.b", "a/b", true},
        {"a/b", "a.b", true},
        {"a.b", "axb", false},
        {"java.lang.*Builder", "java.lang.StringBuilder", true},
        {"java.lang.*Builder", "java.lang.StringBuilderX", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matchPattern(c.pattern, c.text), c.matches) << c.pattern << " ~ " << c.text;
}

TEST(FilterDecision, LastMatchingPatternDecidesThenInvert) {
    struct Case {
        std::vector<const char*> patterns; // empty with nullArray: no pattern array at all
        bool nullArray;
        bool invert;
        const char* className;
        bool filtered;
    } cases[] = {
        {{"java.util"}, false, false, "java.util.Map$Entry", true},
        {{"java.util"}, false, true, "Foo", false}, // unnamed package: never, even inverted
        {{"*"}, false, false, "$Proxy12", false},
        {{"com"}, false, false, "com.sun.proxy.$Proxy3", false},
        {{"com"}, false, true, "com/sun/proxy/$Proxy3", false},
        {{"com"}, false, false, "com.sun.proxyless.X", true},
        {{"-com.acme"}, false, false, "com.acme.Foo", false}, // an exclusion first: all start filtered
        {{"-com.acme"}, false, false, "org.x.Y", true},
        {{"com.acme", "-com.acme.internal"}, false, false, "com.acme.internal.Z", false},
        {{"com.acme", "-com.acme.internal"}, false, false, "com.acme.Z", true},
        {{"com.acme", "-com.acme.internal"}, false, false, "org.x.Y", false},
        {{"com.acme", "-com.acme.internal"}, false, true, "org.x.Y", true},
        {{"org", "-com.acme"}, false, false, "net.x.Y", false}, // only pattern 0 starts at true
        {{"-"}, false, false, "org.x.Y", true},                 // an empty exclusion matches nothing
        {{nullptr, "org"}, false, false, "org.x.Y", true},
        {{}, false, false, "org.x.Y", false},
        {{}, false, true, "org.x.Y", true},
        {{}, true, true, "org.x.Y", false}, // no array: false without invert
    };
    for (const Case& c : cases) {
        std::vector<char*> patterns;
        for (const char* pattern : c.patterns)
            patterns.push_back(const_cast<char*>(pattern));
        char* none[] = {nullptr};
        char** array = c.nullArray ? nullptr : patterns.empty() ? none : patterns.data();
        EXPECT_EQ(filterDecision(c.className, array, static_cast<int32_t>(patterns.size()), c.invert),
                  c.filtered)
            << c.className << " with " << c.patterns.size() << " patterns, invert " << c.invert;
    }
}

TEST(ClassNames, FromSignatures) {
    struct Case {
        const char* signature;
        const char* name;
    } cases[] = {
        {"Ljava/lang/String;", "java.lang.String"},
        {"Ljava/util/Map$Entry;", "java.util.Map$Entry"},
        {"[Ljava/lang/String;", "[Ljava.lang.String"},
        {"[I", "[I"},
        {"LFoo;", "Foo"},
    };
    for (const Case& c : cases) {
        char* name = classNameFromSignature(c.signature);
        EXPECT_STREQ(name, c.name);
        std::free(name);
    }
}

// A fresh class profiling session over a scripted JVM, with the process-wide tables emptied.
class ClassProfiling : public testing::Test {
  protected:
    void SetUp() override {
        methodTable.clear();
        classSignatureTable.clear();
        netioClassTable.clear();
        ignoredClassPatterns.clear();
        recordAgentClasses = false;
        jvmti = jvm.jvmti();
        profiling = new ClassProfilingSession();
    }
    void TearDown() override {
        jvmti = nullptr;
        methodTable.clear();
        classSignatureTable.clear();
        netioClassTable.clear();
        ignoredClassPatterns.clear();
    }

    MethodDesc* describe(const std::string& classSignature, const std::string& name,
                         const std::string& signature = "()V") {
        return profiling->lookupMethod(jvm.method(classSignature, name, signature), jvm.jni());
    }
    size_t count(const std::string& call) const {
        return std::count(jvm.calls.begin(), jvm.calls.end(), call);
    }
    static std::vector<char*> copies(const std::vector<const char*>& texts) {
        std::vector<char*> result;
        for (const char* text : texts)
            result.push_back(copyString(text));
        return result;
    }

    ScriptedJvm jvm;
    ClassProfilingSession* profiling = nullptr;
};

TEST_F(ClassProfiling, ConstructionRegistersTheUnknownAndMarkerClasses) {
    ASSERT_EQ(profiling->classes, (std::vector<ClassData*>{&unknownClass, &annotationMarkerClass}));
    ASSERT_EQ(profiling->methods.size(), 1u);
    const MethodDesc* unknown = profiling->methods[0];
    EXPECT_EQ(unknown, profiling->unknownMethod);
    EXPECT_STREQ(unknown->name, "unknown");
    EXPECT_STREQ(unknown->signature, "()V");
    EXPECT_EQ(unknown->classData, &unknownClass);
    EXPECT_TRUE(unknownClass.agentClass);
    EXPECT_TRUE(unknown->ignored) << "an agent class, and agent classes are not recorded";
    EXPECT_FALSE(unknown->filtered);
    EXPECT_EQ(currentClassProfilingSession, profiling);
}

TEST_F(ClassProfiling, DescribesAMethodOnceFromJvmti) {
    jmethodID length = jvm.method("Ljava/lang/String;", "length", "()I");
    MethodDesc* method = profiling->lookupMethod(length, jvm.jni());
    ASSERT_NE(method, nullptr);
    EXPECT_STREQ(method->classData->name, "java.lang.String");
    EXPECT_STREQ(method->name, "length");
    EXPECT_STREQ(method->signature, "()I");
    EXPECT_FALSE(method->marker || method->netio || method->ignored || method->filtered);
    EXPECT_EQ(profiling->methods.back(), method);
    EXPECT_EQ(profiling->classes.back(), method->classData);

    jvm.calls.clear();
    EXPECT_EQ(profiling->lookupMethod(length, jvm.jni()), method);
    EXPECT_EQ(profiling->lookupMethod(length, nullptr), method);
    EXPECT_TRUE(jvm.calls.empty()) << "JVMTI is asked about a method only once";

    MethodDesc* other = describe("Ljava/lang/String;", "isEmpty", "()Z");
    EXPECT_EQ(other->classData, method->classData) << "one ClassData per class signature";
    EXPECT_EQ(profiling->classes.size(), 3u);
    EXPECT_EQ(profiling->lookupMethod(jvm.method("Lx/Y;", "z", "()V"), nullptr), nullptr)
        << "without an environment an unknown method is only looked up";
    EXPECT_EQ(jvm.outstandingAllocations, 0) << "JVMTI strings are deallocated";
    EXPECT_EQ(jvm.liveLocalReferences(), 0) << "declaring classes are deleted";
}

TEST_F(ClassProfiling, UnreadableClassesAndNamesFallBackToTheUnknownOnes) {
    jmethodID noClass = jvm.method("La/B;", "run", "()V");
    jvm.methodOf(noClass).declaringClassError = JVMTI_ERROR_INVALID_METHODID;
    jmethodID noSignature = jvm.method("Lc/D;", "run", "()V");
    jvm.classSignatureErrors["Lc/D;"] = JVMTI_ERROR_INVALID_CLASS;
    jmethodID noName = jvm.method("Le/F;", "run", "()V");
    jvm.methodOf(noName).nameError = JVMTI_ERROR_INVALID_METHODID;
    jmethodID noNameEither = jvm.method("Le/F;", "walk", "()V");
    jvm.methodOf(noNameEither).nameError = JVMTI_ERROR_INVALID_METHODID;

    CaptureStderr();
    MethodDesc* first = profiling->lookupMethod(noClass, jvm.jni());
    MethodDesc* second = profiling->lookupMethod(noSignature, jvm.jni());
    MethodDesc* third = profiling->lookupMethod(noName, jvm.jni());
    MethodDesc* fourth = profiling->lookupMethod(noNameEither, jvm.jni());
    EXPECT_EQ(GetCapturedStderr(), "zentaro> error: could not get declaring class (code 23)\n"
                                   "zentaro> error: could not get method name (code 23)\n"
                                   "zentaro> error: could not get method name (code 23)\n");
    EXPECT_EQ(first->classData, &unknownClass);
    EXPECT_STREQ(first->name, "run");
    EXPECT_EQ(second->classData, &unknownClass);
    EXPECT_EQ(third, profiling->unknownMethod);
    EXPECT_EQ(fourth, profiling->unknownMethod);
    EXPECT_EQ(std::count(profiling->methods.begin(), profiling->methods.end(), profiling->unknownMethod), 1)
        << "the unknown method keeps one entry, so its identifier is unique in the snapshot";
    jvm.calls.clear();
    EXPECT_EQ(profiling->lookupMethod(noName, jvm.jni()), profiling->unknownMethod);
    EXPECT_TRUE(jvm.calls.empty());
    EXPECT_EQ(jvm.outstandingAllocations, 0);
    EXPECT_EQ(jvm.liveLocalReferences(), 0);
}

TEST_F(ClassProfiling, MarkersAndTheObjectConstructor) {
    struct Case {
        const char* name;
        bool marker;
    } cases[] = {{"__hvs_enter", true}, {"__hvs_sleep", false}, {"__hvs_sleep2", true},
                 {"__hvs", false},      {"_hvs_enter", false},  {"run", false}};
    for (const Case& c : cases)
        EXPECT_EQ(describe("Lapp/Main;", c.name)->marker, c.marker) << c.name;

    EXPECT_EQ(profiling->objectConstructor, nullptr);
    describe("Ljava/lang/Object;", "hashCode", "()I");
    describe("Ljava/lang/ObjectX;", "<init>");
    MethodDesc* constructor = describe("Ljava/lang/Object;", "<init>");
    describe("Ljava/lang/Object;", "<init>");
    EXPECT_EQ(profiling->objectConstructor, constructor) << "the first one, and only that";
}

TEST_F(ClassProfiling, InterceptionMethodsBelongToTheMarkerClass) {
    MethodDesc* first = profiling->createInterceptionMethod("__hvs_request");
    MethodDesc* second = profiling->createInterceptionMethod("__hvs_request");
    EXPECT_NE(first, second);
    EXPECT_EQ(first->classData, &annotationMarkerClass);
    EXPECT_STREQ(first->signature, "()V");
    EXPECT_TRUE(first->marker);
    EXPECT_EQ(profiling->methods.size(), 3u);
    EXPECT_EQ(methodTable.entryCount(), 0);

    profiling->setFilters(copies({"*"}), true);
    EXPECT_FALSE(first->filtered || first->ignored) << "the marker class is never filtered nor ignored";
}

TEST_F(ClassProfiling, SetFiltersRecomputesEveryDescribedMethod) {
    MethodDesc* list = describe("Ljava/util/ArrayList;", "add", "(Ljava/lang/Object;)Z");
    MethodDesc* app = describe("Lcom/acme/App;", "main", "([Ljava/lang/String;)V");
    MethodDesc* agent = describe("Lcom/zentaro/agent/Helper;", "help");
    MethodDesc* unnamed = describe("LScript;", "run");
    EXPECT_TRUE(agent->ignored);

    profiling->setFilters(copies({"java.util"}), false);
    EXPECT_TRUE(list->filtered);
    EXPECT_FALSE(app->filtered);
    EXPECT_EQ(profiling->filterCount, 1);

    // Empty patterns with invert: every class with a package is filtered.
    profiling->setFilters({}, true);
    EXPECT_TRUE(list->filtered);
    EXPECT_TRUE(app->filtered);
    EXPECT_FALSE(unnamed->filtered);

    profiling->setFilters({}, false);
    EXPECT_FALSE(list->filtered || app->filtered || unnamed->filtered);

    recordAgentClasses = true;
    setIgnoredClassPatterns(copies({"com.acme"}));
    profiling->setFilters({}, false);
    EXPECT_FALSE(agent->ignored) << "agent classes are recorded now";
    EXPECT_TRUE(app->ignored);
    setIgnoredClassPatterns(copies({"com.zentaro.agent.*"}));
    profiling->setFilters({}, false);
    EXPECT_TRUE(agent->ignored) << "unless an ignored-class pattern matches them";
    EXPECT_FALSE(app->ignored);
}

TEST_F(ClassProfiling, NetioRegistrationsApplyToClassesDescribedAfterThem) {
    using Pairs = std::vector<NetioClass::MethodPair>;
    registerNetioClass("java.net.SocketInputStream", nullptr);
    registerNetioClass("java.net.Socket", new Pairs{{copyString("connect"), nullptr},
                                                    {nullptr, copyString("()V")},
                                                    {copyString("read"), copyString("([B)I")}});
    registerNetioClass("java.nio.Channel", new Pairs{});
    registerNetioClass("java/net/Slashed", nullptr);
    struct Case {
        const char* classSignature;
        const char* name;
        const char* signature;
        bool netio;
    } cases[] = {
        {"Ljava/net/SocketInputStream;", "read", "([BII)I", true}, // the whole class
        {"Ljava/net/Socket;", "connect", "(Ljava/net/SocketAddress;)V", true},
        {"Ljava/net/Socket;", "connect", "(Ljava/net/SocketAddress;I)V", true}, // any signature
        {"Ljava/net/Socket;", "read", "([B)I", true},
        {"Ljava/net/Socket;", "read", "()I", false},
        {"Ljava/net/Socket;", "close", "()V", false}, // a pair without a name never matches
        {"Ljava/nio/Channel;", "read", "()V", false}, // an empty method list
        {"Ljava/net/Slashed;", "read", "()V", false}, // names are compared in dotted form
        {"Ljava/net/SocketX;", "read", "()V", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describe(c.classSignature, c.name, c.signature)->netio, c.netio)
            << c.classSignature << "." << c.name << c.signature;

    MethodDesc* before = describe("Ljava/net/Socket;", "close", "()V");
    registerNetioClass("java.net.Socket", nullptr);
    EXPECT_FALSE(describe("Ljava/net/Socket;", "shutdownInput", "()V")->netio)
        << "the class was described under the first registration";
    EXPECT_FALSE(before->netio);
    classSignatureTable.clear();
    EXPECT_TRUE(describe("Ljava/net/Socket;", "shutdownOutput", "()V")->netio)
        << "a class described after the second registration uses it";
}

TEST_F(ClassProfiling, ClassSectionListsClassesMethodsAndFilters) {
    MemoryWriter smallest;
    profiling->writeClassSection(smallest);
    MemoryWriter::Bytes expected;
    auto put = [&expected](std::initializer_list<uint8_t> bytes) { expected.insert(expected.end(), bytes); };
    auto putId = [&expected](const void* id) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(&id);
        expected.insert(expected.end(), bytes, bytes + sizeof id);
    };
    auto putString = [&expected](const char* text) {
        size_t n = std::strlen(text);
        expected.push_back(static_cast<uint8_t>(n >> 8));
        expected.push_back(static_cast<uint8_t>(n));
        expected.insert(expected.end(), text, text + n);
    };
    put({1});
    putId(&unknownClass);
    putString("com.zentaro.agent.Unknown");
    put({0, 0, 0, 0, 1});
    putId(&annotationMarkerClass);
    putString("_kalvimeter_annotation_class");
    put({0, 0, 0, 50, 0, 1});
    putId(profiling->unknownMethod);
    putId(&unknownClass);
    putString("unknown");
    putString("()V");
    put({0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(smallest.written(), expected);

    profiling->setFilters(copies({"-com.acme", "org"}), true);
    MemoryWriter withFilters;
    profiling->writeClassSection(withFilters);
    MemoryWriter::Bytes tail = {0,   0,   0,   2,   0, 9, '-', 'c', 'o', 'm', '.',
                                'a', 'c', 'm', 'e', 0, 3, 'o', 'r', 'g', 1};
    MemoryWriter::Bytes written = withFilters.written();
    ASSERT_GT(written.size(), tail.size());
    EXPECT_EQ(MemoryWriter::Bytes(written.end() - tail.size(), written.end()), tail)
        << "patterns as received, the leading - included, then the invert flag";
}

} // namespace
