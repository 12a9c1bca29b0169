// The natives that configure class profiling, called through the exports of a freshly attached
// library as the JVM calls them: JNI strings and arrays are handled as the JVM requires.
#include "AgentLibrary.h"
#include "ClassProfilingSession.h"
#include "ScriptedJvm.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

typedef void(JNICALL* SetFilters)(JNIEnv*, jclass, jobjectArray, jboolean, jobjectArray, jboolean);
typedef void(JNICALL* AddNetioClass)(JNIEnv*, jclass, jstring, jobjectArray, jobjectArray);
typedef jlong(JNICALL* CreateInterceptionMethodId)(JNIEnv*, jclass, jstring);

const std::string prefix = "Java_com_zentaro_agent_callee_JvmtiCallee_";

class ClassProfilingNatives : public testing::Test {
  protected:
    void SetUp() override {
        CaptureStderr();
        agent.attach(jvm.vm(), nullptr);
        GetCapturedStderr();
        jvm.calls.clear();
        callee = jvm.javaClass("com/zentaro/agent/callee/JvmtiCallee");
    }
    // Every native leaves the JNI state as it found it.
    void expectCleanJni(const char* what) {
        EXPECT_EQ(jvm.outstandingUtfChars, 0) << what;
        EXPECT_EQ(jvm.liveLocalReferences(), 0) << what;
        EXPECT_EQ(jvm.outstandingAllocations, 0) << what;
        EXPECT_EQ(jvm.monitorDepth("_zentaro_native"), 0) << what;
    }
    bool tookAgentMonitor() const {
        return std::count(jvm.calls.begin(), jvm.calls.end(), "RawMonitorEnter _zentaro_native") > 0;
    }

    ScriptedJvm jvm;
    AgentLibrary agent;
    jclass callee = nullptr;
    SetFilters setFilters = agent.function<SetFilters>((prefix + "setFilters").c_str());
    AddNetioClass addNetioClass = agent.function<AddNetioClass>((prefix + "addNetioClass").c_str());
    CreateInterceptionMethodId createId =
        agent.function<CreateInterceptionMethodId>((prefix + "createInterceptionMethodId").c_str());
};

TEST_F(ClassProfilingNatives, InterceptionIdsAreNewDescriptionsEachTime) {
    testsupport::ScratchDirectory profile;
    testsupport::setEnvironment("USERPROFILE", profile.path().string());
    CaptureStderr();
    jlong first = createId(jvm.jni(), callee, jvm.newString("__hvs_request"));
    jlong second = createId(jvm.jni(), callee, jvm.newString("__hvs_request"));
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_NE(first, 0);
    EXPECT_NE(second, 0);
    EXPECT_NE(first, second);
    const auto* method = reinterpret_cast<const MethodDesc*>(static_cast<intptr_t>(first));
    EXPECT_STREQ(method->name, "__hvs_request");
    EXPECT_STREQ(method->signature, "()V");
    EXPECT_STREQ(method->classData->name, "_kalvimeter_annotation_class");
    EXPECT_EQ(method->classData->kind, 50);
    EXPECT_FALSE(std::filesystem::exists(profile.path() / "zentaro.native.debug.out"))
        << "its debug lines are at level 4, above the threshold";
    testsupport::unsetEnvironment("USERPROFILE");

    EXPECT_EQ(createId(jvm.jni(), callee, nullptr), 0);
    jstring refused = jvm.newString("__hvs_big");
    jvm.refuseUtfChars(refused);
    EXPECT_EQ(createId(jvm.jni(), callee, refused), 0) << "out of memory ends the call, not the JVM";
    EXPECT_EQ(jvm.pendingException, "java/lang/OutOfMemoryError");
    jvm.jni()->ExceptionClear();
    expectCleanJni("createInterceptionMethodId");
}

TEST_F(ClassProfilingNatives, SetFiltersReadsEveryArrayShape) {
    struct Case {
        const char* what;
        jobjectArray filters;
        jobjectArray ignored;
    } cases[] = {
        {"null arrays", nullptr, nullptr},
        {"empty arrays", jvm.stringArray({}), jvm.stringArray({})},
        {"null elements", jvm.stringArray({nullptr, "-com.acme", nullptr, "org"}),
         jvm.stringArray({nullptr})},
    };
    for (const Case& c : cases) {
        jvm.calls.clear();
        setFilters(jvm.jni(), callee, c.filters, JNI_TRUE, c.ignored, JNI_FALSE);
        EXPECT_TRUE(tookAgentMonitor()) << c.what;
        EXPECT_FALSE(jvm.exceptionPending) << c.what;
        expectCleanJni(c.what);
    }
    jobjectArray withRefused = jvm.stringArray({"java", "org"});
    jstring refused = static_cast<jstring>(jvm.jni()->GetObjectArrayElement(withRefused, 0));
    jvm.refuseUtfChars(refused);
    jvm.jni()->DeleteLocalRef(refused);
    setFilters(jvm.jni(), callee, withRefused, JNI_FALSE, nullptr, JNI_TRUE);
    jvm.jni()->ExceptionClear();
    expectCleanJni("an element without characters");
}

TEST_F(ClassProfilingNatives, AddNetioClassPairsByIndexUnderTheAgentMonitor) {
    struct Case {
        const char* what;
        jstring className;
        jobjectArray names;
        jobjectArray signatures;
    } cases[] = {
        {"whole class", jvm.newString("java.net.Socket"), nullptr, jvm.stringArray({"()V"})},
        {"pairs", jvm.newString("java.net.Socket"), jvm.stringArray({"read", nullptr}),
         jvm.stringArray({nullptr, "()V"})},
        {"fewer signatures than names", jvm.newString("java.net.Socket"), jvm.stringArray({"read", "write"}),
         jvm.stringArray({"()I"})},
        {"more signatures than names", jvm.newString("java.net.Socket"), jvm.stringArray({"read"}),
         jvm.stringArray({"()I", "()V"})},
        {"empty arrays", jvm.newString("java.nio.Channel"), jvm.stringArray({}), jvm.stringArray({})},
    };
    for (const Case& c : cases) {
        jvm.calls.clear();
        addNetioClass(jvm.jni(), callee, c.className, c.names, c.signatures);
        EXPECT_TRUE(tookAgentMonitor()) << c.what;
        EXPECT_FALSE(jvm.exceptionPending) << c.what << ": never reads past the end of an array";
        expectCleanJni(c.what);
    }
    jvm.calls.clear();
    addNetioClass(jvm.jni(), callee, nullptr, jvm.stringArray({"read"}), nullptr);
    EXPECT_TRUE(jvm.calls.empty()) << "a null class name registers nothing";
    jstring refused = jvm.newString("java.net.Socket");
    jvm.refuseUtfChars(refused);
    addNetioClass(jvm.jni(), callee, refused, nullptr, nullptr);
    EXPECT_FALSE(tookAgentMonitor());
    jvm.jni()->ExceptionClear();
    expectCleanJni("class name without characters");
}

} // namespace
