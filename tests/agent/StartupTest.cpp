#include "AgentLibrary.h"
#include "ScriptedJvm.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using Lines = std::vector<std::string>;

Lines lines(const std::string& text) {
    Lines result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

const std::string stars(67, '*');

class Startup : public testing::Test {
  protected:
    // Attaches a fresh agent to the double and returns its console lines.
    Lines attach(const char* options) {
        CaptureStderr();
        EXPECT_EQ(agent.attach(jvm.vm(), options), 0);
        return lines(GetCapturedStderr());
    }

    size_t position(const std::string& call) const {
        auto found = std::find(jvm.calls.begin(), jvm.calls.end(), call);
        EXPECT_NE(found, jvm.calls.end()) << call;
        return static_cast<size_t>(found - jvm.calls.begin());
    }
    // How often the agent monitor is held when the call at index is made.
    int agentMonitorDepthAt(size_t index) const {
        int depth = 0;
        for (size_t i = 0; i < index; i++)
            depth += jvm.calls[i] == "RawMonitorEnter _zentaro_native"  ? 1
                     : jvm.calls[i] == "RawMonitorExit _zentaro_native" ? -1
                                                                        : 0;
        return depth;
    }
    bool called(const std::string& call) const {
        return std::find(jvm.calls.begin(), jvm.calls.end(), call) != jvm.calls.end();
    }

    ScriptedJvm jvm;
    AgentLibrary agent;
};

TEST_F(Startup, OptionsAreSubstringsOfTheWholeString) {
    struct Case {
        const char* options;
        Lines optionLines;
        bool threadStartEnabled;
    } cases[] = {
        {"agent-threads,agent-classes",
         {"zentaro> Record agent threads", "zentaro> Record agent classes"},
         false},
        {"xxsave-thread-start=yes", {"zentaro> Save thread start mode"}, true},
        {"agent-classes,save-thread-start,agent-threads",
         {"zentaro> Save thread start mode", "zentaro> Record agent threads",
          "zentaro> Record agent classes"},
         true},
        {"AGENT-THREADS", {}, false},
        {"", {}, false},
        {nullptr, {}, false},
    };
    for (const Case& c : cases) {
        ScriptedJvm scripted;
        AgentLibrary fresh;
        CaptureStderr();
        EXPECT_EQ(fresh.attach(scripted.vm(), c.options), 0);
        Lines expected = {"zentaro> Protocol version 1", "zentaro> 64-bit library"};
        expected.insert(expected.end(), c.optionLines.begin(), c.optionLines.end());
        expected.push_back("zentaro> Native library initialized");
        const char* shown = c.options != nullptr ? c.options : "(null)";
        EXPECT_EQ(lines(GetCapturedStderr()), expected) << shown;
        bool enabled = std::count(scripted.calls.begin(), scripted.calls.end(), "Enable 52 all threads") == 1;
        EXPECT_EQ(enabled, c.threadStartEnabled) << shown;
    }
}

TEST_F(Startup, FullSequenceAgainstAJvmtiOneOneVm) {
    EXPECT_EQ(attach(nullptr).back(), "zentaro> Native library initialized");
    EXPECT_FALSE(called("GetEnv 0x30010000"));
    // The properties are read before the monitors exist; everything after holds the agent monitor.
    EXPECT_LT(position("GetEnv 0x30010100"), position("GetSystemProperty java.vm.name"));
    EXPECT_LT(position("GetSystemProperty java.vm.version"), position("CreateRawMonitor _zentaro_native"));
    EXPECT_LT(position("CreateRawMonitor _zentaro_native_sleep"),
              position("RawMonitorEnter _zentaro_native"));
    for (const char* call :
         {"GetEnv 0x10004", "FindClass java/lang/System",
          "GetStaticMethodID getProperty (Ljava/lang/String;)Ljava/lang/String;",
          "Call getProperty java.version", "AddCapabilities", "SetEventCallbacks", "Enable 51 all threads"})
        EXPECT_GT(agentMonitorDepthAt(position(call)), 0) << call;
    EXPECT_EQ(agentMonitorDepthAt(jvm.calls.size()), 0);
    EXPECT_EQ(jvm.calls.back(), "RawMonitorExit _zentaro_native");
    EXPECT_FALSE(called("Enable 52 all threads"));

    EXPECT_EQ(jvm.requestedCapabilities.can_get_line_numbers, 1u);
    EXPECT_EQ(jvm.requestedCapabilities.can_tag_objects, 1u) << "capabilities already held are kept";
    EXPECT_NE(jvm.callbacks.VMDeath, nullptr);
    EXPECT_NE(jvm.callbacks.ThreadStart, nullptr);
    EXPECT_EQ(jvm.callbacks.ClassLoad, nullptr);
    EXPECT_GE(jvm.callbacksSize, static_cast<jint>(35 * sizeof(void*)));
    EXPECT_EQ(jvm.outstandingAllocations, 0) << "JVMTI strings are deallocated";
    EXPECT_EQ(jvm.outstandingUtfChars, 0) << "JNI strings are released";
}

TEST_F(Startup, VmDeathTakesTheAgentMonitor) {
    attach(nullptr);
    jvm.calls.clear();
    jvm.callbacks.VMDeath(jvm.jvmti(), jvm.jni());
    EXPECT_EQ(jvm.calls, (Lines{"RawMonitorEnter _zentaro_native", "RawMonitorExit _zentaro_native"}));
}

TEST_F(Startup, AcceptsAVmWithJvmtiOneZeroOnly) {
    jvm.getEnvResults.erase(JVMTI_VERSION_1_1);
    jvm.getEnvResults[JVMTI_VERSION_1_0] = JNI_OK;
    EXPECT_EQ(attach(nullptr).back(), "zentaro> Native library initialized");
    EXPECT_LT(position("GetEnv 0x30010100"), position("GetEnv 0x30010000"));
}

TEST_F(Startup, StopsWhenNoJvmtiIsOffered) {
    jvm.getEnvResults.erase(JVMTI_VERSION_1_1);
    EXPECT_EQ(attach("agent-threads"),
              (Lines{"zentaro> Protocol version 1",
                     "zentaro> The Java Virtual Machine Tool Interface (JVMTI) is not present. Exiting."}));
    EXPECT_EQ(jvm.calls, (Lines{"GetEnv 0x30010100", "GetEnv 0x30010000"}));
}

TEST_F(Startup, StopsOnAnyOtherJvmtiFailureWithoutAskingForOneZero) {
    jvm.getEnvResults[JVMTI_VERSION_1_1] = JNI_ERR;
    jvm.getEnvResults[JVMTI_VERSION_1_0] = JNI_OK;
    EXPECT_EQ(attach(nullptr), (Lines{"zentaro> Protocol version 1",
                                      "zentaro> Could not get the JVMTI environment (code: -1). Exiting."}));
    EXPECT_EQ(jvm.calls, (Lines{"GetEnv 0x30010100"}));
}

TEST_F(Startup, RefusedCapabilityPrintsTheBannerAndGoesOn) {
    jvm.addCapabilitiesResult = JVMTI_ERROR_NOT_AVAILABLE;
    EXPECT_EQ(attach(nullptr),
              (Lines{"zentaro> Protocol version 1", "zentaro> 64-bit library", "zentaro> " + stars,
                     "zentaro> ERROR: Could not get all profiling capabilities. (code: 98)",
                     "zentaro> Some profiling functionality won't work correctly.", "zentaro> " + stars,
                     "zentaro> Native library initialized"}));
    EXPECT_TRUE(called("Enable 51 all threads"));
}

TEST_F(Startup, JavaVersionFromJavaWhenJniIsThere) {
    struct Case {
        const char* what;
        void (*script)(ScriptedJvm&);
        bool asksJava;
        bool readsValue;
    } cases[] = {
        {"value", [](ScriptedJvm&) {}, true, true},
        {"null value", [](ScriptedJvm& j) { j.javaProperties.clear(); }, true, false},
        {"throws", [](ScriptedJvm& j) { j.throwingProperties.insert("java.version"); }, true, false},
        {"no JNI", [](ScriptedJvm& j) { j.getEnvResults.erase(JNI_VERSION_1_4); }, false, false},
        {"no system properties", [](ScriptedJvm& j) { j.jvmtiProperties.clear(); }, true, true},
    };
    for (const Case& c : cases) {
        ScriptedJvm scripted;
        c.script(scripted);
        AgentLibrary fresh;
        CaptureStderr();
        fresh.attach(scripted.vm(), nullptr);
        Lines console = lines(GetCapturedStderr());
        EXPECT_EQ(console.back(), "zentaro> Native library initialized") << c.what;
        EXPECT_EQ(std::count(console.begin(), console.end(), "zentaro> Could not get JNIEnv"),
                  c.asksJava ? 0 : 1)
            << c.what;
        EXPECT_EQ(std::count(scripted.calls.begin(), scripted.calls.end(), "Call getProperty java.version"),
                  c.asksJava ? 1 : 0)
            << c.what;
        EXPECT_FALSE(scripted.exceptionPending) << c.what;
        EXPECT_EQ(scripted.outstandingUtfChars, 0) << c.what;
        EXPECT_EQ(scripted.outstandingAllocations, 0) << c.what;
    }
}

TEST_F(Startup, StopsWhenAMonitorCannotBeCreated) {
    for (const char* monitor : {"_zentaro_native", "_zentaro_native_sleep"}) {
        ScriptedJvm scripted;
        scripted.failingMonitors.insert(monitor);
        AgentLibrary fresh;
        CaptureStderr();
        EXPECT_EQ(fresh.attach(scripted.vm(), nullptr), 0);
        EXPECT_EQ(lines(GetCapturedStderr()), (Lines{"zentaro> Protocol version 1",
                                                     std::string("zentaro> Could not create raw monitor ") +
                                                         monitor + " (code: 110). Exiting."}));
        EXPECT_EQ(std::count(scripted.calls.begin(), scripted.calls.end(), "AddCapabilities"), 0) << monitor;
    }
}

TEST_F(Startup, ASecondAttachLeavesTheAgentAlone) {
    attach("agent-threads");
    jvm.calls.clear();
    EXPECT_EQ(
        attach("save-thread-start"),
        (Lines{"zentaro> Protocol version 1", "zentaro> Native library already initialized; this attach is "
                                              "ignored."}));
    EXPECT_TRUE(jvm.calls.empty());
}

// --- the natives ---

typedef void(JNICALL* Record)(JNIEnv*, jclass, jlong, jboolean, jboolean, jbyteArray);
typedef void(JNICALL* SetFilters)(JNIEnv*, jclass, jobjectArray, jboolean, jobjectArray, jboolean);
typedef void(JNICALL* AddNetioClass)(JNIEnv*, jclass, jstring, jobjectArray, jobjectArray);
typedef jlong(JNICALL* CreateInterceptionMethodId)(JNIEnv*, jclass, jstring);
typedef void(JNICALL* AssociateThread)(JNIEnv*, jclass, jobject, jboolean, jobject);
typedef void(JNICALL* DebugOut0)(JNIEnv*, jclass, jint, jint, jstring);

const char* const prefix = "Java_com_zentaro_agent_callee_JvmtiCallee_";

TEST(Natives, AllSixAreExported) {
    AgentLibrary agent;
    ASSERT_TRUE(agent.loaded());
    for (const char* name : {"record", "setFilters", "addNetioClass", "createInterceptionMethodId",
                             "associateThread", "debugOut0"})
        EXPECT_NE(agent.symbol((std::string(prefix) + name).c_str()), nullptr) << name;
    EXPECT_NE(agent.symbol("Agent_OnAttach"), nullptr);
    EXPECT_EQ(agent.symbol("Agent_OnLoad"), nullptr);
}

TEST(Natives, DoNothingBeforeStartUp) {
    ScriptedJvm jvm;
    AgentLibrary agent;
    JNIEnv* env = jvm.jni();
    jclass callee = static_cast<jclass>(jvm.object("class JvmtiCallee"));
    jobject strings = jvm.object("String[]");
    CaptureStderr();
    agent.function<Record>((std::string(prefix) + "record").c_str())(
        env, callee, 10, JNI_TRUE, JNI_FALSE, static_cast<jbyteArray>(jvm.object("bytes")));
    agent.function<SetFilters>((std::string(prefix) + "setFilters").c_str())(
        env, callee, static_cast<jobjectArray>(strings), JNI_FALSE, static_cast<jobjectArray>(strings),
        JNI_TRUE);
    agent.function<AddNetioClass>((std::string(prefix) + "addNetioClass").c_str())(
        env, callee, jvm.newString("java.net.Socket"), nullptr, nullptr);
    jlong id = agent.function<CreateInterceptionMethodId>(
        (std::string(prefix) + "createInterceptionMethodId").c_str())(env, callee,
                                                                      jvm.newString("__hvs_transaction"));
    agent.function<AssociateThread>((std::string(prefix) + "associateThread").c_str())(
        env, callee, jvm.object("thread"), JNI_TRUE, jvm.object("manager"));
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(id, 0);
    EXPECT_TRUE(jvm.calls.empty());
}

TEST(Natives, DebugOutNeedsNoStartUpAndWritesPlainText) {
    testsupport::ScratchDirectory profile;
    testsupport::setEnvironment("USERPROFILE", profile.path().string());
    ScriptedJvm jvm;
    AgentLibrary agent;
    auto debugOut0 = agent.function<DebugOut0>((std::string(prefix) + "debugOut0").c_str());
    auto file = profile.path() / "zentaro.native.debug.out";
    CaptureStderr();
    debugOut0(jvm.jni(), nullptr, 3, 1, jvm.newString("dropped"));
    EXPECT_FALSE(std::filesystem::exists(file));
    debugOut0(jvm.jni(), nullptr, 3, 0, jvm.newString("kept %s %d"));
    debugOut0(jvm.jni(), nullptr, 0, -2, jvm.newString(" and more"));
    EXPECT_EQ(GetCapturedStderr(), "zentaro> writing debug output to " + file.string() + ".\n");
    EXPECT_EQ(testsupport::readFile(file), "kept %s %d and more");
    EXPECT_EQ(jvm.outstandingUtfChars, 0);
    testsupport::unsetEnvironment("USERPROFILE");
}

} // namespace
