#include "ClassProfilingSession.h"

#include "ProfilingSession.h"

#include <cstring>

bool NetioKeys::equal(NetioClass* a, NetioClass* b) {
    return a == b || (a->name != nullptr && b->name != nullptr && std::strcmp(a->name, b->name) == 0);
}

ClassData::ClassData(const char* className, int32_t kind, NetioClass* netio)
    : name(copyString(className != nullptr ? className : "")), kind(kind), netio(netio) {
    agentClass = name != nullptr && std::strncmp(name, "com.zentaro.agent", 17) == 0;
}

ClassProfilingSession::ClassProfilingSession() {
    currentClassProfilingSession = this;
    classes.push_back(&unknownClass);
    unknownMethod = new MethodDesc{&unknownClass, copyString("unknown"), copyString("()V")};
    registerMethod(unknownMethod);
    classes.push_back(&annotationMarkerClass);
}

void ClassProfilingSession::registerMethod(MethodDesc* method) {
    if (method == nullptr)
        return;
    MonitorLock lock(agentMonitor);
    methods.push_back(method);
    if (objectConstructor == nullptr && std::strcmp(method->classData->name, "java.lang.Object") == 0 &&
        std::strcmp(method->name, "<init>") == 0)
        objectConstructor = method;
}

// Filters, network-I/O registrations and interception methods are configured by the Java side
// through these natives; until start-up has completed they have nothing to work on.

extern "C" JNIEXPORT void JNICALL Java_com_zentaro_agent_callee_JvmtiCallee_setFilters(JNIEnv*, jclass,
                                                                                       jobjectArray, jboolean,
                                                                                       jobjectArray,
                                                                                       jboolean) {
    if (!agentStarted())
        return;
}

extern "C" JNIEXPORT void JNICALL Java_com_zentaro_agent_callee_JvmtiCallee_addNetioClass(JNIEnv*, jclass,
                                                                                          jstring,
                                                                                          jobjectArray,
                                                                                          jobjectArray) {
    if (!agentStarted())
        return;
}

extern "C" JNIEXPORT jlong JNICALL
Java_com_zentaro_agent_callee_JvmtiCallee_createInterceptionMethodId(JNIEnv*, jclass, jstring) {
    if (!agentStarted())
        return 0;
    return 0;
}
