// A scripted stand-in for the JVM's invocation, JVMTI and JNI function tables. The test says what
// the JVM answers; the double keeps a transcript of the calls the agent made. Functions nobody
// scripted are left null, so an unexpected call fails loudly.
#pragma once

#include <deque>
#include <jni.h>
#include <jvmti.h>
#include <map>
#include <set>
#include <string>
#include <vector>

class ScriptedJvm {
  public:
    ScriptedJvm();
    ~ScriptedJvm();
    ScriptedJvm(const ScriptedJvm&) = delete;
    ScriptedJvm& operator=(const ScriptedJvm&) = delete;

    JavaVM* vm() { return &javaVm; }
    JNIEnv* jni() { return &jniEnv; }
    jvmtiEnv* jvmti() { return &jvmtiEnvironment; }

    // A Java string; null for a null text.
    jstring newString(const char* text);

    // --- script ---
    // Results of GetEnv by requested version; versions not listed answer JNI_EVERSION.
    std::map<jint, jint> getEnvResults = {{JVMTI_VERSION_1_1, JNI_OK}, {JNI_VERSION_1_4, JNI_OK}};
    std::map<std::string, std::string> jvmtiProperties = {{"java.vm.name", "Scripted VM"},
                                                          {"java.vm.version", "17.0-scripted"}};
    // System.getProperty: absent names return null; names in throwingProperties throw.
    std::map<std::string, std::string> javaProperties = {{"java.version", "17.0.9"}};
    std::set<std::string> throwingProperties;
    jvmtiError addCapabilitiesResult = JVMTI_ERROR_NONE;
    std::set<std::string> failingMonitors;

    // --- what the agent did ---
    std::vector<std::string> calls;
    jvmtiEventCallbacks callbacks{};
    jint callbacksSize = 0;
    jvmtiCapabilities requestedCapabilities{};
    bool exceptionPending = false;
    int outstandingAllocations = 0;
    int outstandingUtfChars = 0;

    static ScriptedJvm* current;

  private:
    struct FakeObject {
        std::string text;
    };
    void fillJvmti();
    void fillJni();

  public:
    jobject object(const std::string& text);
    static FakeObject* fake(jobject handle) { return reinterpret_cast<FakeObject*>(handle); }
    std::deque<FakeObject> objects;
    std::map<jrawMonitorID, std::string> monitorNames;
    std::deque<int> monitors;

  private:
    JNIInvokeInterface_ invokeTable{};
    JavaVM javaVm{};
    jvmtiInterface_1_ jvmtiTable{};
    jvmtiEnv jvmtiEnvironment{};
    JNINativeInterface_ jniTable{};
    JNIEnv jniEnv{};
};
