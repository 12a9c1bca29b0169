// Sampling ticks against scripted stacks, checked on the call trees of the written snapshot.
#include "SamplingFixture.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace {

class Sampling : public SamplingFixture {
  protected:
    void SetUp() override {
        SamplingFixture::SetUp();
        outer = jvm.method("Lcom/acme/Main;", "main", "()V", {{0, 10}, {5, 11}, {9, 12}});
        middle = jvm.method("Lcom/acme/Work;", "step", "()V", {{0, 20}, {4, 21}});
        inner = jvm.method("Lcom/acme/Work;", "compute", "()V", {{0, 30}, {6, 31}, {12, 32}});
    }
    std::vector<jvmtiFrameInfo> stack(jlocation innerAt = 0, jlocation middleAt = 4) {
        return {frame(inner, innerAt), frame(middle, middleAt), frame(outer, 5)};
    }
    int callsStartingWith(const std::string& prefix) const {
        return static_cast<int>(
            std::count_if(jvm.calls.begin(), jvm.calls.end(), [&](const std::string& call) {
                return call.compare(0, prefix.size(), prefix) == 0;
            }));
    }
    // The thread names of each stack request, in request order.
    std::vector<std::set<std::string>> requestedThreads() const {
        std::vector<std::set<std::string>> requests;
        for (const std::string& call : jvm.calls) {
            if (call.compare(0, 25, "GetThreadListStackTraces ") != 0)
                continue;
            std::istringstream names(call.substr(25, call.find(" max ") - 25));
            std::set<std::string> request;
            for (std::string name; std::getline(names, name, ',');)
                request.insert(name);
            requests.push_back(request);
        }
        return requests;
    }

    jmethodID outer, middle, inner;
};

TEST_F(Sampling, IdenticalSamplesChargeTheSameNodeWithoutNewLookups) {
    worker("worker", {runnable(stack()), runnable(stack())});
    tick(5000);
    tick(7000);
    EXPECT_EQ(treeOf("worker"), "root r=12000\n"
                                "  Main.main@0 r=12000\n"
                                "    Work.step@11 r=12000\n"
                                "      Work.compute@21 r=12000\n");
    EXPECT_EQ(callsStartingWith("GetMethodName"), 3) << "each method is described once";
    EXPECT_EQ(callsStartingWith("GetLineNumberTable"), 3) << "line tables are read once per method";
}

TEST_F(Sampling, MovedFramesAreLeftAndEnteredAgainUnderTheCallersLine) {
    worker("worker", {runnable(stack(0)), runnable(stack(12)), runnable(stack(0, 0))});
    tick(5000); // compute called from step's line 21
    tick(5000); // compute moved inside itself: same node
    tick(5000); // step moved to line 20: compute is a new child
    EXPECT_EQ(treeOf("worker"), "root r=15000\n"
                                "  Main.main@0 r=15000\n"
                                "    Work.step@11 r=15000\n"
                                "      Work.compute@20 r=5000\n"
                                "      Work.compute@21 r=10000\n");
}

TEST_F(Sampling, DeeperAndShallowerSamplesLeaveAndEnterOnlyTheDifference) {
    std::vector<jvmtiFrameInfo> full = stack(), two = {frame(middle, 4), frame(outer, 5)},
                                one = {frame(outer, 5)};
    worker("worker", {runnable(two), runnable(full), runnable(one), runnable(full), runnable(two)});
    for (int64_t elapsed : {1000, 2000, 3000, 4000, 5000})
        tick(elapsed);
    EXPECT_EQ(treeOf("worker"), "root r=15000\n"
                                "  Main.main@0 r=15000\n"
                                "    Work.step@11 r=12000\n"
                                "      Work.compute@21 r=6000\n");
}

TEST_F(Sampling, LineOfALocationIsTheRangeThatHoldsIt) {
    jmethodID method = jvm.method("Lcom/acme/A;", "lines", "()V", {{2, 30}, {6, 31}, {12, 32}});
    jmethodID without = jvm.method("Lcom/acme/A;", "native", "()V");
    jvm.methodOf(without).lineTableError = JVMTI_ERROR_NATIVE_METHOD;
    struct Case {
        jmethodID method;
        jlocation location;
        int32_t line;
    } cases[] = {{method, 0, 0},   {method, 2, 30},   {method, 5, 30}, {method, 6, 31},
                 {method, 12, 32}, {method, 500, 32}, {without, 3, 0}, {without, 0, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(lineNumberOf(c.method, c.location), c.line) << "location " << c.location;
    EXPECT_EQ(callsStartingWith("GetLineNumberTable"), 2) << "a method without lines is asked once";
    EXPECT_EQ(jvm.outstandingAllocations, 0);
}

TEST_F(Sampling, OnlyIgnoredFramesChargeNothing) {
    jmethodID agentMethod = jvm.method("Lcom/zentaro/agent/Probe;", "run", "()V");
    worker("worker", {runnable({frame(agentMethod, 0)})});
    sampler->tickCounter = sampler->cycleLength - 1; // the next tick is a full tick
    tick(5000);
    snapshotbytes::File file = snapshot();
    const snapshotbytes::Thread* thread = file.thread("worker");
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(file.tree(thread->root), "root r=0\n");
    EXPECT_TRUE(thread->states.empty()) << "an uncharged sample does not enter the history";
}

TEST_F(Sampling, MarkerCutsItselfAndEverythingInsideIt) {
    jmethodID marker = jvm.method("Lcom/acme/Work;", "__hvs_enter", "()V");
    std::vector<jvmtiFrameInfo> frames = {frame(inner, 0), frame(marker, 0), frame(middle, 4),
                                          frame(outer, 5)};
    worker("worker", {runnable(frames), runnable(frames)});
    tick(5000);
    tick(5000);
    EXPECT_EQ(treeOf("worker"), "root r=10000\n"
                                "  Main.main@0 r=10000\n"
                                "    Work.step@11 r=10000\n");
}

TEST_F(Sampling, TransactionsAreTheOutermostNodesAndTheirEndReentersTheStack) {
    worker("worker", {runnable(stack())});
    MethodDesc* checkout = session.classProfilingSession->createInterceptionMethod("checkout");
    jobject manager = jvm.threadManager({static_cast<jlong>(reinterpret_cast<intptr_t>(checkout))});
    threadRegistry->back()->threadManager = env()->NewGlobalRef(manager);
    tick(5000, true);
    jvm.transactionsOf(manager).clear();
    tick(3000, true);
    EXPECT_EQ(treeOf("worker"), "root r=8000\n"
                                "  Main.main@0 r=3000\n"
                                "    Work.step@11 r=3000\n"
                                "      Work.compute@21 r=3000\n"
                                "  _kalvimeter_annotation_class.checkout@0 r=5000\n"
                                "    Main.main@0 r=5000\n"
                                "      Work.step@11 r=5000\n"
                                "        Work.compute@21 r=5000\n");
    EXPECT_EQ(callsStartingWith("Call initSamplingState"), 2);
    EXPECT_EQ(callsStartingWith("Call getSamplingTransactionIds"), 2);
    EXPECT_EQ(jvm.outstandingArrayElements, 0);
}

TEST_F(Sampling, MoreThanElevenTransactionsKeepTheOutermostEleven) {
    worker("worker", {runnable(stack())});
    std::vector<jlong> ids;
    for (int i = 0; i < 13; i++) {
        MethodDesc* method =
            session.classProfilingSession->createInterceptionMethod(("tx" + std::to_string(i)).c_str());
        ids.push_back(static_cast<jlong>(reinterpret_cast<intptr_t>(method)));
    }
    threadRegistry->back()->threadManager = env()->NewGlobalRef(jvm.threadManager(ids));
    testing::internal::CaptureStderr();
    tick(5000, true);
    tick(5000, true);
    std::string console = testing::internal::GetCapturedStderr();
    EXPECT_EQ(console,
              "zentaro> More than 11 nested transactions in one sample; the innermost are left out.\n");
    std::string tree = treeOf("worker");
    EXPECT_NE(tree.find("tx10@0 r=10000\n"), std::string::npos) << tree;
    EXPECT_EQ(tree.find("tx11"), std::string::npos) << tree;
    EXPECT_NE(tree.find("Work.compute@21 r=10000"), std::string::npos) << "steady ids change nothing";
}

TEST_F(Sampling, WithoutTrackingTheJavaSideIsNeverCalled) {
    worker("worker", {runnable(stack())});
    threadRegistry->back()->threadManager = env()->NewGlobalRef(jvm.threadManager({}));
    tick(5000);
    tick(5000);
    EXPECT_EQ(callsStartingWith("Call "), 0);
}

TEST_F(Sampling, ChargesTimeByStateAndRecordsStateChangesOnFullTicks) {
    jmethodID a = jvm.method("Lcom/acme/A;", "a", "()V", {{0, 100}});
    jmethodID b = jvm.method("Lcom/acme/A;", "b", "()V", {{0, 200}});
    jmethodID c = jvm.method("Lcom/acme/A;", "c", "()V", {{0, 300}});
    jmethodID read = jvm.method("Lcom/acme/Net;", "read", "()I", {{0, 400}});
    registerNetioClass("com.acme.Net", nullptr);
    std::vector<jvmtiFrameInfo> frames = {frame(c, 0), frame(b, 0), frame(a, 0)};
    std::vector<jvmtiFrameInfo> reading = {frame(read, 0), frame(c, 0), frame(b, 0), frame(a, 0)};
    worker("worker", {runnable(frames), inState(JVMTI_THREAD_STATE_BLOCKED_ON_MONITOR_ENTER, frames),
                      inState(JVMTI_THREAD_STATE_WAITING | JVMTI_THREAD_STATE_WAITING_INDEFINITELY, frames),
                      runnable(reading), runnable(frames)});
    sampler->cycleLength = 1; // every tick is a full tick
    std::vector<int64_t> times;
    for (int64_t elapsed : {5000, 3000, 2000, 4000, 100000}) {
        tick(elapsed);
        times.push_back(now / 10000 * 10000);
    }
    snapshotbytes::File file = snapshot();
    const snapshotbytes::Thread* thread = file.thread("worker");
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(file.tree(thread->root), "root r=105000\n"
                                       "  A.a@0 r=105000\n"
                                       "    A.b@100 r=105000\n"
                                       "      A.c@200 r=105000 b=3000 w=2000 n=0\n"
                                       "        Net.read@300 r=0 b=0 w=0 n=4000\n");
    std::vector<std::pair<uint8_t, int64_t>> expected = {
        {63, times[0]}, {64, times[1]}, {65, times[2]}, {66, times[3]}, {63, times[4]}};
    EXPECT_EQ(thread->states, expected);
}

TEST_F(Sampling, FullTicksFollowTheCounterWhereverItLeftOff) {
    worker("worker", {runnable(stack())});
    sampler->tickCounter = 38;
    tick(5000);
    EXPECT_EQ(sampler->tickCounter, 39);
    tick(5000);
    EXPECT_EQ(sampler->tickCounter, 0);
    tick(5000);
    snapshotbytes::File file = snapshot();
    std::vector<std::pair<uint8_t, int64_t>> expected = {{63, (now - 5000) / 10000 * 10000}};
    EXPECT_EQ(file.thread("worker")->states, expected);
}

TEST_F(Sampling, ExcludedThreadsAreNeverRequested) {
    worker("worker", {runnable(stack())});
    worker("AWT-Windows2", {runnable(stack())});
    worker("DestroyJavaVM", {runnable(stack())});
    worker("_ZENTARO_sender", {runnable(stack())});
    worker("Finalizer", {runnable(stack())}, "system");
    tick(5000);
    tick(5000);
    std::set<std::string> sampled = {"worker", "AWT-Windows2"};
    EXPECT_EQ(requestedThreads(), std::vector<std::set<std::string>>(2, sampled));
    snapshotbytes::File file = snapshot();
    for (const snapshotbytes::Thread& thread : file.threads)
        EXPECT_EQ(thread.excluded, sampled.count(thread.name) == 0) << thread.name;
    EXPECT_EQ(file.thread("Finalizer")->group, "system");

    recordAgentThreads = true;
    worker("_zentaro_second", {runnable(stack())});
    EXPECT_FALSE(threadRegistry->back()->excluded) << "agent threads are sampled when asked for";
}

TEST_F(Sampling, AThreadThatEndsGetsItsEndTimeAndIsSampledNoMore) {
    worker("worker", {runnable(stack()), {JVMTI_THREAD_STATE_TERMINATED, {}}});
    worker("other", {runnable(stack())});
    int weakBefore = jvm.liveWeakReferences();
    tick(5000);
    tick(5000);
    int64_t endedAt = now;
    tick(5000);
    std::vector<std::set<std::string>> expected = {{"worker", "other"}, {"worker", "other"}, {"other"}};
    EXPECT_EQ(requestedThreads(), expected);
    EXPECT_EQ(jvm.liveWeakReferences(), weakBefore - 1) << "the ended thread's reference is deleted";
    snapshotbytes::File file = snapshot();
    EXPECT_GE(file.thread("worker")->end, endedAt);
    EXPECT_EQ(file.thread("other")->end, -1);
    EXPECT_EQ(file.tree(file.thread("worker")->root), "root r=5000\n"
                                                      "  Main.main@0 r=5000\n"
                                                      "    Work.step@11 r=5000\n"
                                                      "      Work.compute@21 r=5000\n");
}

TEST_F(Sampling, ACollectedThreadIsLeftOutAndAFailedRequestMergesNothing) {
    jthread gone = worker("gone", {runnable(stack())});
    worker("worker", {runnable(stack())});
    jvm.collect(gone);
    tick(5000);
    jvm.stackTracesError = JVMTI_ERROR_OUT_OF_MEMORY;
    tick(5000);
    std::vector<std::set<std::string>> expected = {{"worker"}, {"worker"}};
    EXPECT_EQ(requestedThreads(), expected);
    EXPECT_NE(treeOf("worker").find("root r=5000\n"), std::string::npos);
    EXPECT_EQ(jvm.liveLocalReferences(), 0) << "every tick pops its local frame";
    EXPECT_EQ(jvm.outstandingAllocations, 0);
}

} // namespace
