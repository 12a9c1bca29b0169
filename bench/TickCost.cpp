// Our share of a sampling tick against the JVM's own stack walk, side by side in one run.
//
// Ours: the time of sampleTick against the scripted JVM, minus the time the scripted JVM spends
// answering the stack request (its copying and bookkeeping stand in for the JVM's walk). The JVM:
// the time OpenJDK, created in this process, spends in GetThreadListStackTraces for the same
// number of threads parked at the same depth. Variants alternate within each round.
#include "CallTreeSampler.h"
#include "ClassProfilingSession.h"
#include "ProfilingSession.h"
#include "Sampler.h"
#include "ScriptedJvm.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <jni.h>
#include <jvmti.h>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int64_t nanosSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

// The scripted JVM's environment with its stack answer timed. Same layout as the double's own
// environment slot, so that the double finds itself behind this pointer too.
struct TimedEnvironment {
    jvmtiEnv env;
    ScriptedJvm* owner;
};
jvmtiInterface_1_ timedTable;
jvmtiEnv* scriptedEnv = nullptr;
int64_t answerNanos = 0;

jvmtiError JNICALL timedStackTraces(jvmtiEnv*, jint count, const jthread* threads, jint maxFrames,
                                    jvmtiStackInfo** result) {
    Clock::time_point start = Clock::now();
    jvmtiError error =
        scriptedEnv->functions->GetThreadListStackTraces(scriptedEnv, count, threads, maxFrames, result);
    answerNanos += nanosSince(start);
    return error;
}

// Microseconds of our own work per tick for threads x depth, steady or changing stacks.
double ourTickMicros(int threads, int depth, bool changing) {
    ScriptedJvm jvm;
    scriptedEnv = jvm.jvmti();
    timedTable = *scriptedEnv->functions;
    timedTable.GetThreadListStackTraces = timedStackTraces;
    TimedEnvironment timed{{&timedTable}, &jvm};
    jvmti = &timed.env;
    methodTable.clear();
    classSignatureTable.clear();
    lineNumberCache.clear();
    session.classProfilingSession = new ClassProfilingSession();
    ThreadRegistry registry;
    threadRegistry = session.threadRegistry = &registry;
    Sampler tickSampler(5, 40);

    std::vector<jmethodID> methods;
    for (int i = 0; i < depth + depth / 2; i++)
        methods.push_back(jvm.method("Lbench/Level" + std::to_string(i % 50) + ";", "m" + std::to_string(i),
                                     "()V", {{0, 10 + i}, {8, 20 + i}}));
    std::vector<jvmtiFrameInfo> steady, other;
    for (int i = 0; i < depth; i++) {
        steady.push_back({methods[depth - 1 - i], 4});
        // The inner half of the other stack runs through other methods.
        other.push_back({i < depth / 2 ? methods[depth + i] : methods[depth - 1 - i], 4});
    }
    std::vector<std::vector<jvmtiFrameInfo>> alternates(threads, other);
    std::vector<ScriptedJvm::Thread*> scripted;
    for (int t = 0; t < threads; t++) {
        jthread thread = jvm.thread("t" + std::to_string(t));
        scripted.push_back(&jvm.threadOf(thread));
        scripted.back()->samples = {{JVMTI_THREAD_STATE_ALIVE | JVMTI_THREAD_STATE_RUNNABLE, steady}};
        registerThread(thread, jvm.jni());
    }
    if (changing)
        jvm.onStackTraces = [&] {
            for (int t = 0; t < threads; t++)
                scripted[t]->samples.front().frames.swap(alternates[t]);
        };

    int ticks = std::clamp(4000000 / (threads * depth), 10, 400);
    int64_t now = 1000000000;
    for (int i = 0; i < 4; i++) // first sight of every method and node
        tickSampler.sampleTick(jvm.jni(), now += 5000, 5000, false);
    answerNanos = 0;
    int64_t total = 0;
    for (int i = 0; i < ticks; i++) {
        jvm.calls.clear();
        Clock::time_point start = Clock::now();
        tickSampler.sampleTick(jvm.jni(), now += 5000, 5000, false);
        total += nanosSince(start);
    }
    double ours = static_cast<double>(total - answerNanos) / ticks / 1000.0;

    releaseThreadRecords(jvm.jni());
    tickSampler.clearThreadTable();
    threadRegistry = session.threadRegistry = nullptr;
    jvmti = nullptr;
    return ours;
}

struct RealJvm {
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    jvmtiEnv* tools = nullptr;
    jclass deepThreads = nullptr;
};

bool createJvm(RealJvm& jvm, const char* classPath) {
    std::string option = std::string("-Djava.class.path=") + classPath;
    JavaVMOption options[] = {{const_cast<char*>(option.c_str()), nullptr}};
    JavaVMInitArgs args{JNI_VERSION_1_8, 1, options, JNI_FALSE};
    if (JNI_CreateJavaVM(&jvm.vm, reinterpret_cast<void**>(&jvm.env), &args) != JNI_OK)
        return false;
    jvm.vm->GetEnv(reinterpret_cast<void**>(&jvm.tools), JVMTI_VERSION_1_1);
    jvm.deepThreads = jvm.env->FindClass("DeepThreads");
    return jvm.tools != nullptr && jvm.deepThreads != nullptr;
}

// The parked threads of one round, found by their name prefix.
std::vector<jthread> parkedThreads(RealJvm& jvm, int count, int depth, const std::string& prefix) {
    jmethodID start = jvm.env->GetStaticMethodID(jvm.deepThreads, "start", "(IILjava/lang/String;)V");
    jvm.env->CallStaticVoidMethod(jvm.deepThreads, start, count, depth,
                                  jvm.env->NewStringUTF(prefix.c_str()));
    jint all = 0;
    jthread* threads = nullptr;
    jvm.tools->GetAllThreads(&all, &threads);
    std::vector<jthread> found;
    for (jint i = 0; i < all; i++) {
        jvmtiThreadInfo info{};
        if (jvm.tools->GetThreadInfo(threads[i], &info) == JVMTI_ERROR_NONE && info.name != nullptr &&
            std::string(info.name).rfind(prefix + "-", 0) == 0)
            found.push_back(threads[i]);
        jvm.tools->Deallocate(reinterpret_cast<unsigned char*>(info.name));
    }
    jvm.tools->Deallocate(reinterpret_cast<unsigned char*>(threads));
    return found;
}

double jvmWalkMicros(RealJvm& jvm, const std::vector<jthread>& threads, int depth) {
    int walks = std::clamp(2000000 / (static_cast<int>(threads.size()) * depth), 5, 200);
    int64_t total = 0;
    for (int i = 0; i < walks; i++) {
        jvmtiStackInfo* info = nullptr;
        Clock::time_point start = Clock::now();
        jvm.tools->GetThreadListStackTraces(static_cast<jint>(threads.size()), threads.data(), 1000, &info);
        total += nanosSince(start);
        jvm.tools->Deallocate(reinterpret_cast<unsigned char*>(info));
    }
    return static_cast<double>(total) / walks / 1000.0;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CLASSPATH_OF_DEEPTHREADS\n", argv[0]);
        return 2;
    }
    RealJvm jvm;
    if (!createJvm(jvm, argv[1])) {
        std::fprintf(stderr, "could not create the JVM or find DeepThreads\n");
        return 1;
    }
    jmethodID release = jvm.env->GetStaticMethodID(jvm.deepThreads, "release", "()V");
    std::printf("Our share of a tick (sampleTick minus the scripted stack answer) against OpenJDK's\n"
                "GetThreadListStackTraces for the same threads, parked at the same depth; medians of 3\n"
                "alternating rounds, microseconds per tick. Goal: ours/JVM <= 0.10.\n\n");
    std::printf("%7s %6s | %10s | %10s %7s | %10s %7s\n", "threads", "depth", "JVM walk", "ours steady",
                "ratio", "ours chg", "ratio");
    const int rows[][2] = {{16, 10},    {16, 100},  {16, 1000},  {100, 10},   {100, 100},
                           {100, 1000}, {1000, 10}, {1000, 100}, {1000, 1000}};
    int serial = 0;
    for (const auto& row : rows) {
        int threads = row[0], depth = row[1];
        std::vector<double> walk, steady, changing;
        std::vector<jthread> parked = parkedThreads(jvm, threads, depth, "deep" + std::to_string(serial++));
        if (static_cast<int>(parked.size()) != threads) {
            std::fprintf(stderr, "found %zu parked threads instead of %d\n", parked.size(), threads);
            return 1;
        }
        for (int round = 0; round < 3; round++) {
            walk.push_back(jvmWalkMicros(jvm, parked, depth));
            steady.push_back(ourTickMicros(threads, depth, false));
            changing.push_back(ourTickMicros(threads, depth, true));
        }
        jvm.env->CallStaticVoidMethod(jvm.deepThreads, release);
        for (jthread thread : parked)
            jvm.env->DeleteLocalRef(thread);
        double w = median(walk), s = median(steady), c = median(changing);
        std::printf("%7d %6d | %10.1f | %10.1f %7.3f | %10.1f %7.3f\n", threads, depth, w, s, s / w, c,
                    c / w);
        std::fflush(stdout);
    }
    return 0;
}
