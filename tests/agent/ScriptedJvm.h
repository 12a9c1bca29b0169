// A scripted stand-in for the JVM's invocation, JVMTI and JNI function tables. The test says what
// the JVM answers (versions, properties, threads and their stacks, methods, classes, line tables,
// Java strings and arrays, the Java methods the agent calls back); the double keeps a transcript
// of the calls the agent made. A function nobody scripted, and a misuse a real JVM would punish
// (a deleted reference, a string released twice, a monitor left that was never entered), ends the
// process with a line that names it, so nothing passes silently.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
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

    JavaVM* vm() { return &vmSlot.vm; }
    JNIEnv* jni() { return &jniSlot.env; }
    jvmtiEnv* jvmti() { return &jvmtiSlot.env; }

    // --- Java objects, handed over as references the caller owns ---
    // A plain object; text names it in the transcript.
    jobject object(const std::string& text);
    // A Java string; null for a null text.
    jstring newString(const char* text);
    // A String[]; null texts become null elements.
    jobjectArray stringArray(const std::vector<const char*>& texts);
    jlongArray longArray(const std::vector<jlong>& values);
    jbyteArray byteArray(const std::vector<jbyte>& values);
    // A class by its internal name ("java/lang/String").
    jclass javaClass(const std::string& internalName);
    // GetStringUTFChars of this string answers null, as a JVM out of memory does.
    void refuseUtfChars(jstring text);
    // The object is garbage collected: weak references to it read as null from now on.
    void collect(jobject object);
    // The text of a string or object, the values of an array, as the JVM holds them now.
    std::string textOf(jobject object);
    std::vector<jlong> longsOf(jobject array);

    // --- classes and methods (JVMTI) ---
    struct Method {
        std::string classSignature; // "Ljava/lang/String;"
        std::string name;
        std::string signature;
        std::vector<jvmtiLineNumberEntry> lines;
        jvmtiError declaringClassError = JVMTI_ERROR_NONE;
        jvmtiError nameError = JVMTI_ERROR_NONE;
        jvmtiError lineTableError = JVMTI_ERROR_NONE;
    };
    jmethodID method(const std::string& classSignature, const std::string& name, const std::string& signature,
                     const std::vector<jvmtiLineNumberEntry>& lines = {});
    Method& methodOf(jmethodID id);
    // GetClassSignature answers these errors for these class signatures.
    std::map<std::string, jvmtiError> classSignatureErrors;

    // --- threads (JVMTI) ---
    struct Sample {
        jint state;                         // JVMTI_THREAD_STATE_* bits
        std::vector<jvmtiFrameInfo> frames; // innermost first
    };
    struct Thread {
        std::string name;
        std::string group;
        bool alive = true; // listed by GetAllThreads
        jvmtiError infoError = JVMTI_ERROR_NONE;
        jvmtiError setLocalStorageError = JVMTI_ERROR_NONE;
        const void* localStorage = nullptr;
        // Each stack request answers the front sample and drops it while another one follows.
        std::deque<Sample> samples = {Sample{JVMTI_THREAD_STATE_ALIVE | JVMTI_THREAD_STATE_RUNNABLE, {}}};
    };
    jthread thread(const std::string& name, const std::string& group = "main");
    Thread& threadOf(jobject thread);
    // The thread the agent's code runs on: the answer for a null thread argument.
    jthread currentThread = nullptr;
    // GetThreadGroupInfo answers these errors for these group names. Every group but "system"
    // has the parent "system".
    std::map<std::string, jvmtiError> groupInfoErrors;
    jvmtiError allThreadsError = JVMTI_ERROR_NONE;
    jvmtiError stackTracesError = JVMTI_ERROR_NONE;
    // Runs at every stack request before it is answered: a test can change the script mid-run.
    std::function<void()> onStackTraces;

    // --- Java methods the agent calls through JNI ---
    // Keyed by "internal/ClassName.name(descriptor)"; self is the receiver or the class.
    using JavaMethod = std::function<jobject(jobject self, const std::vector<jvalue>& args)>;
    std::map<std::string, JavaMethod> javaMethods;
    // FindClass fails (NoClassDefFoundError) for these internal names, GetMethodID and
    // GetStaticMethodID (NoSuchMethodError) for these keys.
    std::set<std::string> missingClasses;
    std::set<std::string> missingMethods;
    // A JvmtiCallee$JvmtiThreadManager whose getSamplingTransactionIds answers these ids.
    jobject threadManager(const std::vector<jlong>& transactionIds);
    std::vector<jlong>& transactionsOf(jobject manager);
    // Raises a Java exception on the current thread, as a Java method that throws.
    void throwJava(const std::string& className);

    // --- start-up script ---
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
    std::string pendingException;
    int outstandingAllocations = 0;   // JVMTI memory not deallocated
    int outstandingUtfChars = 0;      // GetStringUTFChars not released
    int outstandingArrayElements = 0; // Get<Type>ArrayElements not released
    int liveLocalReferences() const;  // handed out by the double, neither deleted nor popped
    int liveGlobalReferences() const;
    int liveWeakReferences() const;
    int monitorDepth(const std::string& name) const;

    // Reports a misuse or an unscripted call and ends the process.
    [[noreturn]] static void fail(const std::string& what);

    // --- the double's insides, shared with its function tables ---
    enum class Kind { Plain, String, Class, Thread, Group, ObjectArray, LongArray, ByteArray, Manager };
    struct Object {
        Kind kind;
        std::string text;              // string value, class signature, names
        std::vector<Object*> elements; // object arrays
        std::vector<jlong> longs;      // long arrays; a manager's transaction ids
        std::vector<jbyte> bytes;
        Thread* thread = nullptr;
        bool collected = false;
        bool refusesUtfChars = false;
    };
    enum class RefKind { Caller, Local, Global, Weak };
    struct Ref {
        Object* object;
        RefKind kind;
        bool live = true;
    };
    struct MethodId {
        Method method;
        bool isStatic = false;
        std::string javaKey; // for methods looked up through JNI
    };

    Object* newObject(Kind kind, const std::string& text);
    jobject callerRef(Object* object);
    jobject localRef(Object* object);
    jobject newRef(Object* object, RefKind kind);
    Object* resolve(jobject ref, const char* function);
    Object* resolve(jobject ref, Kind kind, const char* function);
    Object* classObject(const std::string& signature);
    void deleteRef(jobject ref, RefKind kind, const char* function);
    void* allocate(size_t bytes);
    void deallocate(void* memory);

    std::deque<Object> objects;
    std::deque<Ref> refs;
    std::vector<std::vector<Ref*>> localFrames{1};
    std::deque<MethodId> methods;
    std::deque<Thread> threads;
    std::vector<Object*> threadOrder;
    std::map<std::string, Object*> classes;
    std::map<std::string, Object*> groups;
    std::set<void*> allocations;
    std::map<const void*, Object*> utfChars;
    std::map<const void*, Object*> arrayElements;
    std::deque<int> monitors; // entry depth of each raw monitor
    std::map<jrawMonitorID, std::string> monitorNames;

  private:
    void fillJvmti();
    void fillJni();
    void addDefaultJavaMethods();

    struct VmSlot {
        JavaVM vm;
        ScriptedJvm* owner;
    };
    struct JvmtiSlot {
        jvmtiEnv env;
        ScriptedJvm* owner;
    };
    struct JniSlot {
        JNIEnv env;
        ScriptedJvm* owner;
    };
    JNIInvokeInterface_ invokeTable{};
    jvmtiInterface_1_ jvmtiTable{};
    JNINativeInterface_ jniTable{};
    VmSlot vmSlot{};
    JvmtiSlot jvmtiSlot{};
    JniSlot jniSlot{};

  public:
    // The double behind an environment pointer it handed out.
    static ScriptedJvm& of(JavaVM* vm) { return *reinterpret_cast<VmSlot*>(vm)->owner; }
    static ScriptedJvm& of(jvmtiEnv* env) { return *reinterpret_cast<JvmtiSlot*>(env)->owner; }
    static ScriptedJvm& of(JNIEnv* env) { return *reinterpret_cast<JniSlot*>(env)->owner; }
};
