#include "ClassProfilingSession.h"

#include "DataWriter.h"
#include "DebugOutput.h"
#include "ProfilingSession.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

const char* const unit = "shared/ClassProfilingSession";

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool isSeparator(char c) {
    return c == '.' || c == '/';
}

bool matchFrom(const char* pattern, const char* text, bool wildcardSeen) {
    for (;;) {
        if (*text == '\0') {
            while (*pattern == '*')
                pattern++;
            return *pattern == '\0';
        }
        if (*pattern == '*') {
            while (*pattern == '*')
                pattern++;
            if (*pattern == '\0')
                return true;
            for (; *text != '\0'; text++)
                if (matchFrom(pattern, text, true))
                    return true;
            return false;
        }
        if (*pattern == '?') {
            wildcardSeen = true;
        } else if (*pattern == *text && *pattern != '\0') {
        } else if (*pattern == '\0' && !wildcardSeen) {
            return true;
        } else if (!(isSeparator(*text) && isSeparator(*pattern))) {
            return false;
        }
        pattern++;
        text++;
    }
}

bool methodPairMatches(const NetioClass::MethodPair& pair, const MethodDesc& method) {
    return pair.first != nullptr && std::strcmp(pair.first, method.name) == 0 &&
           (pair.second == nullptr || std::strcmp(pair.second, method.signature) == 0);
}

bool isNetioMethod(const MethodDesc& method) {
    const NetioClass* netio = method.classData->netio;
    if (netio == nullptr)
        return false;
    if (netio->methods == nullptr)
        return true;
    for (const NetioClass::MethodPair& pair : *netio->methods)
        if (methodPairMatches(pair, method))
            return true;
    return false;
}

// Copies of the elements of a Java String[] in index order; an element that is null or whose
// characters cannot be had is a null entry. A null array has no elements.
std::vector<char*> readStringArray(JNIEnv* env, jobjectArray array) {
    std::vector<char*> copies;
    if (array == nullptr)
        return copies;
    jsize length = env->GetArrayLength(array);
    for (jsize i = 0; i < length; i++) {
        jstring element = static_cast<jstring>(env->GetObjectArrayElement(array, i));
        char* copy = nullptr;
        if (element != nullptr) {
            if (const char* chars = env->GetStringUTFChars(element, nullptr)) {
                copy = copyString(chars);
                env->ReleaseStringUTFChars(element, chars);
            }
            env->DeleteLocalRef(element);
        }
        copies.push_back(copy);
    }
    return copies;
}

std::vector<char*> withoutNulls(const std::vector<char*>& strings) {
    std::vector<char*> kept;
    for (char* text : strings)
        if (text != nullptr)
            kept.push_back(text);
    return kept;
}

} // namespace

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
    unknownMethod = describeMethod(&unknownClass, "unknown", "()V");
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

MethodDesc* ClassProfilingSession::describeMethod(ClassData* classData, const char* name,
                                                  const char* signature) {
    auto* method = new MethodDesc{classData, copyString(name), copyString(signature)};
    method->marker = startsWith(method->name, "__hvs_") && std::strcmp(method->name, "__hvs_sleep") != 0;
    method->netio = isNetioMethod(*method);
    computeFilterFlags(method);
    return method;
}

void ClassProfilingSession::computeFilterFlags(MethodDesc* method) const {
    method->filtered = false;
    method->ignored = false;
    if (method->classData == nullptr || method->classData->kind == annotationClassKind)
        return;
    method->ignored = isIgnored(method->classData);
    if (filtersSet)
        method->filtered = filterDecision(method->classData->name, filterPatterns, filterCount, invertFilter);
}

ClassData* ClassProfilingSession::lookupClass(jmethodID method, JNIEnv* env) {
    jclass declaringClass = nullptr;
    jvmtiError error = jvmti->GetMethodDeclaringClass(method, &declaringClass);
    if (error != JVMTI_ERROR_NONE) {
        consoleMessage("error: could not get declaring class (code %d)", static_cast<int>(error));
        return nullptr;
    }
    char* signature = nullptr;
    ClassData* classData = nullptr;
    if (jvmti->GetClassSignature(declaringClass, &signature, nullptr) == JVMTI_ERROR_NONE &&
        signature != nullptr) {
        String probe(signature, static_cast<int32_t>(std::strlen(signature)));
        classData = classSignatureTable.get(&probe);
        if (classData == nullptr) {
            classData = createClassData(signature);
            AGENT_ASSERT(classData, unit);
            char* key = copyString(signature);
            classSignatureTable.put(new String(key, probe.byteLength()), classData);
        }
        jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
    }
    // Also when the signature is unreadable: the sampler calls in for every new frame.
    env->DeleteLocalRef(declaringClass);
    return classData;
}

MethodDesc* ClassProfilingSession::lookupMethod(jmethodID method, JNIEnv* env) {
    if (MethodDesc* known = methodTable.get(method))
        return known;
    if (env == nullptr)
        return nullptr;
    ClassData* classData = lookupClass(method, env);
    char* name = nullptr;
    char* signature = nullptr;
    jvmtiError error = jvmti->GetMethodName(method, &name, &signature, nullptr);
    MethodDesc* result;
    if (error != JVMTI_ERROR_NONE) {
        consoleMessage("error: could not get method name (code %d)", static_cast<int>(error));
        // The unknown method is registered once, at construction: a second entry would repeat
        // its identifier in the snapshot's method list.
        result = unknownMethod;
    } else {
        result = describeMethod(classData != nullptr ? classData : &unknownClass, name, signature);
        jvmti->Deallocate(reinterpret_cast<unsigned char*>(name));
        jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
        registerMethod(result);
    }
    methodTable.put(method, result);
    return result;
}

MethodDesc* ClassProfilingSession::createInterceptionMethod(const char* name) {
    MethodDesc* method = describeMethod(&annotationMarkerClass, name, "()V");
    registerMethod(method);
    return method;
}

void ClassProfilingSession::setFilters(const std::vector<char*>& patterns, bool invert) {
    MonitorLock lock(agentMonitor);
    char** replaced = filterPatterns;
    int32_t replacedCount = filterCount;
    filterPatterns = new char*[patterns.size() + 1];
    std::copy(patterns.begin(), patterns.end(), filterPatterns);
    filterCount = static_cast<int32_t>(patterns.size());
    invertFilter = invert;
    filtersSet = true;
    for (int32_t i = 0; i < replacedCount; i++)
        std::free(replaced[i]);
    delete[] replaced;
    for (MethodDesc* method : methods)
        if (method != nullptr)
            computeFilterFlags(method);
}

void ClassProfilingSession::writeClassSection(DataWriter& writer) {
    MonitorLock lock(agentMonitor);
    for (const ClassData* classData : classes) {
        if (classData == nullptr)
            continue;
        writer.writeByte(1);
        writer.writeId(classData);
        writer.writeString(classData->name);
        writer.writeInt(classData->kind);
    }
    writer.writeByte(0);
    for (const MethodDesc* method : methods) {
        if (method == nullptr)
            continue;
        writer.writeByte(1);
        writer.writeId(method);
        writer.writeId(method->classData);
        writer.writeString(method->name);
        writer.writeString(method->signature);
        writer.writeInt(0);
    }
    writer.writeByte(0);
    writer.writeInt(filterCount);
    for (int32_t i = 0; i < filterCount; i++)
        writer.writeString(filterPatterns[i]);
    writer.writeByte(invertFilter ? 1 : 0);
}

char* classNameFromSignature(const char* signature) {
    char* name = copyString(signature[0] == 'L' ? signature + 1 : signature);
    if (name == nullptr)
        return nullptr;
    for (char* c = name; *c != '\0'; c++) {
        if (*c == ';') {
            *c = '\0';
            break;
        }
        if (*c == '/')
            *c = '.';
    }
    return name;
}

ClassData* createClassData(const char* signature) {
    char* name = classNameFromSignature(signature);
    if (name == nullptr)
        return nullptr;
    MonitorLock lock(agentMonitor);
    netioProbe.name = name;
    netioProbe.hash = javaStyleHash(name, static_cast<int32_t>(std::strlen(name)));
    NetioClass* netio = netioClassTable.get(&netioProbe);
    netioProbe.name = nullptr;
    auto* classData = new ClassData(name, 0, netio);
    std::free(name);
    currentClassProfilingSession->classes.push_back(classData);
    return classData;
}

bool isIgnored(const ClassData* classData) {
    if (classData->agentClass && !recordAgentClasses)
        return true;
    for (const char* pattern : ignoredClassPatterns)
        if (matchPattern(pattern, classData->name))
            return true;
    return false;
}

bool filterDecision(const char* className, char** patterns, int32_t count, bool invert) {
    AGENT_ASSERT(className, unit);
    if (std::strpbrk(className, "./") == nullptr || startsWith(className, "com/sun/proxy/$Proxy") ||
        startsWith(className, "com.sun.proxy.$Proxy") || patterns == nullptr)
        return false;
    bool result = false;
    for (int32_t i = 0; i < count; i++) {
        const char* pattern = patterns[i];
        if (pattern == nullptr)
            continue;
        bool exclusion = pattern[0] == '-';
        if (exclusion) {
            pattern++;
            if (i == 0)
                result = true;
        }
        if (pattern[0] != '\0' && matchPattern(pattern, className))
            result = !exclusion;
    }
    return invert ? !result : result;
}

bool matchPattern(const char* pattern, const char* text) {
    return matchFrom(pattern, text, false);
}

void registerNetioClass(const char* className, std::vector<NetioClass::MethodPair>* methods) {
    auto* netio = new NetioClass{copyString(className), methods,
                                 javaStyleHash(className, static_cast<int32_t>(std::strlen(className)))};
    // A sampler tick may be describing a class, and probing this table, right now.
    MonitorLock lock(agentMonitor);
    netioClassTable.put(netio, netio);
}

void setIgnoredClassPatterns(const std::vector<char*>& patterns) {
    MonitorLock lock(agentMonitor);
    for (char* pattern : ignoredClassPatterns)
        std::free(pattern);
    ignoredClassPatterns = patterns;
}

extern "C" JNIEXPORT void JNICALL Java_com_zentaro_agent_callee_JvmtiCallee_setFilters(
    JNIEnv* env, jclass, jobjectArray filterPatterns, jboolean invertFilter, jobjectArray ignoredPatterns,
    jboolean agentClasses) {
    if (!agentStarted())
        return;
    MonitorLock lock(agentMonitor);
    recordAgentClasses = agentClasses != JNI_FALSE;
    setIgnoredClassPatterns(withoutNulls(readStringArray(env, ignoredPatterns)));
    session.classProfilingSession->setFilters(withoutNulls(readStringArray(env, filterPatterns)),
                                              invertFilter != JNI_FALSE);
}

extern "C" JNIEXPORT void JNICALL Java_com_zentaro_agent_callee_JvmtiCallee_addNetioClass(
    JNIEnv* env, jclass, jstring className, jobjectArray methodNames, jobjectArray methodSignatures) {
    if (!agentStarted() || className == nullptr)
        return;
    const char* name = env->GetStringUTFChars(className, nullptr);
    if (name == nullptr)
        return;
    std::vector<NetioClass::MethodPair>* methods = nullptr;
    if (methodNames != nullptr && methodSignatures != nullptr) {
        std::vector<char*> names = readStringArray(env, methodNames);
        std::vector<char*> signatures = readStringArray(env, methodSignatures);
        // A shorter signature array leaves the remaining names with any signature.
        signatures.resize(std::max(signatures.size(), names.size()), nullptr);
        methods = new std::vector<NetioClass::MethodPair>();
        for (size_t i = 0; i < names.size(); i++)
            methods->emplace_back(names[i], signatures[i]);
        for (size_t i = names.size(); i < signatures.size(); i++)
            std::free(signatures[i]);
    }
    registerNetioClass(name, methods);
    env->ReleaseStringUTFChars(className, name);
}

extern "C" JNIEXPORT jlong JNICALL
Java_com_zentaro_agent_callee_JvmtiCallee_createInterceptionMethodId(JNIEnv* env, jclass, jstring name) {
    if (!agentStarted() || name == nullptr)
        return 0;
    const char* chars = env->GetStringUTFChars(name, nullptr);
    // Out of memory: the pending OutOfMemoryError reaches the caller; the JVM goes on.
    if (chars == nullptr)
        return 0;
    writeDebugOutput(8, 4, "CREATING METHOD %s\n", chars);
    MethodDesc* method = session.classProfilingSession->createInterceptionMethod(chars);
    writeDebugOutput(8, 4, "CREATING METHOD DONE %s %p\n", chars, static_cast<void*>(method));
    env->ReleaseStringUTFChars(name, chars);
    return static_cast<jlong>(reinterpret_cast<intptr_t>(method));
}
