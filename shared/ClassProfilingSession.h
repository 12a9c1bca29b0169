// Descriptions of the classes and methods the agent reports, and the tables that find them.
#pragma once

#include "Hashtable.h"

#include <cstdint>
#include <jni.h>
#include <jvmti.h>
#include <utility>
#include <vector>

class DataWriter;

// A class registered by the Java side as doing network I/O, optionally limited to some methods.
struct NetioClass {
    using MethodPair = std::pair<char*, char*>; // name, signature (null: any signature)

    char* name = nullptr;
    std::vector<MethodPair>* methods = nullptr; // null: every method of the class counts
    int32_t hash = 0;
};

// NetioClass registrations: the cached name hash, equal when the same object or the same name.
struct NetioKeys {
    using Key = NetioClass*;
    static uint32_t hash(Key key) { return static_cast<uint32_t>(key->hash); }
    static bool equal(Key a, Key b);
};

struct ClassData {
    ClassData(const char* name, int32_t kind, NetioClass* netio);

    char* name;
    bool agentClass;
    int32_t kind;
    NetioClass* netio;
};

struct MethodDesc {
    ClassData* classData;
    char* name;
    char* signature;
    bool filtered = false;
    bool ignored = false;
    bool marker = false;
    bool netio = false;
};

class ClassProfilingSession {
  public:
    ClassProfilingSession();

    // Appends a description to the method list; null is ignored.
    void registerMethod(MethodDesc* method);
    // The description of a JVMTI method ID, made and registered on first sight. With a null env
    // it only looks up, and an unknown ID gives null.
    MethodDesc* lookupMethod(jmethodID method, JNIEnv* env);
    // The description of a method's declaring class, made on first sight; null when JVMTI cannot
    // tell the class or its signature.
    ClassData* lookupClass(jmethodID method, JNIEnv* env);
    // A new registered description of an interception method; it is in no method table.
    MethodDesc* createInterceptionMethod(const char* name);
    // Takes over the patterns and recomputes the filtered and ignored flags of every method.
    void setFilters(const std::vector<char*>& patterns, bool invert);
    // The class section of a snapshot: classes, methods, filters.
    void writeClassSection(DataWriter& writer);

    char** filterPatterns = nullptr;
    int32_t filterCount = 0;
    bool invertFilter = false;
    bool filtersSet = false;
    std::vector<MethodDesc*> methods;
    std::vector<ClassData*> classes;
    MethodDesc* objectConstructor = nullptr;
    MethodDesc* unknownMethod = nullptr;

  private:
    MethodDesc* describeMethod(ClassData* classData, const char* name, const char* signature);
    void computeFilterFlags(MethodDesc* method) const;
};

// The dotted class name of a JVM class signature: Ljava/lang/String; gives java.lang.String, array
// signatures keep their "[". The caller releases it with free.
char* classNameFromSignature(const char* signature);
// A class described by its signature, with its network-I/O registration, appended to the class list.
ClassData* createClassData(const char* signature);
bool isIgnored(const ClassData* classData);
// Whether a class is filtered: the last matching pattern decides ("-" marks an exclusion).
bool filterDecision(const char* className, char** patterns, int32_t count, bool invert);
// Wildcards "*" and "?"; "." and "/" match each other; a pattern without wildcards matches every
// text it begins.
bool matchPattern(const char* pattern, const char* text);
// Registers a class as doing network I/O; methods null means every method of the class. Replaces an
// earlier registration of the same name for classes described from now on.
void registerNetioClass(const char* className, std::vector<NetioClass::MethodPair>* methods);
// Replaces the ignored-class patterns, taking over the strings.
void setIgnoredClassPatterns(const std::vector<char*>& patterns);

constexpr int32_t annotationClassKind = 50;

extern Hashtable<PointerKeys, MethodDesc> methodTable;
extern Hashtable<StringKeys, ClassData> classSignatureTable;
extern std::vector<char*> ignoredClassPatterns;
extern Hashtable<NetioKeys, NetioClass> netioClassTable;
extern NetioClass netioProbe;
extern ClassData annotationMarkerClass;
extern ClassData unknownClass;
