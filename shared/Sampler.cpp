#include "Sampler.h"

#include "CallTreeSampler.h"
#include "ClassProfilingSession.h"
#include "DebugOutput.h"
#include "ProfilingSession.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

const char* const unit = "shared/Sampler";

const char* const excludedThreadNames[] = {"AWT-Motif", "AWT-Windows", "AWT-Shutdown", "DestroyJavaVM",
                                           "Poller SunPKCS11-Darwin"};

bool isExcluded(const char* name, const char* group) {
    if (name != nullptr && isAgentThreadName(name) && !recordAgentThreads)
        return true;
    if (name != nullptr)
        for (const char* excluded : excludedThreadNames)
            if (std::strcmp(name, excluded) == 0)
                return true;
    return group != nullptr && std::strcmp(group, "system") == 0;
}

bool inRegistry(const ThreadRecord* record) {
    return threadRegistry != nullptr &&
           std::find(threadRegistry->begin(), threadRegistry->end(), record) != threadRegistry->end();
}

void releaseThreadRecord(ThreadRecord* record, JNIEnv* env) {
    if (record->thread != nullptr) {
        // Its local storage must not name the record any more: a later lookup would use freed memory.
        if (jobject local = env->NewLocalRef(record->thread)) {
            void* stored = nullptr;
            if (jvmti->GetThreadLocalStorage(local, &stored) == JVMTI_ERROR_NONE && stored == record)
                jvmti->SetThreadLocalStorage(local, nullptr);
            env->DeleteLocalRef(local);
        }
        env->DeleteWeakGlobalRef(record->thread);
    }
    if (record->threadManager != nullptr)
        env->DeleteGlobalRef(record->threadManager);
    releaseCallTree(record->root);
    if (ThreadHistory* history = record->history) {
        std::free(history->name);
        std::free(history->group);
        delete history;
    }
    delete record;
}

} // namespace

ThreadRecord::ThreadRecord(jweak thread)
    : thread(thread), cursor(nullptr), root(newCallTreeNode(nullptr, 0)) {
    cursor = root;
}

int64_t currentTimeMicros() {
    return platform::monotonicMicros();
}

bool isAgentThreadName(const char* name) {
    static const char prefix[] = "_zentaro";
    for (size_t i = 0; i < sizeof prefix - 1; i++)
        if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i])
            return false; // also at the terminator of a shorter name
    return true;
}

ThreadRecord* registerThread(jthread thread, JNIEnv* env) {
    jvmtiThreadInfo info;
    std::memset(&info, 0, sizeof info);
    if (jvmti->GetThreadInfo(thread, &info) != JVMTI_ERROR_NONE)
        return nullptr;
    auto* record = new ThreadRecord(env->NewWeakGlobalRef(thread));
    threadRegistry->push_back(record);
    if (jvmti->SetThreadLocalStorage(thread, record) != JVMTI_ERROR_NONE)
        consoleMessage("Could not set thread local storage.");

    jvmtiThreadGroupInfo groupInfo;
    std::memset(&groupInfo, 0, sizeof groupInfo);
    const char* group = "";
    if (info.thread_group != nullptr &&
        jvmti->GetThreadGroupInfo(info.thread_group, &groupInfo) == JVMTI_ERROR_NONE &&
        groupInfo.name != nullptr)
        group = groupInfo.name;

    auto* history = new ThreadHistory;
    history->owner = record;
    history->name = copyString(info.name);
    history->group = copyString(group);
    history->start = currentTimeMicros();
    record->history = history;
    if (isExcluded(info.name, group)) {
        MonitorLock lock(agentMonitor);
        record->excluded = true;
        record->cursor = record->root;
    }

    jvmti->Deallocate(reinterpret_cast<unsigned char*>(info.name));
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(groupInfo.name));
    env->DeleteLocalRef(info.thread_group);
    env->DeleteLocalRef(info.context_class_loader);
    env->DeleteLocalRef(groupInfo.parent);
    return record;
}

ThreadRecord* threadRecordOf(jthread thread) {
    void* stored = nullptr;
    if (jvmti->GetThreadLocalStorage(thread, &stored) != JVMTI_ERROR_NONE || stored == nullptr)
        return nullptr;
    auto* record = static_cast<ThreadRecord*>(stored);
    return inRegistry(record) ? record : nullptr;
}

void threadEnded(ThreadRecord* record, JNIEnv* env) {
    record->state = threadTerminated;
    if (env == nullptr)
        return; // without an environment the references cannot be deleted; they stay owned
    env->DeleteWeakGlobalRef(record->thread);
    record->thread = nullptr;
    env->DeleteGlobalRef(record->threadManager);
    record->threadManager = nullptr;
}

void releaseThreadRecords(JNIEnv* env) {
    MonitorLock lock(agentMonitor);
    for (ThreadRecord* record : *threadRegistry)
        releaseThreadRecord(record, env);
    threadRegistry->clear();
}

void JNICALL onThreadStart(jvmtiEnv*, JNIEnv* env, jthread thread) {
    if (!agentStarted())
        return;
    MonitorLock lock(agentMonitor);
    if (recordingActive && threadRecordOf(thread) == nullptr)
        registerThread(thread, env);
}

extern "C" JNIEXPORT void JNICALL Java_com_zentaro_agent_callee_JvmtiCallee_associateThread(
    JNIEnv* env, jclass, jobject thread, jboolean current, jobject threadManager) {
    if (jvmti == nullptr || !agentStarted())
        return;
    MonitorLock lock(agentMonitor);
    ThreadRecord* record = threadRecordOf(current ? nullptr : thread);
    if (record == nullptr)
        record = registerThread(thread, env);
    if (record != nullptr && record->threadManager == nullptr && threadManager != nullptr)
        record->threadManager = env->NewGlobalRef(threadManager);
}

SamplingState::SamplingState(ThreadRecord* thread, int32_t capacity)
    : previousFrames(new jvmtiFrameInfo[capacity]), previousMethods(new MethodDesc*[capacity]),
      capacity(capacity), thread(thread) {}

SamplingState::~SamplingState() {
    delete[] previousFrames;
    delete[] previousMethods;
}

void Sampler::resolveThreadManager(JNIEnv* env) {
    if (getSamplingTransactionIds != nullptr)
        return;
    jclass threadManagerClass = env->FindClass("com/zentaro/agent/callee/JvmtiCallee$JvmtiThreadManager");
    AGENT_ASSERT(threadManagerClass, unit);
    initSamplingState = env->GetMethodID(threadManagerClass, "initSamplingState", "()V");
    AGENT_ASSERT(initSamplingState, unit);
    getSamplingTransactionIds = env->GetMethodID(threadManagerClass, "getSamplingTransactionIds", "()[J");
    AGENT_ASSERT(getSamplingTransactionIds, unit);
    env->DeleteLocalRef(threadManagerClass);
}

void Sampler::runSampling(JNIEnv* env, int64_t durationMillis, bool trackTransactions) {
    resolveThreadManager(env);
    platform::PeriodicTimer timer;
    if (!timer.start(period)) {
        consoleMessage("Could not start the sampling timer; nothing is sampled.");
        return;
    }
    // A timer that stops ticking must not hold the recording for ever.
    const int32_t waitLimitMillis = std::max(period * 20, 100);
    int64_t start = currentTimeMicros();
    int64_t last = start;
    while (!vmDead && (last - start) / 1000 < durationMillis) {
        if (!timer.waitTick(waitLimitMillis)) {
            if ((currentTimeMicros() - start) / 1000 >= durationMillis)
                break;
            continue;
        }
        int64_t now = currentTimeMicros();
        sampleTick(env, now, now - last, trackTransactions);
        last = now;
    }
    timer.stop();
}

void Sampler::sampleTick(JNIEnv* env, int64_t now, int64_t elapsed, bool trackTransactions) {
    MonitorLock lock(agentMonitor);
    if (vmDead)
        return;
    if (++tickCounter >= cycleLength)
        tickCounter = 0;
    bool fullTick = tickCounter == 0;

    ThreadTable* previous = threadTable;
    ThreadTable* next = spareTable != nullptr ? spareTable : new ThreadTable(0.75f);
    spareTable = nullptr;
    int32_t n = 0;
    for (ThreadRecord* record : *threadRegistry) {
        if (record->state == threadTerminated || record->excluded || record->thread == nullptr ||
            record->history == nullptr)
            continue;
        SamplingState* state = previous != nullptr ? previous->remove(record) : nullptr;
        if (state == nullptr)
            state = new SamplingState(record, session.maxStackDepth);
        next->put(record, state);
        n++;
    }

    if (n > 0 && env->PushLocalFrame(4 * n) == JNI_OK) {
        sampledThreads.clear();
        sampledStates.clear();
        next->forEach([&](ThreadTable::Key, SamplingState* state) {
            jobject local = env->NewLocalRef(state->thread->thread);
            if (local == nullptr)
                return; // collected: left out of this tick, its state kept
            if (trackTransactions && state->thread->threadManager != nullptr) {
                env->CallVoidMethod(state->thread->threadManager, initSamplingState);
                if (env->ExceptionCheck())
                    env->ExceptionClear();
            }
            sampledThreads.push_back(local);
            sampledStates.push_back(state);
        });
        jvmtiStackInfo* traces = nullptr;
        if (!sampledThreads.empty() &&
            jvmti->GetThreadListStackTraces(static_cast<jint>(sampledThreads.size()), sampledThreads.data(),
                                            session.maxStackDepth, &traces) == JVMTI_ERROR_NONE) {
            mergeSamples(env, traces, now, elapsed, trackTransactions, fullTick);
            jvmti->Deallocate(reinterpret_cast<unsigned char*>(traces));
        }
        env->PopLocalFrame(nullptr);
    }

    if (previous != nullptr) {
        // Threads not sampled on this tick.
        previous->clear([](SamplingState* state) { delete state; });
        spareTable = previous;
    }
    threadTable = next;
}

void Sampler::mergeSamples(JNIEnv* env, const jvmtiStackInfo* traces, int64_t now, int64_t elapsed,
                           bool trackTransactions, bool fullTick) {
    for (size_t k = 0; k < sampledStates.size(); k++) {
        SamplingState* state = sampledStates[k];
        ThreadRecord* record = state->thread;
        jint jvmState = traces[k].state;
        if (jvmState == JVMTI_THREAD_STATE_TERMINATED) {
            if (record->history != nullptr)
                record->history->end = currentTimeMicros();
            threadEnded(record, env);
            continue;
        }
        if (jvmState & JVMTI_THREAD_STATE_RUNNABLE)
            record->state = threadRunnable;
        else if (jvmState & JVMTI_THREAD_STATE_BLOCKED_ON_MONITOR_ENTER)
            record->state = threadBlocked;
        else if (jvmState & JVMTI_THREAD_STATE_WAITING)
            record->state = threadWaiting;
        jlongArray transactions = nullptr;
        if (trackTransactions && record->threadManager != nullptr) {
            transactions = static_cast<jlongArray>(
                env->CallObjectMethod(record->threadManager, getSamplingTransactionIds));
            if (env->ExceptionCheck()) {
                env->ExceptionClear();
                transactions = nullptr;
            }
        }
        sampleThread(*state, traces[k], elapsed, session.classProfilingSession, env, transactions, now,
                     fullTick);
    }
}

void Sampler::clearThreadTable() {
    for (ThreadTable** table : {&threadTable, &spareTable}) {
        if (*table == nullptr)
            continue;
        (*table)->clear([](SamplingState* state) { delete state; });
        delete *table;
        *table = nullptr;
    }
}
