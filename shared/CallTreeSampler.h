// Call trees built from stack samples: each thread's sample is compared with its previous one,
// and only the frames that changed are left and entered.
#pragma once

#include "Hashtable.h"

#include <cstdint>
#include <jni.h>
#include <jvmti.h>

class ClassProfilingSession;
struct MethodDesc;
struct SamplingState;
struct ThreadRecord;

// Time of samples whose cursor was this very node; none of it reaches the ancestors.
struct StateTimes {
    int64_t waiting = 0;
    int64_t blocked = 0;
    int64_t netio = 0;
};

// A node is found among its siblings by (method, line); the newest child comes first.
struct CallTreeNode {
    MethodDesc* method; // null for a thread's root
    int16_t line;       // the caller's line at which this method was called
    // Runnable time of samples whose cursor was this very node. The snapshot carries the time
    // of the node and everything below it; the writer adds the children's, so that a sample
    // costs the same at any depth.
    int64_t ownRunnableTime = 0;
    CallTreeNode* parent = nullptr;
    CallTreeNode* firstChild = nullptr;
    CallTreeNode* nextSibling = nullptr;
    StateTimes* stateTimes = nullptr;
};

// The line numbers of one method, as JVMTI gives them.
struct LineTable {
    jint count;
    jvmtiLineNumberEntry* entries;
};

CallTreeNode* newCallTreeNode(MethodDesc* method, int16_t line);
// Releases a node and everything below it.
void releaseCallTree(CallTreeNode* root);

// Merges one thread's sample of this tick into its call tree and charges elapsed to the node of
// its innermost entered frame. transactions is the thread's transaction-id array, or null.
void sampleThread(SamplingState& state, const jvmtiStackInfo& trace, int64_t elapsed,
                  ClassProfilingSession* session, JNIEnv* env, jlongArray transactions, int64_t now,
                  bool fullTick);
void enterFrame(ThreadRecord* record, JNIEnv* env, MethodDesc* method, int32_t line);
void exitFrame(ThreadRecord* record, JNIEnv* env, MethodDesc* method);
void chargeSample(ThreadRecord* record, int64_t elapsed, int64_t now, bool fullTick);
// The line of a bytecode location; 0 when the method has no line table.
int32_t lineNumberOf(jmethodID method, jlocation location);

extern LineTable noLineNumbers;
extern Hashtable<PointerKeys, LineTable> lineNumberCache;
