// The threads a recording knows, and the timer-driven sampling of their stacks.
#pragma once

#include "Hashtable.h"

#include <cstdint>
#include <jni.h>
#include <jvmti.h>
#include <vector>

struct CallTreeNode;
struct MethodDesc;
struct ThreadRecord;

enum ThreadStateCode : uint8_t {
    threadTerminated = 1,
    threadRunnable = 63,
    threadBlocked = 64,
    threadWaiting = 65,
    threadInNetworkIo = 66,
};

struct ThreadHistory {
    ThreadRecord* owner;
    char* name;  // null when the JVM gave none
    char* group; // empty when the group could not be read
    int64_t start;
    int64_t end = -1; // -1 while the thread lives
    std::vector<uint8_t> states;
    // Times of the state changes in units of 10 ms. 64 bits, so that a clock origin far back
    // (a machine up for months) cannot wrap them.
    std::vector<int64_t> times;
};

// Everything the sampler keeps about one thread between ticks. Owns its call tree, its history,
// its stacks and its two JNI references.
struct ThreadRecord {
    explicit ThreadRecord(jweak thread);

    jweak thread;                    // null once the sampler saw the thread terminated
    jobject threadManager = nullptr; // global reference, set once by associateThread
    CallTreeNode* cursor;
    uint8_t state = threadRunnable;
    ThreadHistory* history = nullptr;
    CallTreeNode* root;
    bool excluded = false;
    int32_t netioDepth = 0;
    std::vector<uint8_t> entryStack;
    std::vector<int16_t> lineStack;
};

// Microseconds from an arbitrary origin; the time of every event the agent records.
int64_t currentTimeMicros();

// A new record for the thread, in the registry and in the thread's local storage; null when the
// thread's information cannot be read. It does not look for an existing record.
ThreadRecord* registerThread(jthread thread, JNIEnv* env);
// The thread's record from its local storage (null thread: the calling thread); null when it has
// none or the one it names was released with an earlier recording.
ThreadRecord* threadRecordOf(jthread thread);
// The thread was seen terminated: it is sampled no more. The caller sets the history's end.
void threadEnded(ThreadRecord* record, JNIEnv* env);
// Releases every record with all it owns, clears the threads' local storage, empties the registry.
void releaseThreadRecords(JNIEnv* env);
// Whether a thread name marks one of the agent's own threads ("_zentaro", any letter case).
bool isAgentThreadName(const char* name);

void JNICALL onThreadStart(jvmtiEnv* jvmti, JNIEnv* env, jthread thread);

// What the sampler carries for one thread from tick to tick, so that consecutive stacks can be
// compared.
struct SamplingState {
    static constexpr int32_t maxTransactions = 11;

    SamplingState(ThreadRecord* thread, int32_t capacity);
    ~SamplingState();
    SamplingState(const SamplingState&) = delete;
    SamplingState& operator=(const SamplingState&) = delete;

    int32_t transactionCount = 0;
    jlong transactionIds[maxTransactions] = {};
    jvmtiFrameInfo* currentFrames = nullptr; // inside this tick's stack-trace result
    // The last merged frames and their descriptions, owned, capacity entries each. They fill the
    // end of the arrays, outermost last, so that frames shared with the next sample stay in place
    // and only the changed ones are copied.
    jvmtiFrameInfo* previousFrames;
    MethodDesc** previousMethods;
    int32_t previousCount = 0;
    int32_t currentCount = 0;
    int32_t commonCount = 0;
    int32_t capacity;
    ThreadRecord* thread;
};

class Sampler {
  public:
    using ThreadTable = Hashtable<PointerKeys, SamplingState>;

    Sampler(int32_t periodMillis, int32_t cycleLength) : period(periodMillis), cycleLength(cycleLength) {}
    ~Sampler() { clearThreadTable(); }

    // Samples every period until durationMillis have passed or the VM dies. Called without the
    // agent monitor held.
    void runSampling(JNIEnv* env, int64_t durationMillis, bool trackTransactions);
    // One tick: the stacks of all sampled threads in one request, merged into their call trees.
    void sampleTick(JNIEnv* env, int64_t now, int64_t elapsed, bool trackTransactions);
    // Releases the sampling states of the last recording.
    void clearThreadTable();
    // Finds the Java methods of the thread managers, once per process.
    void resolveThreadManager(JNIEnv* env);

    int32_t tickCounter = 0;
    int32_t period;
    int32_t cycleLength;
    ThreadTable* threadTable = nullptr; // the states of the last tick
    jmethodID initSamplingState = nullptr;
    jmethodID getSamplingTransactionIds = nullptr;

  private:
    void mergeSamples(JNIEnv* env, const jvmtiStackInfo* traces, int64_t now, int64_t elapsed,
                      bool trackTransactions, bool fullTick);

    // Kept between ticks so that a steady recording allocates nothing per tick but table nodes.
    ThreadTable* spareTable = nullptr;
    std::vector<jthread> sampledThreads;
    std::vector<SamplingState*> sampledStates;
};
