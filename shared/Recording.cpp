#include "ProfilingSession.h"

extern "C" JNIEXPORT void JNICALL Java_com_zentaro_agent_callee_JvmtiCallee_record(JNIEnv*, jclass, jlong,
                                                                                   jboolean, jboolean,
                                                                                   jbyteArray) {
    if (!agentStarted())
        return;
}
