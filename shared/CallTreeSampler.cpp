#include "CallTreeSampler.h"

#include "ClassProfilingSession.h"
#include "DebugOutput.h"
#include "ProfilingSession.h"
#include "Sampler.h"

#include <algorithm>
#include <vector>

namespace {

const char* const unit = "shared/CallTreeSampler";

enum EntryKind : uint8_t { notEntered = 0, enteredFiltered = 1, enteredUnfiltered = 2 };

bool sameFrame(const jvmtiFrameInfo& a, const jvmtiFrameInfo& b) {
    return a.method == b.method && a.location == b.location;
}

// The transaction count of a Java array: element 0, kept within the array and the 11 slots.
int32_t transactionCountOf(JNIEnv* env, jlongArray array, const jlong* elements) {
    jsize length = env->GetArrayLength(array);
    if (length < 1 || elements[0] < 0)
        return 0;
    jlong count = std::min<jlong>(elements[0], length - 1);
    if (count > SamplingState::maxTransactions) {
        static bool told = false;
        if (!told)
            consoleMessage("More than %d nested transactions in one sample; the innermost are left out.",
                           SamplingState::maxTransactions);
        told = true;
        count = SamplingState::maxTransactions;
    }
    return static_cast<int32_t>(count);
}

} // namespace

CallTreeNode* newCallTreeNode(MethodDesc* method, int16_t line) {
    auto* node = new CallTreeNode;
    node->method = method;
    node->line = line;
    return node;
}

void releaseCallTree(CallTreeNode* root) {
    // Iterative: a tree is as deep as the deepest stack.
    std::vector<CallTreeNode*> pending;
    if (root != nullptr)
        pending.push_back(root);
    while (!pending.empty()) {
        CallTreeNode* node = pending.back();
        pending.pop_back();
        for (CallTreeNode* child = node->firstChild; child != nullptr; child = child->nextSibling)
            pending.push_back(child);
        delete node->stateTimes;
        delete node;
    }
}

void sampleThread(SamplingState& state, const jvmtiStackInfo& trace, int64_t elapsed,
                  ClassProfilingSession* session, JNIEnv* env, jlongArray transactions, int64_t now,
                  bool fullTick) {
    ThreadRecord* record = state.thread;
    if (record->state == threadTerminated)
        return;
    state.currentFrames = trace.frame_buffer;
    state.currentCount = std::min(trace.frame_count, state.capacity);

    // Previous frame k (innermost first) sits at slot base + k; current frame i goes to slot
    // capacity - currentCount + i, so shared outer frames keep their slots.
    const int32_t base = state.capacity - state.previousCount;
    int32_t common = 0;
    int32_t limit = std::min(state.previousCount, state.currentCount);
    while (common < limit && sameFrame(state.previousFrames[state.capacity - 1 - common],
                                       state.currentFrames[state.currentCount - 1 - common]))
        common++;

    int32_t n = 0;
    jlong* elements = nullptr;
    bool changed;
    if (transactions != nullptr) {
        elements = env->GetLongArrayElements(transactions, nullptr);
        n = elements != nullptr ? transactionCountOf(env, transactions, elements) : 0;
        changed = n != state.transactionCount;
        for (int32_t i = 0; !changed && i < n; i++)
            changed = elements[i + 1] != state.transactionIds[i];
        if (!changed && elements != nullptr) {
            env->ReleaseLongArrayElements(transactions, elements, JNI_ABORT);
            elements = nullptr;
        }
    } else {
        changed = state.transactionCount > 0;
    }
    if (changed)
        common = 0;
    state.commonCount = common;

    MethodDesc* objectConstructor = session->objectConstructor;
    for (int32_t i = 0; i < state.previousCount - common; i++) {
        MethodDesc* method = state.previousMethods[base + i];
        if (method != nullptr && method != objectConstructor)
            exitFrame(record, env, method);
    }

    if (changed) {
        for (int32_t i = state.transactionCount - 1; i >= 0; i--)
            exitFrame(record, env, reinterpret_cast<MethodDesc*>(state.transactionIds[i]));
        for (int32_t i = 0; i < n; i++) {
            auto* requestMethodDesc = reinterpret_cast<MethodDesc*>(static_cast<intptr_t>(elements[i + 1]));
            AGENT_ASSERT(requestMethodDesc, unit);
            enterFrame(record, env, requestMethodDesc, 0);
            state.transactionIds[i] = elements[i + 1];
        }
        if (elements != nullptr)
            env->ReleaseLongArrayElements(transactions, elements, JNI_ABORT);
    }
    state.transactionCount = n;

    int32_t keptFrom = 0;
    const int32_t slot = state.capacity - state.currentCount;
    for (int32_t i = state.currentCount - common - 1; i >= 0; i--) {
        const jvmtiFrameInfo& frame = state.currentFrames[i];
        MethodDesc* method = session->lookupMethod(frame.method, env);
        if (method != nullptr && method->marker && !recordAgentClasses && method != objectConstructor) {
            keptFrom = i + 1; // the agent's own frame and all inside it are not the application's
            break;
        }
        state.previousFrames[slot + i] = frame;
        state.previousMethods[slot + i] = method;
        if (method != nullptr && method != objectConstructor)
            enterFrame(record, env, method, lineNumberOf(frame.method, frame.location));
    }

    chargeSample(record, elapsed, now, fullTick);

    state.previousCount = state.currentCount - keptFrom;
    state.currentCount = state.previousCount;
}

void enterFrame(ThreadRecord* record, JNIEnv*, MethodDesc* method, int32_t line) {
    if (method == nullptr)
        return;
    if (method->netio)
        record->netioDepth++;
    if (method->ignored) {
        record->entryStack.push_back(notEntered);
        return;
    }
    bool filtered = method->filtered;
    // Calls inside a filtered call collapse into it, until an unfiltered method is met again.
    if (filtered && !record->entryStack.empty() && record->entryStack.back() != enteredUnfiltered) {
        record->entryStack.push_back(notEntered);
        return;
    }
    record->entryStack.push_back(filtered ? enteredFiltered : enteredUnfiltered);
    int16_t keyLine = record->lineStack.empty() ? 0 : record->lineStack.back();
    record->lineStack.push_back(filtered ? 0 : static_cast<int16_t>(line));

    CallTreeNode* cursor = record->cursor;
    for (CallTreeNode* child = cursor->firstChild; child != nullptr; child = child->nextSibling) {
        if (child->method == method && child->line == keyLine) {
            record->cursor = child;
            return;
        }
    }
    CallTreeNode* node = newCallTreeNode(method, keyLine);
    node->parent = cursor;
    node->nextSibling = cursor->firstChild;
    cursor->firstChild = node;
    record->cursor = node;
}

void exitFrame(ThreadRecord* record, JNIEnv*, MethodDesc* method) {
    if (method == nullptr)
        return;
    if (method->netio && record->netioDepth > 0)
        record->netioDepth--;
    if (record->entryStack.empty())
        return;
    uint8_t entry = record->entryStack.back();
    record->entryStack.pop_back();
    if (entry != notEntered && record->cursor != record->root) {
        record->cursor = record->cursor->parent;
        if (!record->lineStack.empty())
            record->lineStack.pop_back();
    }
}

void chargeSample(ThreadRecord* record, int64_t elapsed, int64_t now, bool fullTick) {
    CallTreeNode* cursor = record->cursor;
    if (cursor == record->root)
        return;
    uint8_t code = record->netioDepth > 0 ? uint8_t(threadInNetworkIo) : record->state;
    ThreadHistory* history = record->history;
    if (fullTick && history != nullptr && (history->states.empty() || history->states.back() != code)) {
        history->states.push_back(code);
        history->times.push_back(now / 10000);
    }
    switch (code) {
    case threadRunnable:
        cursor->ownRunnableTime += elapsed;
        return;
    case threadBlocked:
    case threadWaiting:
    case threadInNetworkIo:
        if (cursor->stateTimes == nullptr)
            cursor->stateTimes = new StateTimes;
        (code == threadBlocked   ? cursor->stateTimes->blocked
         : code == threadWaiting ? cursor->stateTimes->waiting
                                 : cursor->stateTimes->netio) += elapsed;
        return;
    default:
        return;
    }
}

int32_t lineNumberOf(jmethodID method, jlocation location) {
    LineTable* table = lineNumberCache.get(method);
    if (table == nullptr) {
        jint count = 0;
        jvmtiLineNumberEntry* entries = nullptr;
        table = &noLineNumbers;
        if (jvmti->GetLineNumberTable(method, &count, &entries) == JVMTI_ERROR_NONE) {
            if (count > 0) {
                // Our own copy: the cache lives for the process, JVMTI memory goes back at once.
                table = new LineTable{count, new jvmtiLineNumberEntry[count]};
                std::copy(entries, entries + count, table->entries);
            }
            jvmti->Deallocate(reinterpret_cast<unsigned char*>(entries));
        }
        lineNumberCache.put(method, table);
    }
    if (table->count == 0)
        return 0;
    for (jint i = 0; i < table->count; i++)
        if (table->entries[i].start_location > location)
            return i == 0 ? 0 : table->entries[i - 1].line_number;
    return table->entries[table->count - 1].line_number;
}
