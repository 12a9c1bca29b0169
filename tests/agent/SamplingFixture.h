// The agent's sampling state wired to a scripted JVM, ticked by hand with chosen times, and the
// snapshot it writes read back from the file.
#pragma once

#include "CallTreeSampler.h"
#include "ClassProfilingSession.h"
#include "ProfilingSession.h"
#include "Recording.h"
#include "Sampler.h"
#include "ScriptedJvm.h"
#include "SnapshotBytes.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class SamplingFixture : public testing::Test {
  protected:
    void SetUp() override {
        methodTable.clear();
        classSignatureTable.clear();
        netioClassTable.clear();
        lineNumberCache.clear();
        ignoredClassPatterns.clear();
        recordAgentClasses = false;
        recordAgentThreads = false;
        vmDead = false;
        jvmti = jvm.jvmti();
        jvm.currentThread = jvm.thread("recorder");
        session.classProfilingSession = new ClassProfilingSession();
        threadRegistry = new ThreadRegistry();
        session.threadRegistry = threadRegistry;
        sampler = new Sampler(5, 40);
        session.sampler = sampler;
        recordingStartTime = now;
    }
    void TearDown() override {
        releaseThreadRecords(env());
        delete sampler;
        sampler = session.sampler = nullptr;
        delete threadRegistry;
        threadRegistry = session.threadRegistry = nullptr;
        methodTable.clear();
        classSignatureTable.clear();
        netioClassTable.clear();
        lineNumberCache.clear();
        jvmti = nullptr;
    }

    JNIEnv* env() { return jvm.jni(); }

    // A worker thread with its samples, registered as record does it.
    jthread worker(const std::string& name, std::vector<ScriptedJvm::Sample> samples,
                   const std::string& group = "main") {
        jthread thread = jvm.thread(name, group);
        jvm.threadOf(thread).samples.assign(samples.begin(), samples.end());
        registerThread(thread, env());
        return thread;
    }
    void tick(int64_t elapsed, bool trackTransactions = false) {
        now += elapsed;
        if (trackTransactions)
            sampler->resolveThreadManager(env());
        sampler->sampleTick(env(), now, elapsed, trackTransactions);
    }
    // Writes the snapshot and reads it back; the test fails on a damaged file.
    snapshotbytes::File snapshot() {
        std::u16string path = scratch.path().u16string() + u"/snapshot.bin";
        EXPECT_TRUE(writeSnapshot(path.c_str(), env()));
        snapshotbytes::File file;
        std::string error;
        EXPECT_TRUE(snapshotbytes::readFile((scratch.path() / "snapshot.bin").string(), file, error))
            << error;
        return file;
    }
    std::string treeOf(const std::string& threadName) {
        snapshotbytes::File file = snapshot();
        const snapshotbytes::Thread* thread = file.thread(threadName);
        return thread == nullptr ? "no thread " + threadName : file.tree(thread->root);
    }

    static jvmtiFrameInfo frame(jmethodID method, jlocation location) {
        return jvmtiFrameInfo{method, location};
    }
    static ScriptedJvm::Sample runnable(std::vector<jvmtiFrameInfo> frames) {
        return {JVMTI_THREAD_STATE_ALIVE | JVMTI_THREAD_STATE_RUNNABLE, frames};
    }
    static ScriptedJvm::Sample inState(jint state, std::vector<jvmtiFrameInfo> frames) {
        return {JVMTI_THREAD_STATE_ALIVE | state, frames};
    }

    ScriptedJvm jvm;
    testsupport::ScratchDirectory scratch;
    int64_t now = 1000000000;
};
