// Recordings and thread association through the exports of a freshly attached library, as the JVM
// calls them; the snapshot is read back from the file the recording wrote.
#include "AgentLibrary.h"
#include "ScriptedJvm.h"
#include "SnapshotBytes.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

typedef void(JNICALL* Record)(JNIEnv*, jclass, jlong, jboolean, jboolean, jbyteArray);
typedef void(JNICALL* AssociateThread)(JNIEnv*, jclass, jobject, jboolean, jobject);

const std::string prefix = "Java_com_zentaro_agent_callee_JvmtiCallee_";

class RecordingNatives : public testing::Test {
  protected:
    void SetUp() override {
        CaptureStderr();
        agent.attach(jvm.vm(), nullptr);
        GetCapturedStderr();
        globalsOfStartUp = jvm.liveGlobalReferences();
        callee = jvm.javaClass("com/zentaro/agent/callee/JvmtiCallee");
        jvm.currentThread = jvm.thread("main");
        work = jvm.method("Lcom/acme/Work;", "run", "()V", {{0, 40}, {8, 41}});
        helper = jvm.method("Lcom/acme/Work;", "helper", "()V", {{0, 50}});
        jvm.threadOf(jvm.currentThread).samples = {sample({frame(helper, 0), frame(work, 8)})};
    }

    static jvmtiFrameInfo frame(jmethodID method, jlocation location) {
        return jvmtiFrameInfo{method, location};
    }
    static ScriptedJvm::Sample sample(std::vector<jvmtiFrameInfo> frames,
                                      jint state = JVMTI_THREAD_STATE_ALIVE | JVMTI_THREAD_STATE_RUNNABLE) {
        return {state, frames};
    }
    // The path as the Java side passes it: UTF-16LE code units and a terminating zero unit.
    jbyteArray fileName(const std::filesystem::path& path) {
        std::vector<jbyte> bytes;
        for (char16_t unit : path.u16string() + u'\0') {
            bytes.push_back(static_cast<jbyte>(unit & 0xFF));
            bytes.push_back(static_cast<jbyte>(unit >> 8));
        }
        return jvm.byteArray(bytes);
    }
    std::string console(jlong millis, jboolean track, jbyteArray name) {
        CaptureStderr();
        record(jvm.jni(), callee, millis, track, JNI_FALSE, name);
        return GetCapturedStderr();
    }
    snapshotbytes::File recordAndRead(jlong millis, jboolean track = JNI_FALSE) {
        EXPECT_EQ(console(millis, track, fileName(snapshotPath)), "");
        snapshotbytes::File file;
        std::string error;
        EXPECT_TRUE(snapshotbytes::readFile(snapshotPath.string(), file, error)) << error;
        return file;
    }
    int count(const std::string& call) const {
        return static_cast<int>(std::count(jvm.calls.begin(), jvm.calls.end(), call));
    }
    int countStartingWith(const std::string& start) const {
        return static_cast<int>(
            std::count_if(jvm.calls.begin(), jvm.calls.end(), [&](const std::string& call) {
                return call.compare(0, start.size(), start) == 0;
            }));
    }
    // Everything per-thread is gone and every JNI and JVMTI resource given back.
    void expectReleased(const char* what) {
        EXPECT_EQ(jvm.liveWeakReferences(), 0) << what;
        EXPECT_EQ(jvm.liveGlobalReferences(), globalsOfStartUp) << what;
        EXPECT_EQ(jvm.liveLocalReferences(), 0) << what;
        EXPECT_EQ(jvm.outstandingAllocations, 0) << what;
        EXPECT_EQ(jvm.outstandingArrayElements, 0) << what;
        EXPECT_EQ(jvm.monitorDepth("_zentaro_native"), 0) << what;
        for (ScriptedJvm::Thread& thread : jvm.threads)
            EXPECT_EQ(thread.localStorage, nullptr) << what << ": " << thread.name;
    }

    ScriptedJvm jvm;
    AgentLibrary agent;
    testsupport::ScratchDirectory scratch;
    std::filesystem::path snapshotPath = scratch.path() / "recording-\u00e9.snapshot";
    jclass callee = nullptr;
    int globalsOfStartUp = 0;
    jmethodID work = nullptr, helper = nullptr;
    Record record = agent.function<Record>((prefix + "record").c_str());
    AssociateThread associate = agent.function<AssociateThread>((prefix + "associateThread").c_str());
};

TEST_F(RecordingNatives, AScriptedRecordingWritesEveryThreadWithItsTree) {
    jthread waiter = jvm.thread("waiter");
    jvm.threadOf(waiter).samples = {
        sample({frame(work, 0)}, JVMTI_THREAD_STATE_ALIVE | JVMTI_THREAD_STATE_WAITING)};
    jvm.thread("DestroyJavaVM");
    jthread late = jvm.thread("late");
    jvm.threadOf(late).alive = false;
    jvm.threadOf(late).samples = {sample({frame(work, 0)})};
    // A thread that starts during the recording, announced by the JVM on the first tick.
    jvm.onStackTraces = [&] {
        if (!jvm.threadOf(late).alive) {
            jvm.threadOf(late).alive = true;
            jvm.callbacks.ThreadStart(jvm.jvmti(), jvm.jni(), late);
        }
    };
    snapshotbytes::File file = recordAndRead(60);

    EXPECT_EQ(file.vmName, "Scripted VM");
    EXPECT_EQ(file.javaVersion, "17.0.9");
    std::vector<std::string> names;
    for (const snapshotbytes::Thread& thread : file.threads)
        names.push_back(thread.name);
    EXPECT_EQ(names, (std::vector<std::string>{"main", "waiter", "DestroyJavaVM", "late"}));
    const snapshotbytes::Node& mainRoot = file.thread("main")->root;
    ASSERT_EQ(mainRoot.children.size(), 1u);
    EXPECT_EQ(file.methodName(mainRoot.children[0].method), "Work.run");
    ASSERT_EQ(mainRoot.children[0].children.size(), 1u);
    const snapshotbytes::Node& leaf = mainRoot.children[0].children[0];
    EXPECT_EQ(file.methodName(leaf.method), "Work.helper");
    EXPECT_EQ(leaf.line, 41);
    EXPECT_GT(leaf.runnable, 0);
    EXPECT_EQ(mainRoot.runnable, leaf.runnable);
    const snapshotbytes::Node& waiting = file.thread("waiter")->root.children.at(0);
    EXPECT_TRUE(waiting.hasStateTimes);
    EXPECT_GT(waiting.waiting, 0);
    EXPECT_EQ(waiting.runnable, 0);
    EXPECT_TRUE(file.thread("DestroyJavaVM")->excluded);
    EXPECT_EQ(file.tree(file.thread("DestroyJavaVM")->root), "root r=0\n");
    EXPECT_FALSE(file.thread("late")->root.children.empty()) << "sampled from the tick after its start";

    for (const char* call :
         {"Enable 52 all threads", "Disable 52 all threads", "Call setThreadReporting true",
          "Call setThreadReporting false", "RawMonitorWait _zentaro_native_sleep 100"})
        EXPECT_EQ(count(call), 1) << call;
    EXPECT_EQ(countStartingWith("GetThreadListStackTraces"), countStartingWith("PushLocalFrame"));
    expectReleased("after the recording");
}

TEST_F(RecordingNatives, ZeroNegativeAndMissingFileNames) {
    struct Case {
        jlong millis;
        bool withFile;
    } cases[] = {{0, true}, {-20, true}, {0, false}};
    for (const Case& c : cases) {
        jvm.calls.clear();
        std::filesystem::remove(snapshotPath);
        EXPECT_EQ(console(c.millis, JNI_FALSE, c.withFile ? fileName(snapshotPath) : nullptr), "");
        EXPECT_EQ(countStartingWith("GetThreadListStackTraces"), 0) << c.millis;
        EXPECT_EQ(count("GetThreadInfo main"), 1) << "every live thread is registered";
        EXPECT_EQ(std::filesystem::exists(snapshotPath), c.withFile);
        if (c.withFile) {
            snapshotbytes::File file;
            std::string error;
            EXPECT_TRUE(snapshotbytes::readFile(snapshotPath.string(), file, error)) << error;
            ASSERT_EQ(file.threads.size(), 1u);
            EXPECT_GE(file.threads[0].start, file.recordingStart);
            EXPECT_EQ(file.threads[0].end, -1);
        }
        expectReleased(c.withFile ? "with a file" : "without a file");
    }
}

TEST_F(RecordingNatives, VmDeathEndsTheSamplingAndTheSnapshotIsStillWritten) {
    int requests = 0;
    jvm.onStackTraces = [&] {
        if (++requests == 2)
            jvm.callbacks.VMDeath(jvm.jvmti(), jvm.jni());
    };
    snapshotbytes::File file = recordAndRead(60000);
    EXPECT_EQ(requests, 2) << "no tick after the VM died";
    EXPECT_EQ(file.threads.size(), 1u);
    expectReleased("after the VM died");
}

TEST_F(RecordingNatives, ThreadFailuresAreReportedAndTheRecordingGoesOn) {
    jvm.threadOf(jvm.currentThread).setLocalStorageError = JVMTI_ERROR_OUT_OF_MEMORY;
    EXPECT_EQ(console(20, JNI_FALSE, fileName(snapshotPath)),
              "zentaro> Could not set thread local storage.\n");
    snapshotbytes::File file;
    std::string error;
    ASSERT_TRUE(snapshotbytes::readFile(snapshotPath.string(), file, error)) << error;
    ASSERT_EQ(file.threads.size(), 1u);
    EXPECT_FALSE(file.threads[0].root.children.empty()) << "the thread is sampled all the same";

    jvm.allThreadsError = JVMTI_ERROR_OUT_OF_MEMORY;
    EXPECT_EQ(console(0, JNI_FALSE, fileName(snapshotPath)), "zentaro> Could not get all threads\n");
    ASSERT_TRUE(snapshotbytes::readFile(snapshotPath.string(), file, error)) << error;
    EXPECT_TRUE(file.threads.empty());
    expectReleased("after the failures");
}

TEST_F(RecordingNatives, ASecondRecordDuringARecordingReturnsAtOnce) {
    bool called = false;
    jvm.onStackTraces = [&] {
        if (!called)
            record(jvm.jni(), callee, 1000, JNI_FALSE, JNI_FALSE, fileName(scratch.path() / "second"));
        called = true;
    };
    EXPECT_EQ(console(30, JNI_FALSE, fileName(snapshotPath)),
              "zentaro> A recording is already running; this one is ignored.\n");
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / "second"));
    snapshotbytes::File file;
    std::string error;
    EXPECT_TRUE(snapshotbytes::readFile(snapshotPath.string(), file, error)) << error;
    EXPECT_EQ(file.threads.size(), 1u) << "the running recording registered its threads once";
    expectReleased("after both");
}

TEST_F(RecordingNatives, AssociatedThreadsKeepTheirFirstManagerAndGiveTransactionIds) {
    jthread worker = jvm.thread("worker");
    jobject first = jvm.threadManager({});
    jobject second = jvm.threadManager({});
    associate(jvm.jni(), callee, worker, JNI_FALSE, first);
    associate(jvm.jni(), callee, worker, JNI_FALSE, second);
    EXPECT_EQ(count("GetThreadInfo worker"), 1) << "the second call finds the record";
    EXPECT_EQ(jvm.liveGlobalReferences(), globalsOfStartUp + 1) << "the first manager stays";

    jvm.threadOf(jvm.currentThread).infoError = JVMTI_ERROR_WRONG_PHASE;
    associate(jvm.jni(), callee, jvm.currentThread, JNI_TRUE, first);
    EXPECT_EQ(jvm.liveGlobalReferences(), globalsOfStartUp + 1) << "an unreadable thread stores nothing";
    jvm.threadOf(jvm.currentThread).infoError = JVMTI_ERROR_NONE;

    jvm.calls.clear();
    recordAndRead(20, JNI_TRUE);
    EXPECT_GT(count("Call initSamplingState"), 0);
    EXPECT_EQ(count("Call initSamplingState"), count("Call getSamplingTransactionIds"));
    expectReleased("after the recording");
}

TEST_F(RecordingNatives, ThreadsSeenOutsideARecordingAndAfterOneStartAfresh) {
    jthread early = jvm.thread("early");
    jvm.callbacks.ThreadStart(jvm.jvmti(), jvm.jni(), early);
    EXPECT_EQ(count("GetThreadInfo early"), 0) << "no recording: the start is not registered";

    jthread worker = jvm.thread("worker");
    associate(jvm.jni(), callee, worker, JNI_FALSE, jvm.threadManager({}));
    recordAndRead(0);
    // The released record must not be found again through the thread's local storage.
    jvm.calls.clear();
    associate(jvm.jni(), callee, worker, JNI_FALSE, jvm.threadManager({}));
    EXPECT_EQ(count("GetThreadInfo worker"), 1) << "a new record for the next recording";
    snapshotbytes::File file = recordAndRead(0);
    int workers =
        static_cast<int>(std::count_if(file.threads.begin(), file.threads.end(),
                                       [](const snapshotbytes::Thread& t) { return t.name == "worker"; }));
    EXPECT_EQ(workers, 2) << "the associated record and the one record makes for every live thread";
    expectReleased("after two recordings");
}

} // namespace
