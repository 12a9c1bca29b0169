// Descriptions of the classes and methods the agent reports, and the tables that find them.
#pragma once

#include "Hashtable.h"

#include <cstdint>
#include <jni.h>
#include <utility>
#include <vector>

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

    char** filterPatterns = nullptr;
    int32_t filterCount = 0;
    bool invertFilter = false;
    bool filtersSet = false;
    std::vector<MethodDesc*> methods;
    std::vector<ClassData*> classes;
    MethodDesc* objectConstructor = nullptr;
    MethodDesc* unknownMethod = nullptr;
};

constexpr int32_t annotationClassKind = 50;

extern Hashtable<PointerKeys, MethodDesc> methodTable;
extern Hashtable<StringKeys, ClassData> classSignatureTable;
extern std::vector<char*> ignoredClassPatterns;
extern Hashtable<NetioKeys, NetioClass> netioClassTable;
extern NetioClass netioProbe;
extern ClassData annotationMarkerClass;
extern ClassData unknownClass;
