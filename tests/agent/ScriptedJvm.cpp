#include "ScriptedJvm.h"

#include "FunctionTableNames.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

using Kind = ScriptedJvm::Kind;
using RefKind = ScriptedJvm::RefKind;

std::string hex(jint value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

// "Ljava/lang/String;" -> "java/lang/String"; array signatures stay as they are.
std::string internalName(const std::string& signature) {
    if (signature.size() > 2 && signature.front() == 'L' && signature.back() == ';')
        return signature.substr(1, signature.size() - 2);
    return signature;
}

std::string signatureOf(const std::string& internal) {
    return internal.front() == '[' ? internal : "L" + internal + ";";
}

// --- traps for every slot nobody scripted ---

enum Table { InvokeTable, JvmtiTable, JniTable };

[[noreturn]] void unscripted(Table table, size_t slot) {
    static const char* const invokeNames[] = {INVOKE_FUNCTION_NAMES};
    static const char* const jvmtiNames[] = {JVMTI_FUNCTION_NAMES};
    static const char* const jniNames[] = {JNI_FUNCTION_NAMES};
    static_assert(sizeof invokeNames / sizeof *invokeNames == sizeof(JNIInvokeInterface_) / sizeof(void*));
    static_assert(sizeof jvmtiNames / sizeof *jvmtiNames == sizeof(jvmtiInterface_1_) / sizeof(void*));
    static_assert(sizeof jniNames / sizeof *jniNames == sizeof(JNINativeInterface_) / sizeof(void*));
    const char* kind = table == InvokeTable ? "invocation" : table == JvmtiTable ? "JVMTI" : "JNI";
    const char* name = table == InvokeTable  ? invokeNames[slot]
                       : table == JvmtiTable ? jvmtiNames[slot]
                                             : jniNames[slot];
    ScriptedJvm::fail(std::string("unscripted ") + kind + " function " + name + " called");
}

template <Table table, size_t slot> void JNICALL trap() {
    unscripted(table, slot);
}

template <Table table, typename FunctionTable, size_t... slots>
void fillTraps(FunctionTable& functions, std::index_sequence<slots...>) {
    using Function = void(JNICALL*)();
    Function traps[] = {&trap<table, slots>...};
    void** slot = reinterpret_cast<void**>(&functions);
    for (size_t i = 0; i < sizeof...(slots); i++)
        if (slot[i] == nullptr)
            slot[i] = reinterpret_cast<void*>(traps[i]);
}

template <Table table, typename FunctionTable> void fillTraps(FunctionTable& functions) {
    fillTraps<table>(functions, std::make_index_sequence<sizeof(FunctionTable) / sizeof(void*)>());
}

// --- invocation interface ---

jint JNICALL getEnv(JavaVM* vm, void** env, jint version) {
    ScriptedJvm& jvm = ScriptedJvm::of(vm);
    jvm.calls.push_back("GetEnv " + hex(version));
    auto found = jvm.getEnvResults.find(version);
    jint result = found == jvm.getEnvResults.end() ? JNI_EVERSION : found->second;
    *env = nullptr;
    if (result == JNI_OK)
        *env = (version & 0x30000000) == 0x30000000 ? static_cast<void*>(jvm.jvmti()) : jvm.jni();
    return result;
}

// --- JVMTI ---

char* jvmtiCopy(ScriptedJvm& jvm, const std::string& text) {
    char* copy = static_cast<char*>(jvm.allocate(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

jvmtiError JNICALL getSystemProperty(jvmtiEnv* env, const char* name, char** value) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    jvm.calls.push_back(std::string("GetSystemProperty ") + name);
    auto found = jvm.jvmtiProperties.find(name);
    if (found == jvm.jvmtiProperties.end())
        return JVMTI_ERROR_NOT_AVAILABLE;
    *value = jvmtiCopy(jvm, found->second);
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL jvmtiDeallocate(jvmtiEnv* env, unsigned char* memory) {
    ScriptedJvm::of(env).deallocate(memory);
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL createRawMonitor(jvmtiEnv* env, const char* name, jrawMonitorID* monitor) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    jvm.calls.push_back(std::string("CreateRawMonitor ") + name);
    if (jvm.failingMonitors.count(name) != 0)
        return JVMTI_ERROR_OUT_OF_MEMORY;
    jvm.monitors.push_back(0);
    *monitor = reinterpret_cast<jrawMonitorID>(&jvm.monitors.back());
    jvm.monitorNames[*monitor] = name;
    return JVMTI_ERROR_NONE;
}

int& monitorDepthOf(ScriptedJvm& jvm, jrawMonitorID monitor, const char* function) {
    if (jvm.monitorNames.count(monitor) == 0)
        ScriptedJvm::fail(std::string(function) + " of a monitor this JVM never created");
    return *reinterpret_cast<int*>(monitor);
}

jvmtiError JNICALL rawMonitorEnter(jvmtiEnv* env, jrawMonitorID monitor) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    monitorDepthOf(jvm, monitor, "RawMonitorEnter")++;
    jvm.calls.push_back("RawMonitorEnter " + jvm.monitorNames[monitor]);
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL rawMonitorExit(jvmtiEnv* env, jrawMonitorID monitor) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    int& depth = monitorDepthOf(jvm, monitor, "RawMonitorExit");
    if (depth == 0)
        ScriptedJvm::fail("RawMonitorExit of " + jvm.monitorNames[monitor] + ", which is not entered");
    depth--;
    jvm.calls.push_back("RawMonitorExit " + jvm.monitorNames[monitor]);
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL rawMonitorWait(jvmtiEnv* env, jrawMonitorID monitor, jlong millis) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    if (monitorDepthOf(jvm, monitor, "RawMonitorWait") == 0)
        return JVMTI_ERROR_NOT_MONITOR_OWNER;
    jvm.calls.push_back("RawMonitorWait " + jvm.monitorNames[monitor] + " " + std::to_string(millis));
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL getCapabilities(jvmtiEnv*, jvmtiCapabilities* capabilities) {
    std::memset(capabilities, 0, sizeof *capabilities);
    capabilities->can_tag_objects = 1; // something the environment already has
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL addCapabilities(jvmtiEnv* env, const jvmtiCapabilities* capabilities) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    jvm.requestedCapabilities = *capabilities;
    jvm.calls.push_back("AddCapabilities");
    return jvm.addCapabilitiesResult;
}

jvmtiError JNICALL setEventCallbacks(jvmtiEnv* env, const jvmtiEventCallbacks* callbacks, jint size) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    jvm.calls.push_back("SetEventCallbacks");
    jvm.callbacksSize = size;
    std::memcpy(&jvm.callbacks, callbacks, std::min<size_t>(size, sizeof jvm.callbacks));
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL setEventNotificationMode(jvmtiEnv* env, jvmtiEventMode mode, jvmtiEvent event,
                                            jthread thread, ...) {
    ScriptedJvm::of(env).calls.push_back(std::string(mode == JVMTI_ENABLE ? "Enable " : "Disable ") +
                                         std::to_string(event) +
                                         (thread == nullptr ? " all threads" : " one thread"));
    return JVMTI_ERROR_NONE;
}

ScriptedJvm::Thread& threadArgument(ScriptedJvm& jvm, jthread thread, const char* function) {
    if (thread == nullptr && jvm.currentThread == nullptr)
        ScriptedJvm::fail(std::string(function) +
                          " for the current thread, but the test set no currentThread");
    return *jvm.resolve(thread != nullptr ? thread : jvm.currentThread, Kind::Thread, function)->thread;
}

jvmtiError JNICALL getAllThreads(jvmtiEnv* env, jint* count, jthread** threads) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    jvm.calls.push_back("GetAllThreads");
    if (jvm.allThreadsError != JVMTI_ERROR_NONE)
        return jvm.allThreadsError;
    std::vector<jthread> alive;
    for (ScriptedJvm::Object* thread : jvm.threadOrder)
        if (thread->thread->alive)
            alive.push_back(jvm.localRef(thread));
    *count = static_cast<jint>(alive.size());
    *threads = static_cast<jthread*>(jvm.allocate(sizeof(jthread) * (alive.size() + 1)));
    std::copy(alive.begin(), alive.end(), *threads);
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL getThreadInfo(jvmtiEnv* env, jthread thread, jvmtiThreadInfo* info) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    ScriptedJvm::Thread& scripted = threadArgument(jvm, thread, "GetThreadInfo");
    jvm.calls.push_back("GetThreadInfo " + scripted.name);
    if (scripted.infoError != JVMTI_ERROR_NONE)
        return scripted.infoError;
    std::memset(info, 0, sizeof *info);
    info->name = jvmtiCopy(jvm, scripted.name);
    info->priority = 5;
    info->thread_group = static_cast<jthreadGroup>(jvm.localRef(jvm.groups.at(scripted.group)));
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL getThreadGroupInfo(jvmtiEnv* env, jthreadGroup group, jvmtiThreadGroupInfo* info) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    const std::string& name = jvm.resolve(group, Kind::Group, "GetThreadGroupInfo")->text;
    jvm.calls.push_back("GetThreadGroupInfo " + name);
    auto error = jvm.groupInfoErrors.find(name);
    if (error != jvm.groupInfoErrors.end())
        return error->second;
    std::memset(info, 0, sizeof *info);
    info->name = jvmtiCopy(jvm, name);
    info->max_priority = 10;
    if (name != "system")
        info->parent = static_cast<jthreadGroup>(jvm.localRef(jvm.groups.at("system")));
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL getThreadLocalStorage(jvmtiEnv* env, jthread thread, void** data) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    ScriptedJvm::Thread& scripted = threadArgument(jvm, thread, "GetThreadLocalStorage");
    jvm.calls.push_back("GetThreadLocalStorage " + scripted.name);
    *data = const_cast<void*>(scripted.localStorage);
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL setThreadLocalStorage(jvmtiEnv* env, jthread thread, const void* data) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    ScriptedJvm::Thread& scripted = threadArgument(jvm, thread, "SetThreadLocalStorage");
    jvm.calls.push_back("SetThreadLocalStorage " + scripted.name);
    if (scripted.setLocalStorageError != JVMTI_ERROR_NONE)
        return scripted.setLocalStorageError;
    scripted.localStorage = data;
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL getThreadListStackTraces(jvmtiEnv* env, jint count, const jthread* threadList,
                                            jint maxFrames, jvmtiStackInfo** result) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    if (jvm.onStackTraces)
        jvm.onStackTraces();
    std::string names;
    std::vector<ScriptedJvm::Thread*> listed;
    for (jint i = 0; i < count; i++) {
        listed.push_back(&threadArgument(jvm, threadList[i], "GetThreadListStackTraces"));
        names += (i == 0 ? "" : ",") + listed.back()->name;
    }
    jvm.calls.push_back("GetThreadListStackTraces " + names + " max " + std::to_string(maxFrames));
    if (count <= 0 || maxFrames < 0)
        return JVMTI_ERROR_ILLEGAL_ARGUMENT;
    if (jvm.stackTracesError != JVMTI_ERROR_NONE)
        return jvm.stackTracesError;
    // One block, as the JVM gives it: the entries, then every thread's frames.
    size_t frames = 0;
    for (ScriptedJvm::Thread* thread : listed)
        frames += std::min<size_t>(thread->samples.front().frames.size(), static_cast<size_t>(maxFrames));
    auto* block = static_cast<unsigned char*>(
        jvm.allocate(sizeof(jvmtiStackInfo) * count + sizeof(jvmtiFrameInfo) * frames));
    auto* entries = reinterpret_cast<jvmtiStackInfo*>(block);
    auto* frameArea = reinterpret_cast<jvmtiFrameInfo*>(block + sizeof(jvmtiStackInfo) * count);
    for (jint i = 0; i < count; i++) {
        ScriptedJvm::Thread& thread = *listed[i];
        const ScriptedJvm::Sample& sample = thread.samples.front();
        jint taken =
            static_cast<jint>(std::min<size_t>(sample.frames.size(), static_cast<size_t>(maxFrames)));
        entries[i].thread = threadList[i];
        entries[i].state = sample.state;
        entries[i].frame_buffer = frameArea;
        entries[i].frame_count = taken;
        std::copy(sample.frames.begin(), sample.frames.begin() + taken, frameArea);
        frameArea += taken;
        if (thread.samples.size() > 1)
            thread.samples.pop_front();
    }
    *result = entries;
    return JVMTI_ERROR_NONE;
}

ScriptedJvm::Method& methodArgument(ScriptedJvm& jvm, jmethodID id, const char* function) {
    if (id == nullptr)
        ScriptedJvm::fail(std::string(function) + " with a null method ID");
    return jvm.methodOf(id);
}

jvmtiError JNICALL getMethodName(jvmtiEnv* env, jmethodID id, char** name, char** signature, char** generic) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    ScriptedJvm::Method& method = methodArgument(jvm, id, "GetMethodName");
    jvm.calls.push_back("GetMethodName " + method.name);
    if (method.nameError != JVMTI_ERROR_NONE)
        return method.nameError;
    if (name != nullptr)
        *name = jvmtiCopy(jvm, method.name);
    if (signature != nullptr)
        *signature = jvmtiCopy(jvm, method.signature);
    if (generic != nullptr)
        *generic = nullptr;
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL getMethodDeclaringClass(jvmtiEnv* env, jmethodID id, jclass* declaringClass) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    ScriptedJvm::Method& method = methodArgument(jvm, id, "GetMethodDeclaringClass");
    jvm.calls.push_back("GetMethodDeclaringClass " + method.name);
    if (method.declaringClassError != JVMTI_ERROR_NONE)
        return method.declaringClassError;
    *declaringClass = static_cast<jclass>(jvm.localRef(jvm.classObject(method.classSignature)));
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL getClassSignature(jvmtiEnv* env, jclass klass, char** signature, char** generic) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    const std::string& text = jvm.resolve(klass, Kind::Class, "GetClassSignature")->text;
    jvm.calls.push_back("GetClassSignature " + text);
    auto error = jvm.classSignatureErrors.find(text);
    if (error != jvm.classSignatureErrors.end())
        return error->second;
    if (signature != nullptr)
        *signature = jvmtiCopy(jvm, text);
    if (generic != nullptr)
        *generic = nullptr;
    return JVMTI_ERROR_NONE;
}

jvmtiError JNICALL getLineNumberTable(jvmtiEnv* env, jmethodID id, jint* count,
                                      jvmtiLineNumberEntry** table) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    ScriptedJvm::Method& method = methodArgument(jvm, id, "GetLineNumberTable");
    jvm.calls.push_back("GetLineNumberTable " + method.name);
    if (method.lineTableError != JVMTI_ERROR_NONE)
        return method.lineTableError;
    *count = static_cast<jint>(method.lines.size());
    *table =
        static_cast<jvmtiLineNumberEntry*>(jvm.allocate(sizeof(jvmtiLineNumberEntry) * method.lines.size()));
    std::copy(method.lines.begin(), method.lines.end(), *table);
    return JVMTI_ERROR_NONE;
}

// --- JNI: classes, methods, calls ---

jclass JNICALL findClass(JNIEnv* env, const char* name) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    jvm.calls.push_back(std::string("FindClass ") + name);
    if (jvm.missingClasses.count(name) != 0) {
        jvm.throwJava("java/lang/NoClassDefFoundError");
        return nullptr;
    }
    return static_cast<jclass>(jvm.localRef(jvm.classObject(signatureOf(name))));
}

jmethodID lookUpJavaMethod(JNIEnv* env, jclass klass, const char* name, const char* signature,
                           bool isStatic) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    const char* function = isStatic ? "GetStaticMethodID" : "GetMethodID";
    std::string owner = internalName(jvm.resolve(klass, Kind::Class, function)->text);
    jvm.calls.push_back(std::string(function) + " " + name + " " + signature);
    std::string key = owner + "." + name + signature;
    if (jvm.missingMethods.count(key) != 0) {
        jvm.throwJava("java/lang/NoSuchMethodError");
        return nullptr;
    }
    jvm.methods.push_back(ScriptedJvm::MethodId{{signatureOf(owner), name, signature, {}}, isStatic, key});
    return reinterpret_cast<jmethodID>(&jvm.methods.back());
}

jmethodID JNICALL getMethodID(JNIEnv* env, jclass klass, const char* name, const char* signature) {
    return lookUpJavaMethod(env, klass, name, signature, false);
}

jmethodID JNICALL getStaticMethodID(JNIEnv* env, jclass klass, const char* name, const char* signature) {
    return lookUpJavaMethod(env, klass, name, signature, true);
}

// Reads the arguments of a call by the method's descriptor, as the JVM does.
std::vector<jvalue> readArguments(const std::string& signature, va_list args) {
    std::vector<jvalue> values;
    for (size_t i = 1; i < signature.size() && signature[i] != ')'; i++) {
        jvalue value{};
        char type = signature[i];
        if (type == '[') {
            while (signature[i] == '[')
                i++;
            if (signature[i] == 'L')
                i = signature.find(';', i);
            value.l = va_arg(args, jobject);
        } else if (type == 'L') {
            i = signature.find(';', i);
            value.l = va_arg(args, jobject);
        } else if (type == 'J') {
            value.j = va_arg(args, jlong);
        } else if (type == 'F' || type == 'D') {
            value.d = va_arg(args, double);
        } else {
            value.i = va_arg(args, int);
        }
        values.push_back(value);
    }
    return values;
}

std::string describeArguments(ScriptedJvm& jvm, const std::string& signature,
                              const std::vector<jvalue>& args) {
    std::string text;
    size_t next = 0;
    for (size_t i = 1; i < signature.size() && signature[i] != ')' && next < args.size(); i++, next++) {
        const jvalue& value = args[next];
        char type = signature[i];
        text += " ";
        if (type == 'L' || type == '[') {
            while (signature[i] == '[')
                i++;
            if (signature[i] == 'L')
                i = signature.find(';', i);
            text += value.l == nullptr ? "null" : jvm.textOf(value.l);
        } else if (type == 'Z') {
            text += value.i != 0 ? "true" : "false";
        } else if (type == 'J') {
            text += std::to_string(value.j);
        } else {
            text += std::to_string(value.i);
        }
    }
    return text;
}

jobject callJava(JNIEnv* env, jobject self, jmethodID id, va_list args, bool isStatic, const char* function) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    if (jvm.exceptionPending)
        ScriptedJvm::fail(std::string(function) + " with a Java exception pending");
    if (id == nullptr)
        ScriptedJvm::fail(std::string(function) + " with a null method ID");
    auto& method = *reinterpret_cast<ScriptedJvm::MethodId*>(id);
    if (method.javaKey.empty() || method.isStatic != isStatic)
        ScriptedJvm::fail(std::string(function) + " of " + method.method.name + ", not looked up as such");
    jvm.resolve(self, function);
    std::vector<jvalue> values = readArguments(method.method.signature, args);
    jvm.calls.push_back("Call " + method.method.name +
                        describeArguments(jvm, method.method.signature, values));
    auto behaviour = jvm.javaMethods.find(method.javaKey);
    if (behaviour == jvm.javaMethods.end())
        ScriptedJvm::fail("unscripted Java method " + method.javaKey + " called");
    return behaviour->second(self, values);
}

void JNICALL callVoidMethodV(JNIEnv* env, jobject self, jmethodID id, va_list args) {
    callJava(env, self, id, args, false, "CallVoidMethodV");
}

jobject JNICALL callObjectMethodV(JNIEnv* env, jobject self, jmethodID id, va_list args) {
    return callJava(env, self, id, args, false, "CallObjectMethodV");
}

void JNICALL callStaticVoidMethodV(JNIEnv* env, jclass klass, jmethodID id, va_list args) {
    callJava(env, klass, id, args, true, "CallStaticVoidMethodV");
}

jobject JNICALL callStaticObjectMethodV(JNIEnv* env, jclass klass, jmethodID id, va_list args) {
    return callJava(env, klass, id, args, true, "CallStaticObjectMethodV");
}

jboolean JNICALL exceptionCheck(JNIEnv* env) {
    return ScriptedJvm::of(env).exceptionPending ? JNI_TRUE : JNI_FALSE;
}

void JNICALL exceptionClear(JNIEnv* env) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    jvm.exceptionPending = false;
    jvm.pendingException.clear();
}

// --- JNI: references ---

jobject newLongLivedRef(JNIEnv* env, jobject object, RefKind kind, const char* function) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    ScriptedJvm::Object* target = jvm.resolve(object, function);
    return target == nullptr ? nullptr : jvm.newRef(target, kind);
}

jobject JNICALL newGlobalRef(JNIEnv* env, jobject object) {
    return newLongLivedRef(env, object, RefKind::Global, "NewGlobalRef");
}

void JNICALL deleteGlobalRef(JNIEnv* env, jobject object) {
    ScriptedJvm::of(env).deleteRef(object, RefKind::Global, "DeleteGlobalRef");
}

jweak JNICALL newWeakGlobalRef(JNIEnv* env, jobject object) {
    return newLongLivedRef(env, object, RefKind::Weak, "NewWeakGlobalRef");
}

void JNICALL deleteWeakGlobalRef(JNIEnv* env, jweak object) {
    ScriptedJvm::of(env).deleteRef(object, RefKind::Weak, "DeleteWeakGlobalRef");
}

jobject JNICALL newLocalRef(JNIEnv* env, jobject object) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    ScriptedJvm::Object* target = jvm.resolve(object, "NewLocalRef");
    return target == nullptr || target->collected ? nullptr : jvm.localRef(target);
}

void JNICALL deleteLocalRef(JNIEnv* env, jobject object) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    if (object == nullptr)
        return;
    auto* ref = reinterpret_cast<ScriptedJvm::Ref*>(object);
    // The caller's own arguments are local references of the native frame too.
    jvm.deleteRef(object, ref->kind == RefKind::Caller ? RefKind::Caller : RefKind::Local, "DeleteLocalRef");
}

jint JNICALL pushLocalFrame(JNIEnv* env, jint capacity) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    jvm.calls.push_back("PushLocalFrame " + std::to_string(capacity));
    if (capacity < 0)
        ScriptedJvm::fail("PushLocalFrame with a negative capacity");
    jvm.localFrames.emplace_back();
    return JNI_OK;
}

jobject JNICALL popLocalFrame(JNIEnv* env, jobject result) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    jvm.calls.push_back("PopLocalFrame");
    if (jvm.localFrames.size() < 2)
        ScriptedJvm::fail("PopLocalFrame without a pushed frame");
    ScriptedJvm::Object* kept = jvm.resolve(result, "PopLocalFrame");
    for (ScriptedJvm::Ref* ref : jvm.localFrames.back())
        ref->live = false;
    jvm.localFrames.pop_back();
    return kept == nullptr ? nullptr : jvm.localRef(kept);
}

jboolean JNICALL isSameObject(JNIEnv* env, jobject a, jobject b) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    ScriptedJvm::Object* first = jvm.resolve(a, "IsSameObject");
    ScriptedJvm::Object* second = jvm.resolve(b, "IsSameObject");
    if (first != nullptr && first->collected)
        first = nullptr;
    if (second != nullptr && second->collected)
        second = nullptr;
    return first == second ? JNI_TRUE : JNI_FALSE;
}

// --- JNI: strings and arrays ---

jstring JNICALL newStringUTF(JNIEnv* env, const char* text) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    if (text == nullptr)
        return nullptr;
    return static_cast<jstring>(jvm.localRef(jvm.newObject(Kind::String, text)));
}

jsize JNICALL getStringUTFLength(JNIEnv* env, jstring text) {
    return static_cast<jsize>(
        ScriptedJvm::of(env).resolve(text, Kind::String, "GetStringUTFLength")->text.size());
}

const char* JNICALL getStringUTFChars(JNIEnv* env, jstring text, jboolean* isCopy) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    ScriptedJvm::Object* string = jvm.resolve(text, Kind::String, "GetStringUTFChars");
    if (string->refusesUtfChars) {
        jvm.throwJava("java/lang/OutOfMemoryError");
        return nullptr;
    }
    if (isCopy != nullptr)
        *isCopy = JNI_TRUE;
    char* copy = static_cast<char*>(std::malloc(string->text.size() + 1));
    std::memcpy(copy, string->text.c_str(), string->text.size() + 1);
    jvm.utfChars[copy] = string;
    jvm.outstandingUtfChars++;
    return copy;
}

void JNICALL releaseStringUTFChars(JNIEnv* env, jstring text, const char* chars) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    ScriptedJvm::Object* string = jvm.resolve(text, Kind::String, "ReleaseStringUTFChars");
    auto found = jvm.utfChars.find(chars);
    if (found == jvm.utfChars.end() || found->second != string)
        ScriptedJvm::fail(
            "ReleaseStringUTFChars of characters this string did not hand out (or released twice)");
    jvm.utfChars.erase(found);
    jvm.outstandingUtfChars--;
    std::free(const_cast<char*>(chars));
}

jsize JNICALL getArrayLength(JNIEnv* env, jarray array) {
    ScriptedJvm::Object* object = ScriptedJvm::of(env).resolve(array, "GetArrayLength");
    if (object == nullptr)
        ScriptedJvm::fail("GetArrayLength of null");
    switch (object->kind) {
    case Kind::ObjectArray:
        return static_cast<jsize>(object->elements.size());
    case Kind::LongArray:
        return static_cast<jsize>(object->longs.size());
    case Kind::ByteArray:
        return static_cast<jsize>(object->bytes.size());
    default:
        ScriptedJvm::fail("GetArrayLength of an object that is no array");
    }
}

jobject JNICALL getObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    ScriptedJvm::Object* object = jvm.resolve(array, Kind::ObjectArray, "GetObjectArrayElement");
    if (index < 0 || static_cast<size_t>(index) >= object->elements.size()) {
        jvm.throwJava("java/lang/ArrayIndexOutOfBoundsException");
        return nullptr;
    }
    ScriptedJvm::Object* element = object->elements[index];
    return element == nullptr ? nullptr : jvm.localRef(element);
}

template <typename Element>
Element* arrayElements(JNIEnv* env, jarray array, Kind kind,
                       std::vector<Element>& (*values)(ScriptedJvm::Object*), jboolean* isCopy,
                       const char* function) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    ScriptedJvm::Object* object = jvm.resolve(array, kind, function);
    std::vector<Element>& source = values(object);
    auto* copy = static_cast<Element*>(std::malloc(sizeof(Element) * (source.size() + 1)));
    std::copy(source.begin(), source.end(), copy);
    if (isCopy != nullptr)
        *isCopy = JNI_TRUE;
    jvm.arrayElements[copy] = object;
    jvm.outstandingArrayElements++;
    return copy;
}

template <typename Element>
void releaseArrayElements(JNIEnv* env, jarray array, Kind kind,
                          std::vector<Element>& (*values)(ScriptedJvm::Object*), Element* elements, jint mode,
                          const char* function) {
    ScriptedJvm& jvm = ScriptedJvm::of(env);
    ScriptedJvm::Object* object = jvm.resolve(array, kind, function);
    auto found = jvm.arrayElements.find(elements);
    if (found == jvm.arrayElements.end() || found->second != object)
        ScriptedJvm::fail(std::string(function) +
                          " of elements this array did not hand out (or released twice)");
    std::vector<Element>& target = values(object);
    if (mode == 0 || mode == JNI_COMMIT)
        std::copy(elements, elements + target.size(), target.begin());
    if (mode == JNI_COMMIT)
        return;
    jvm.arrayElements.erase(found);
    jvm.outstandingArrayElements--;
    std::free(elements);
}

std::vector<jlong>& longValues(ScriptedJvm::Object* object) {
    return object->longs;
}

std::vector<jbyte>& byteValues(ScriptedJvm::Object* object) {
    return object->bytes;
}

jlong* JNICALL getLongArrayElements(JNIEnv* env, jlongArray array, jboolean* isCopy) {
    return arrayElements(env, array, Kind::LongArray, longValues, isCopy, "GetLongArrayElements");
}

void JNICALL releaseLongArrayElements(JNIEnv* env, jlongArray array, jlong* elements, jint mode) {
    releaseArrayElements(env, array, Kind::LongArray, longValues, elements, mode, "ReleaseLongArrayElements");
}

jbyte* JNICALL getByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* isCopy) {
    return arrayElements(env, array, Kind::ByteArray, byteValues, isCopy, "GetByteArrayElements");
}

void JNICALL releaseByteArrayElements(JNIEnv* env, jbyteArray array, jbyte* elements, jint mode) {
    releaseArrayElements(env, array, Kind::ByteArray, byteValues, elements, mode, "ReleaseByteArrayElements");
}

} // namespace

// --- the double ---

ScriptedJvm::ScriptedJvm() {
    invokeTable.GetEnv = getEnv;
    fillTraps<InvokeTable>(invokeTable);
    vmSlot = {JavaVM{&invokeTable}, this};
    fillJvmti();
    fillTraps<JvmtiTable>(jvmtiTable);
    jvmtiSlot = {jvmtiEnv{&jvmtiTable}, this};
    fillJni();
    fillTraps<JniTable>(jniTable);
    jniSlot = {JNIEnv{&jniTable}, this};
    groups["system"] = newObject(Kind::Group, "system");
    addDefaultJavaMethods();
}

ScriptedJvm::~ScriptedJvm() {
    for (void* memory : allocations)
        std::free(memory);
    for (auto& chars : utfChars)
        std::free(const_cast<void*>(chars.first));
    for (auto& elements : arrayElements)
        std::free(const_cast<void*>(elements.first));
}

void ScriptedJvm::fail(const std::string& what) {
    std::fprintf(stderr, "ScriptedJvm: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

ScriptedJvm::Object* ScriptedJvm::newObject(Kind kind, const std::string& text) {
    objects.push_back(Object{kind, text, {}, {}, {}});
    return &objects.back();
}

jobject ScriptedJvm::newRef(Object* target, RefKind kind) {
    refs.push_back(Ref{target, kind});
    return reinterpret_cast<jobject>(&refs.back());
}

jobject ScriptedJvm::callerRef(Object* target) {
    return newRef(target, RefKind::Caller);
}

jobject ScriptedJvm::localRef(Object* target) {
    jobject ref = newRef(target, RefKind::Local);
    localFrames.back().push_back(reinterpret_cast<Ref*>(ref));
    return ref;
}

ScriptedJvm::Object* ScriptedJvm::resolve(jobject handle, const char* function) {
    if (handle == nullptr)
        return nullptr;
    auto* ref = reinterpret_cast<Ref*>(handle);
    if (!ref->live)
        fail(std::string(function) + " with a deleted reference to " + ref->object->text);
    return ref->object;
}

ScriptedJvm::Object* ScriptedJvm::resolve(jobject handle, Kind kind, const char* function) {
    Object* target = resolve(handle, function);
    if (target == nullptr)
        fail(std::string(function) + " with a null reference");
    if (target->kind != kind)
        fail(std::string(function) + " with an object of the wrong type: " + target->text);
    return target;
}

void ScriptedJvm::deleteRef(jobject handle, RefKind kind, const char* function) {
    if (handle == nullptr)
        return;
    auto* ref = reinterpret_cast<Ref*>(handle);
    if (!ref->live)
        fail(std::string(function) + " of a reference deleted before, to " + ref->object->text);
    if (ref->kind != kind)
        fail(std::string(function) + " of a reference of another kind, to " + ref->object->text);
    ref->live = false;
}

ScriptedJvm::Object* ScriptedJvm::classObject(const std::string& signature) {
    Object*& found = classes[signature];
    if (found == nullptr)
        found = newObject(Kind::Class, signature);
    return found;
}

void* ScriptedJvm::allocate(size_t bytes) {
    void* memory = std::malloc(bytes == 0 ? 1 : bytes);
    allocations.insert(memory);
    outstandingAllocations++;
    return memory;
}

void ScriptedJvm::deallocate(void* memory) {
    if (memory == nullptr)
        return;
    if (allocations.erase(memory) == 0)
        fail("Deallocate of memory this JVMTI did not allocate (or deallocated twice)");
    std::free(memory);
    outstandingAllocations--;
}

jobject ScriptedJvm::object(const std::string& text) {
    return callerRef(newObject(Kind::Plain, text));
}

jstring ScriptedJvm::newString(const char* text) {
    return text == nullptr ? nullptr : static_cast<jstring>(callerRef(newObject(Kind::String, text)));
}

jobjectArray ScriptedJvm::stringArray(const std::vector<const char*>& texts) {
    Object* array = newObject(Kind::ObjectArray, "String[]");
    for (const char* text : texts)
        array->elements.push_back(text == nullptr ? nullptr : newObject(Kind::String, text));
    return static_cast<jobjectArray>(callerRef(array));
}

jlongArray ScriptedJvm::longArray(const std::vector<jlong>& values) {
    Object* array = newObject(Kind::LongArray, "long[]");
    array->longs = values;
    return static_cast<jlongArray>(callerRef(array));
}

jbyteArray ScriptedJvm::byteArray(const std::vector<jbyte>& values) {
    Object* array = newObject(Kind::ByteArray, "byte[]");
    array->bytes = values;
    return static_cast<jbyteArray>(callerRef(array));
}

jclass ScriptedJvm::javaClass(const std::string& name) {
    return static_cast<jclass>(callerRef(classObject(signatureOf(name))));
}

void ScriptedJvm::refuseUtfChars(jstring text) {
    resolve(text, Kind::String, "refuseUtfChars")->refusesUtfChars = true;
}

void ScriptedJvm::collect(jobject handle) {
    resolve(handle, "collect")->collected = true;
}

std::string ScriptedJvm::textOf(jobject handle) {
    Object* target = resolve(handle, "textOf");
    return target == nullptr ? "null" : target->text;
}

std::vector<jlong> ScriptedJvm::longsOf(jobject array) {
    return resolve(array, Kind::LongArray, "longsOf")->longs;
}

jmethodID ScriptedJvm::method(const std::string& classSignature, const std::string& name,
                              const std::string& signature, const std::vector<jvmtiLineNumberEntry>& lines) {
    methods.push_back(MethodId{Method{classSignature, name, signature, lines}, false, ""});
    return reinterpret_cast<jmethodID>(&methods.back());
}

ScriptedJvm::Method& ScriptedJvm::methodOf(jmethodID id) {
    for (MethodId& known : methods)
        if (reinterpret_cast<jmethodID>(&known) == id)
            return known.method;
    fail("a method ID this JVM never handed out");
}

jthread ScriptedJvm::thread(const std::string& name, const std::string& group) {
    threads.push_back(Thread{name, group});
    Object* target = newObject(Kind::Thread, name);
    target->thread = &threads.back();
    if (groups.count(group) == 0)
        groups[group] = newObject(Kind::Group, group);
    threadOrder.push_back(target);
    return static_cast<jthread>(callerRef(target));
}

ScriptedJvm::Thread& ScriptedJvm::threadOf(jobject handle) {
    return *resolve(handle, Kind::Thread, "threadOf")->thread;
}

jobject ScriptedJvm::threadManager(const std::vector<jlong>& transactionIds) {
    Object* manager = newObject(Kind::Manager, "thread manager");
    manager->longs = transactionIds;
    return callerRef(manager);
}

std::vector<jlong>& ScriptedJvm::transactionsOf(jobject manager) {
    return resolve(manager, Kind::Manager, "transactionsOf")->longs;
}

void ScriptedJvm::throwJava(const std::string& className) {
    calls.push_back("Throw " + className);
    exceptionPending = true;
    pendingException = className;
}

int ScriptedJvm::liveLocalReferences() const {
    int count = 0;
    for (const auto& frame : localFrames)
        count += static_cast<int>(
            std::count_if(frame.begin(), frame.end(), [](const Ref* ref) { return ref->live; }));
    return count;
}

int ScriptedJvm::liveGlobalReferences() const {
    return static_cast<int>(std::count_if(
        refs.begin(), refs.end(), [](const Ref& ref) { return ref.live && ref.kind == RefKind::Global; }));
}

int ScriptedJvm::liveWeakReferences() const {
    return static_cast<int>(std::count_if(
        refs.begin(), refs.end(), [](const Ref& ref) { return ref.live && ref.kind == RefKind::Weak; }));
}

int ScriptedJvm::monitorDepth(const std::string& name) const {
    for (const auto& monitor : monitorNames)
        if (monitor.second == name)
            return *reinterpret_cast<const int*>(monitor.first);
    return 0;
}

void ScriptedJvm::addDefaultJavaMethods() {
    javaMethods["java/lang/System.getProperty(Ljava/lang/String;)Ljava/lang/String;"] =
        [this](jobject, const std::vector<jvalue>& args) -> jobject {
        std::string name = textOf(args[0].l);
        if (throwingProperties.count(name) != 0) {
            throwJava("java/lang/SecurityException");
            return nullptr;
        }
        auto found = javaProperties.find(name);
        return found == javaProperties.end() ? nullptr : localRef(newObject(Kind::String, found->second));
    };
    javaMethods["com/zentaro/agent/callee/JvmtiCallee.setThreadReporting(Z)V"] =
        [](jobject, const std::vector<jvalue>&) -> jobject { return nullptr; };
    const std::string manager = "com/zentaro/agent/callee/JvmtiCallee$JvmtiThreadManager.";
    javaMethods[manager + "initSamplingState()V"] = [](jobject, const std::vector<jvalue>&) -> jobject {
        return nullptr;
    };
    javaMethods[manager + "getSamplingTransactionIds()[J"] = [this](jobject self,
                                                                    const std::vector<jvalue>&) -> jobject {
        const std::vector<jlong>& ids = transactionsOf(self);
        Object* array = newObject(Kind::LongArray, "long[]");
        array->longs.push_back(static_cast<jlong>(ids.size()));
        array->longs.insert(array->longs.end(), ids.begin(), ids.end());
        return localRef(array);
    };
}

void ScriptedJvm::fillJvmti() {
    jvmtiTable.GetSystemProperty = getSystemProperty;
    jvmtiTable.Deallocate = jvmtiDeallocate;
    jvmtiTable.CreateRawMonitor = createRawMonitor;
    jvmtiTable.RawMonitorEnter = rawMonitorEnter;
    jvmtiTable.RawMonitorExit = rawMonitorExit;
    jvmtiTable.RawMonitorWait = rawMonitorWait;
    jvmtiTable.GetCapabilities = getCapabilities;
    jvmtiTable.AddCapabilities = addCapabilities;
    jvmtiTable.SetEventCallbacks = setEventCallbacks;
    jvmtiTable.SetEventNotificationMode = setEventNotificationMode;
    jvmtiTable.GetAllThreads = getAllThreads;
    jvmtiTable.GetThreadInfo = getThreadInfo;
    jvmtiTable.GetThreadGroupInfo = getThreadGroupInfo;
    jvmtiTable.GetThreadLocalStorage = getThreadLocalStorage;
    jvmtiTable.SetThreadLocalStorage = setThreadLocalStorage;
    jvmtiTable.GetThreadListStackTraces = getThreadListStackTraces;
    jvmtiTable.GetMethodName = getMethodName;
    jvmtiTable.GetMethodDeclaringClass = getMethodDeclaringClass;
    jvmtiTable.GetClassSignature = getClassSignature;
    jvmtiTable.GetLineNumberTable = getLineNumberTable;
}

void ScriptedJvm::fillJni() {
    jniTable.FindClass = findClass;
    jniTable.GetMethodID = getMethodID;
    jniTable.GetStaticMethodID = getStaticMethodID;
    jniTable.CallVoidMethodV = callVoidMethodV;
    jniTable.CallObjectMethodV = callObjectMethodV;
    jniTable.CallStaticVoidMethodV = callStaticVoidMethodV;
    jniTable.CallStaticObjectMethodV = callStaticObjectMethodV;
    jniTable.ExceptionCheck = exceptionCheck;
    jniTable.ExceptionClear = exceptionClear;
    jniTable.NewGlobalRef = newGlobalRef;
    jniTable.DeleteGlobalRef = deleteGlobalRef;
    jniTable.NewWeakGlobalRef = newWeakGlobalRef;
    jniTable.DeleteWeakGlobalRef = deleteWeakGlobalRef;
    jniTable.NewLocalRef = newLocalRef;
    jniTable.DeleteLocalRef = deleteLocalRef;
    jniTable.PushLocalFrame = pushLocalFrame;
    jniTable.PopLocalFrame = popLocalFrame;
    jniTable.IsSameObject = isSameObject;
    jniTable.NewStringUTF = newStringUTF;
    jniTable.GetStringUTFLength = getStringUTFLength;
    jniTable.GetStringUTFChars = getStringUTFChars;
    jniTable.ReleaseStringUTFChars = releaseStringUTFChars;
    jniTable.GetArrayLength = getArrayLength;
    jniTable.GetObjectArrayElement = getObjectArrayElement;
    jniTable.GetLongArrayElements = getLongArrayElements;
    jniTable.ReleaseLongArrayElements = releaseLongArrayElements;
    jniTable.GetByteArrayElements = getByteArrayElements;
    jniTable.ReleaseByteArrayElements = releaseByteArrayElements;
}
