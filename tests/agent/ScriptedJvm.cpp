#include "ScriptedJvm.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

ScriptedJvm* ScriptedJvm::current = nullptr;

namespace {

ScriptedJvm& jvm() {
    return *ScriptedJvm::current;
}

std::string hex(jint value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

jint JNICALL getEnv(JavaVM*, void** env, jint version);

} // namespace

ScriptedJvm::ScriptedJvm() {
    current = this;
    invokeTable.GetEnv = getEnv;
    javaVm.functions = &invokeTable;
    fillJvmti();
    jvmtiEnvironment.functions = &jvmtiTable;
    fillJni();
    jniEnv.functions = &jniTable;
}

ScriptedJvm::~ScriptedJvm() {
    if (current == this)
        current = nullptr;
}

jobject ScriptedJvm::object(const std::string& text) {
    objects.push_back(FakeObject{text});
    return reinterpret_cast<jobject>(&objects.back());
}

jstring ScriptedJvm::newString(const char* text) {
    return text == nullptr ? nullptr : static_cast<jstring>(object(text));
}

namespace {

jint JNICALL getEnv(JavaVM*, void** env, jint version) {
    jvm().calls.push_back("GetEnv " + hex(version));
    auto found = jvm().getEnvResults.find(version);
    jint result = found == jvm().getEnvResults.end() ? JNI_EVERSION : found->second;
    *env = nullptr;
    if (result == JNI_OK)
        *env = (version & 0x30000000) == 0x30000000 ? static_cast<void*>(jvm().jvmti()) : jvm().jni();
    return result;
}

// JVMTI

jvmtiError JNICALL getSystemProperty(jvmtiEnv*, const char* name, char** value) {
    jvm().calls.push_back(std::string("GetSystemProperty ") + name);
    auto found = jvm().jvmtiProperties.find(name);
    if (found == jvm().jvmtiProperties.end())
        return JVMTI_ERROR_NOT_AVAILABLE;
    *value = static_cast<char*>(std::malloc(found->second.size() + 1));
    std::strcpy(*value, found->second.c_str());
    jvm().outstandingAllocations++;
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL deallocate(jvmtiEnv*, unsigned char* memory) {
    if (memory != nullptr) {
        std::free(memory);
        jvm().outstandingAllocations--;
    }
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL createRawMonitor(jvmtiEnv*, const char* name, jrawMonitorID* monitor) {
    jvm().calls.push_back(std::string("CreateRawMonitor ") + name);
    if (jvm().failingMonitors.count(name) != 0)
        return JVMTI_ERROR_OUT_OF_MEMORY;
    jvm().monitors.push_back(0);
    *monitor = reinterpret_cast<jrawMonitorID>(&jvm().monitors.back());
    jvm().monitorNames[*monitor] = name;
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL rawMonitorEnter(jvmtiEnv*, jrawMonitorID monitor) {
    jvm().calls.push_back("RawMonitorEnter " + jvm().monitorNames[monitor]);
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL rawMonitorExit(jvmtiEnv*, jrawMonitorID monitor) {
    jvm().calls.push_back("RawMonitorExit " + jvm().monitorNames[monitor]);
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL getCapabilities(jvmtiEnv*, jvmtiCapabilities* capabilities) {
    std::memset(capabilities, 0, sizeof *capabilities);
    capabilities->can_tag_objects = 1; // something the environment already has
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL addCapabilities(jvmtiEnv*, const jvmtiCapabilities* capabilities) {
    jvm().requestedCapabilities = *capabilities;
    jvm().calls.push_back("AddCapabilities");
    return jvm().addCapabilitiesResult;
}

jvmtiError JNICALL setEventCallbacks(jvmtiEnv*, const jvmtiEventCallbacks* callbacks, jint size) {
    jvm().calls.push_back("SetEventCallbacks");
    jvm().callbacksSize = size;
    std::memcpy(&jvm().callbacks, callbacks, std::min<size_t>(size, sizeof jvm().callbacks));
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL setEventNotificationMode(jvmtiEnv*, jvmtiEventMode mode, jvmtiEvent event, jthread thread,
                                            ...) {
    jvm().calls.push_back(std::string(mode == JVMTI_ENABLE ? "Enable " : "Disable ") + std::to_string(event) +
                          (thread == nullptr ? " all threads" : " one thread"));
    return JVMTI_ERROR_NONE;
}

// JNI

jclass JNICALL findClass(JNIEnv*, const char* name) {
    jvm().calls.push_back(std::string("FindClass ") + name);
    return static_cast<jclass>(jvm().object(std::string("class ") + name));
}

jobject JNICALL newGlobalRef(JNIEnv*, jobject object) {
    return object;
}

void JNICALL deleteLocalRef(JNIEnv*, jobject) {}

jmethodID JNICALL getStaticMethodID(JNIEnv*, jclass, const char* name, const char* signature) {
    jvm().calls.push_back(std::string("GetStaticMethodID ") + name + " " + signature);
    return reinterpret_cast<jmethodID>(jvm().object(name));
}

jstring JNICALL newStringUTF(JNIEnv*, const char* text) {
    return jvm().newString(text);
}

jobject JNICALL callStaticObjectMethodV(JNIEnv*, jclass, jmethodID method, va_list args) {
    jstring key = va_arg(args, jstring);
    std::string name = ScriptedJvm::fake(key)->text;
    jvm().calls.push_back("Call " + ScriptedJvm::fake(reinterpret_cast<jobject>(method))->text + " " + name);
    if (jvm().throwingProperties.count(name) != 0) {
        jvm().exceptionPending = true;
        return nullptr;
    }
    auto found = jvm().javaProperties.find(name);
    return found == jvm().javaProperties.end() ? nullptr : jvm().newString(found->second.c_str());
}

jboolean JNICALL exceptionCheck(JNIEnv*) {
    return jvm().exceptionPending ? JNI_TRUE : JNI_FALSE;
}

void JNICALL exceptionClear(JNIEnv*) {
    jvm().exceptionPending = false;
}

const char* JNICALL getStringUTFChars(JNIEnv*, jstring text, jboolean* isCopy) {
    if (isCopy != nullptr)
        *isCopy = JNI_TRUE;
    jvm().outstandingUtfChars++;
    const std::string& value = ScriptedJvm::fake(text)->text;
    char* copy = static_cast<char*>(std::malloc(value.size() + 1));
    std::memcpy(copy, value.c_str(), value.size() + 1);
    return copy;
}

void JNICALL releaseStringUTFChars(JNIEnv*, jstring, const char* chars) {
    jvm().outstandingUtfChars--;
    std::free(const_cast<char*>(chars));
}

} // namespace

void ScriptedJvm::fillJvmti() {
    jvmtiTable.GetSystemProperty = getSystemProperty;
    jvmtiTable.Deallocate = deallocate;
    jvmtiTable.CreateRawMonitor = createRawMonitor;
    jvmtiTable.RawMonitorEnter = rawMonitorEnter;
    jvmtiTable.RawMonitorExit = rawMonitorExit;
    jvmtiTable.GetCapabilities = getCapabilities;
    jvmtiTable.AddCapabilities = addCapabilities;
    jvmtiTable.SetEventCallbacks = setEventCallbacks;
    jvmtiTable.SetEventNotificationMode = setEventNotificationMode;
}

void ScriptedJvm::fillJni() {
    jniTable.FindClass = findClass;
    jniTable.NewGlobalRef = newGlobalRef;
    jniTable.DeleteLocalRef = deleteLocalRef;
    jniTable.GetStaticMethodID = getStaticMethodID;
    jniTable.NewStringUTF = newStringUTF;
    jniTable.CallStaticObjectMethodV = callStaticObjectMethodV;
    jniTable.ExceptionCheck = exceptionCheck;
    jniTable.ExceptionClear = exceptionClear;
    jniTable.GetStringUTFChars = getStringUTFChars;
    jniTable.ReleaseStringUTFChars = releaseStringUTFChars;
}
