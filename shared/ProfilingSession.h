// Start-up of the attached agent and the process-wide state every other unit works with.
#pragma once

#include "Hashtable.h"

#include <cstdint>
#include <jni.h>
#include <jvmti.h>
#include <vector>

class ClassProfilingSession;
class Sampler;
struct ThreadRecord;
using ThreadRegistry = std::vector<ThreadRecord*>;

class ProfilingSession {
  public:
    ~ProfilingSession();

    // A new copy of System.getProperty(name), or null when the value is null. The caller owns it.
    char* getSystemProperty(JNIEnv* env, const char* name);

    ThreadRegistry* threadRegistry = nullptr;
    ClassProfilingSession* classProfilingSession = nullptr;
    Sampler* sampler = nullptr;
    char* vmName = nullptr;
    char* javaVersion = nullptr;
    int32_t maxStackDepth = 1000;

  private:
    jclass systemClass = nullptr;
    jmethodID getPropertyMethod = nullptr;
};

extern jvmtiEnv* jvmti;
extern jrawMonitorID agentMonitor;
extern jrawMonitorID sleepMonitor;
extern ProfilingSession session;
extern ClassProfilingSession* currentClassProfilingSession;
extern ThreadRegistry* threadRegistry;
extern Sampler* sampler;
extern bool saveThreadStart;
extern bool recordAgentThreads;
extern bool recordAgentClasses;
extern bool recordingActive;
extern bool vmDead;
extern int64_t recordingStartTime;

// True once start-up has completed; the natives do nothing before.
bool agentStarted();

// Holds a raw monitor for a scope; the monitor is re-entrant.
class MonitorLock {
  public:
    explicit MonitorLock(jrawMonitorID monitor);
    ~MonitorLock();
    MonitorLock(const MonitorLock&) = delete;
    MonitorLock& operator=(const MonitorLock&) = delete;

  private:
    jrawMonitorID monitor;
};

// A condition only a broken Java side can violate: report it and abort the process.
[[noreturn]] void assertionFailed(const char* expression, const char* unit, int line);
#define AGENT_ASSERT(expression, unit)                                                                       \
    do {                                                                                                     \
        if (!(expression))                                                                                   \
            assertionFailed(#expression, unit, __LINE__);                                                    \
    } while (false)
