#include "Sampler.h"

#include "ProfilingSession.h"

void JNICALL onThreadStart(jvmtiEnv*, JNIEnv*, jthread) {
    MonitorLock lock(agentMonitor);
    if (!recordingActive)
        return;
}

extern "C" JNIEXPORT void JNICALL Java_com_zentaro_agent_callee_JvmtiCallee_associateThread(JNIEnv*, jclass,
                                                                                            jobject, jboolean,
                                                                                            jobject) {
    if (jvmti == nullptr || !agentStarted())
        return;
}
