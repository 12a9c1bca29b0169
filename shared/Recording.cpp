#include "Recording.h"

#include "CallTreeSampler.h"
#include "ClassProfilingSession.h"
#include "DataWriter.h"
#include "DebugOutput.h"
#include "ProfilingSession.h"
#include "Sampler.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

struct SectionEntry {
    int64_t length = 0;
    int64_t offset = 0;
    uint32_t checksum = 0;
};

// One recording at a time: a second record call would sample and release the same threads twice.
bool recordRunning = false;

// Method, line, runnable time and state times of every node; children first. Returns the
// node's runnable time, which includes that of everything below it.
int64_t writeCallTree(DataWriter& writer, const CallTreeNode* node) {
    writer.writeByte(1);
    int64_t runnable = node->ownRunnableTime;
    for (const CallTreeNode* child = node->firstChild; child != nullptr; child = child->nextSibling)
        runnable += writeCallTree(writer, child);
    writer.writeByte(0);
    writer.writeId(node->method);
    writer.writeShort(node->line);
    writer.writeLong(runnable);
    if (node->stateTimes == nullptr) {
        writer.writeByte(0);
    } else {
        writer.writeByte(1);
        writer.writeLong(node->stateTimes->blocked);
        writer.writeLong(node->stateTimes->waiting);
        writer.writeLong(node->stateTimes->netio);
    }
    return runnable;
}

// Starts a section at the current position; the checksum covers the body, not the magic.
SectionEntry beginSection(FileDataWriter& writer, FILE* file) {
    writer.flush();
    SectionEntry entry;
    entry.offset = platform::filePosition(file);
    writer.writeInt(snapshotMagic);
    writer.flush();
    writer.resetCrc();
    return entry;
}

void endSection(FileDataWriter& writer, FILE* file, SectionEntry& entry) {
    writer.flush();
    entry.checksum = writer.checksum();
    entry.length = platform::filePosition(file) - entry.offset - 4;
}

void writeSectionTable(DataWriter& writer, const SectionEntry (&sections)[snapshotSectionCount]) {
    for (const SectionEntry& section : sections) {
        writer.writeLong(section.length);
        writer.writeLong(section.offset);
        writer.writeInt(static_cast<int32_t>(section.checksum));
    }
}

// The path in a Java byte array: UTF-16 code units, little-endian, up to the first zero unit or
// the end of the array, whichever comes first.
std::u16string pathFromBytes(JNIEnv* env, jbyteArray fileName) {
    std::u16string path;
    jsize length = env->GetArrayLength(fileName);
    jbyte* bytes = env->GetByteArrayElements(fileName, nullptr);
    if (bytes == nullptr)
        return path;
    for (jsize i = 0; i + 1 < length; i += 2) {
        char16_t unit =
            static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8);
        if (unit == 0)
            break;
        path.push_back(unit);
    }
    env->ReleaseByteArrayElements(fileName, bytes, JNI_ABORT);
    return path;
}

void callThreadReporting(JNIEnv* env, jclass callee, jmethodID setThreadReporting, bool on) {
    if (setThreadReporting == nullptr)
        return;
    env->CallStaticVoidMethod(callee, setThreadReporting, on ? JNI_TRUE : JNI_FALSE);
    if (env->ExceptionCheck())
        env->ExceptionClear(); // not ours to handle, and it must not stay pending on this thread
}

void registerLiveThreads(JNIEnv* env) {
    jint count = 0;
    jthread* threads = nullptr;
    if (jvmti->GetAllThreads(&count, &threads) != JVMTI_ERROR_NONE) {
        consoleMessage("Could not get all threads");
        return;
    }
    for (jint i = 0; i < count; i++) {
        ThreadRecord* record = registerThread(threads[i], env);
        if (record != nullptr && record->history != nullptr && record->history->name != nullptr &&
            isAgentThreadName(record->history->name)) {
            record->excluded = !recordAgentThreads;
            record->cursor = record->root;
        }
        env->DeleteLocalRef(threads[i]);
    }
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(threads));
}

} // namespace

void writeThreadSection(DataWriter& writer) {
    MonitorLock lock(agentMonitor);
    for (const ThreadRecord* record : *threadRegistry) {
        const ThreadHistory* history = record->history;
        if (history == nullptr)
            continue;
        writer.writeByte(1);
        writer.writeId(record);
        writer.writeId(history->owner);
        writer.writeString(history->name);
        writer.writeString(history->group);
        writer.writeLong(std::max(history->start, recordingStartTime));
        writer.writeLong(history->end == -1 ? -1 : std::max(history->end, recordingStartTime));
        writer.writeInt(static_cast<int32_t>(history->states.size()));
        for (size_t i = 0; i < history->states.size(); i++) {
            writer.writeByte(history->states[i]);
            writer.writeLong(history->times[i] * 10000);
        }
        writeCallTree(writer, record->root);
        writer.writeByte(record->excluded ? 1 : 0);
    }
    writer.writeByte(0);
}

bool writeSnapshot(const char16_t* path, JNIEnv*) {
    FILE* file = platform::openFile(path, u"w+b");
    if (file == nullptr)
        return false;
    // The writer buffers already; unbuffered, a full disk shows at the write that meets it.
    std::setvbuf(file, nullptr, _IONBF, 0);
    FileDataWriter writer(file);
    writer.writeInt(snapshotMagic);
    writer.writeInt(snapshotFormatVersion);
    writer.writeString(session.vmName);
    writer.writeString(session.javaVersion);
    writer.writeLong(recordingStartTime);
    writer.writeLong(currentTimeMicros());
    writer.writeInt(8);
    writer.flush();

    int64_t tablePosition = platform::filePosition(file);
    SectionEntry sections[snapshotSectionCount];
    writeSectionTable(writer, sections);

    sections[0] = beginSection(writer, file);
    session.classProfilingSession->writeClassSection(writer);
    endSection(writer, file, sections[0]);
    sections[1] = beginSection(writer, file);
    writeThreadSection(writer);
    endSection(writer, file, sections[1]);
    for (int i = 2; i < snapshotSectionCount; i++) {
        writer.flush();
        sections[i].offset = platform::filePosition(file);
        writer.writeInt(snapshotMagic);
    }
    writer.flush();

    bool result = false;
    if (writer.hasError() || std::fflush(file) != 0) {
        consoleMessage("Your disk or partition might be full.");
    } else if (tablePosition < 0 || !platform::seekFile(file, tablePosition)) {
        consoleMessage("Could not seek tmp file. Please check your TMP and TMPDIR environment variables.");
    } else {
        writeSectionTable(writer, sections);
        writer.flush();
        result = !writer.hasError();
    }
    writer.flush();
    // A close that fails may have lost buffered bytes.
    if (std::fclose(file) != 0)
        result = false;
    return result;
}

extern "C" JNIEXPORT void JNICALL Java_com_zentaro_agent_callee_JvmtiCallee_record(JNIEnv* env, jclass callee,
                                                                                   jlong durationMillis,
                                                                                   jboolean trackTransactions,
                                                                                   jboolean agentThreads,
                                                                                   jbyteArray fileName) {
    if (!agentStarted())
        return;
    {
        MonitorLock lock(agentMonitor);
        if (recordRunning) {
            consoleMessage("A recording is already running; this one is ignored.");
            return;
        }
        recordRunning = true;
    }
    jmethodID setThreadReporting = env->GetStaticMethodID(callee, "setThreadReporting", "(Z)V");
    if (setThreadReporting == nullptr && env->ExceptionCheck())
        env->ExceptionClear();

    {
        MonitorLock lock(agentMonitor);
        recordingStartTime = currentTimeMicros();
        recordAgentThreads = agentThreads != JNI_FALSE;
        if (!saveThreadStart)
            jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_THREAD_START, nullptr);
        recordingActive = true;
        registerLiveThreads(env);
        callThreadReporting(env, callee, setThreadReporting, true);
    }

    sampler->runSampling(env, durationMillis, trackTransactions != JNI_FALSE);

    {
        MonitorLock lock(agentMonitor);
        callThreadReporting(env, callee, setThreadReporting, false);
        if (!saveThreadStart)
            jvmti->SetEventNotificationMode(JVMTI_DISABLE, JVMTI_EVENT_THREAD_START, nullptr);
        recordingActive = false;
    }
    {
        MonitorLock lock(sleepMonitor);
        if (sleepMonitor != nullptr)
            jvmti->RawMonitorWait(sleepMonitor, 100);
    }

    MonitorLock lock(agentMonitor);
    // Without a file name there is nothing to write; the threads' data goes all the same.
    if (fileName != nullptr) {
        std::u16string path = pathFromBytes(env, fileName);
        if (!path.empty())
            writeSnapshot(path.c_str(), env);
    }
    releaseThreadRecords(env);
    sampler->clearThreadTable();
    recordRunning = false;
}
