#include "ProfilingSession.h"

#include "CallTreeSampler.h"
#include "ClassProfilingSession.h"
#include "DebugOutput.h"
#include "Sampler.h"

#include <cstdlib>
#include <cstring>

namespace {
const char* const unit = "shared/ProfilingSession";
}

// Process-wide objects, created in this order before any attach and released in reverse order
// at exit. They live in one unit so that the order holds.
LineTable noLineNumbers = {0, nullptr};
Hashtable<PointerKeys, LineTable> lineNumberCache(0.75f);
Hashtable<PointerKeys, MethodDesc> methodTable(0.0f, 200000); // never grows: no rehash while sampling
Hashtable<StringKeys, ClassData> classSignatureTable(0.75f);
std::vector<char*> ignoredClassPatterns;
Hashtable<NetioKeys, NetioClass> netioClassTable(0.75f);
NetioClass netioProbe;
ClassData annotationMarkerClass("_kalvimeter_annotation_class", annotationClassKind, nullptr);
ClassData unknownClass("com.zentaro.agent.Unknown", 0, nullptr);
ProfilingSession session;

jvmtiEnv* jvmti = nullptr;
jrawMonitorID agentMonitor = nullptr;
jrawMonitorID sleepMonitor = nullptr;
ClassProfilingSession* currentClassProfilingSession = nullptr;
ThreadRegistry* threadRegistry = nullptr;
Sampler* sampler = nullptr;
bool saveThreadStart = false;
bool recordAgentThreads = false;
bool recordAgentClasses = false;
bool recordingActive = false;
bool vmDead = false;
int64_t recordingStartTime = 0;

namespace {

bool started = false;

// Everything but the strings lives for the life of the process, as the JVM may still call in.
void JNICALL onVMDeath(jvmtiEnv*, JNIEnv*) {
    if (sampler == nullptr)
        return;
    MonitorLock lock(agentMonitor);
    vmDead = true;
}

char* readJvmtiProperty(jvmtiEnv* env, const char* name) {
    char* value = nullptr;
    if (env->GetSystemProperty(name, &value) != JVMTI_ERROR_NONE || value == nullptr)
        return nullptr;
    char* copy = copyString(value);
    env->Deallocate(reinterpret_cast<unsigned char*>(value));
    return copy;
}

bool createMonitor(jvmtiEnv* env, const char* name, jrawMonitorID* monitor) {
    jvmtiError error = env->CreateRawMonitor(name, monitor);
    if (error == JVMTI_ERROR_NONE)
        return true;
    // Running without the lock would let natives, events and ticks race over all agent state.
    consoleMessage("Could not create raw monitor %s (code: %d). Exiting.", name, static_cast<int>(error));
    *monitor = nullptr;
    return false;
}

void readOptions(const char* options) {
    struct Option {
        const char* text;
        bool* setting;
        const char* message;
    } table[] = {
        {"save-thread-start", &saveThreadStart, "Save thread start mode"},
        {"agent-threads", &recordAgentThreads, "Record agent threads"},
        {"agent-classes", &recordAgentClasses, "Record agent classes"},
    };
    if (options == nullptr)
        return;
    for (const Option& option : table) {
        *option.setting = std::strstr(options, option.text) != nullptr;
        if (*option.setting)
            consoleMessage("%s", option.message);
    }
}

void requestCapabilities(jvmtiEnv* env) {
    jvmtiCapabilities capabilities;
    std::memset(&capabilities, 0, sizeof capabilities);
    env->GetCapabilities(&capabilities);
    capabilities.can_get_line_numbers = 1;
    jvmtiError error = env->AddCapabilities(&capabilities);
    if (error == JVMTI_ERROR_NONE)
        return;
    const char* stars = "*******************************************************************";
    consoleMessage("%s", stars);
    consoleMessage("ERROR: Could not get all profiling capabilities. (code: %d)", static_cast<int>(error));
    consoleMessage("Some profiling functionality won't work correctly.");
    consoleMessage("%s", stars);
}

void installEvents(jvmtiEnv* env) {
    jvmtiEventCallbacks callbacks;
    std::memset(&callbacks, 0, sizeof callbacks);
    callbacks.VMDeath = onVMDeath;
    callbacks.ThreadStart = onThreadStart;
    env->SetEventCallbacks(&callbacks, static_cast<jint>(sizeof callbacks));
    env->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_VM_DEATH, nullptr);
    if (saveThreadStart)
        env->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_THREAD_START, nullptr);
}

jint startUp(JavaVM* vm, const char* options) {
    consoleMessage("Protocol version %d", 1);
    if (started) {
        // The running agent's monitors, tables and recordings stay as they are.
        consoleMessage("Native library already initialized; this attach is ignored.");
        return 0;
    }

    jvmtiEnv* env = nullptr;
    jint result = vm->GetEnv(reinterpret_cast<void**>(&env), JVMTI_VERSION_1_1);
    if (result == JNI_EVERSION)
        result = vm->GetEnv(reinterpret_cast<void**>(&env), JVMTI_VERSION_1_0);
    if (result == JNI_EVERSION) {
        consoleMessage("The Java Virtual Machine Tool Interface (JVMTI) is not present. Exiting.");
        return 0;
    }
    if (result != JNI_OK || env == nullptr) {
        consoleMessage("Could not get the JVMTI environment (code: %d). Exiting.", static_cast<int>(result));
        return 0;
    }
    jvmti = env;

    std::free(session.vmName);
    session.vmName = readJvmtiProperty(env, "java.vm.name");
    std::free(session.javaVersion);
    session.javaVersion = readJvmtiProperty(env, "java.vm.version");

    if (!createMonitor(env, "_zentaro_native", &agentMonitor) ||
        !createMonitor(env, "_zentaro_native_sleep", &sleepMonitor))
        return 0;
    consoleMessage("64-bit library");

    MonitorLock lock(agentMonitor);
    session.classProfilingSession = new ClassProfilingSession();
    session.sampler = nullptr;
    threadRegistry = new ThreadRegistry();
    session.threadRegistry = threadRegistry;

    JNIEnv* jni = nullptr;
    if (vm->GetEnv(reinterpret_cast<void**>(&jni), JNI_VERSION_1_4) != JNI_OK || jni == nullptr) {
        consoleMessage("Could not get JNIEnv");
    } else {
        std::free(session.javaVersion);
        session.javaVersion = session.getSystemProperty(jni, "java.version");
    }

    sampler = new Sampler(5, 40);
    session.sampler = sampler;

    readOptions(options);
    requestCapabilities(env);
    installEvents(env);

    consoleMessage("Native library initialized");
    started = true;
    return 0;
}

} // namespace

bool agentStarted() {
    return started;
}

ProfilingSession::~ProfilingSession() {
    std::free(vmName);
    std::free(javaVersion);
}

char* ProfilingSession::getSystemProperty(JNIEnv* env, const char* name) {
    if (getPropertyMethod == nullptr) {
        jclass systemClassLocal = env->FindClass("java/lang/System");
        AGENT_ASSERT(systemClassLocal, unit);
        systemClass = static_cast<jclass>(env->NewGlobalRef(systemClassLocal));
        AGENT_ASSERT(systemClass, unit);
        env->DeleteLocalRef(systemClassLocal);
        getPropertyMethod =
            env->GetStaticMethodID(systemClass, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
        AGENT_ASSERT(getPropertyMethod, unit);
    }
    jstring key = env->NewStringUTF(name);
    jstring value = static_cast<jstring>(env->CallStaticObjectMethod(systemClass, getPropertyMethod, key));
    env->DeleteLocalRef(key);
    // A thrown exception must not stay pending on the caller's thread; the value is null then.
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        value = nullptr;
    }
    if (value == nullptr)
        return nullptr;
    char* copy = nullptr;
    if (const char* chars = env->GetStringUTFChars(value, nullptr)) {
        copy = copyString(chars);
        env->ReleaseStringUTFChars(value, chars);
    }
    env->DeleteLocalRef(value);
    return copy;
}

MonitorLock::MonitorLock(jrawMonitorID monitor) : monitor(monitor) {
    if (monitor != nullptr)
        jvmti->RawMonitorEnter(monitor);
}

MonitorLock::~MonitorLock() {
    if (monitor != nullptr)
        jvmti->RawMonitorExit(monitor);
}

void assertionFailed(const char* expression, const char* unitName, int line) {
    consoleMessage("Assertion failed: %s, file %s, line %d", expression, unitName, line);
    std::abort();
}

extern "C" JNIEXPORT jint JNICALL Agent_OnAttach(JavaVM* vm, char* options, void*) {
    return startUp(vm, options);
}
