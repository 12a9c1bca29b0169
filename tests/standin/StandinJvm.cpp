// Stand-in jvm.dll: the invocation interface and the JNI functions a launcher calls, with a
// transcript of everything it is asked (standin-transcript.txt beside the DLL). Every other JNI
// or invocation slot traps: it writes "TRAP: ..." to the transcript and ends the process with 97.
//
// It plays the Java side as system properties among the JVM options tell it:
//   -Dstandin.create=N               JNI_CreateJavaVM fails with N (a JNI error code)
//   -Dstandin.missingClasses=a/B;c/D FindClass finds none of these (NoClassDefFoundError pending)
//   -Dstandin.missingMethods=main;x  GetStaticMethodID finds none of these (NoSuchMethodError)
//   -Dstandin.main=return|throw|exit:N|stdin|sleep:MS
//                                    what main does; "stdin" reads standard input up to a line "0"
//   -Dstandin.firstRun=true|false|throw
//   -Dstandin.destroyWaitMs=MS       DestroyJavaVM waits that long for a non-daemon thread
// It keeps the habits of a real JVM that a launcher must cope with: a failed lookup returns null
// and leaves an exception pending until it is described or cleared; creation works once per
// process; the option strings must stay valid while the JVM lives (checked at main and at
// DestroyJavaVM); DestroyJavaVM must be called on the creating thread.
#include "StandinFiles.h"

// This library is the one that exports the invocation functions jni.h declares.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

#include <cstdarg>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

extern "C" __declspec(dllimport) int standinRuntimeVersion();

namespace {

struct Object {
    std::string className;              // class of the object, or the class a jclass names
    std::u16string text;                // strings
    std::string message;                // throwables
    std::vector<Object*> elements;      // arrays
};

struct Method {
    std::string className, name, signature;
};

std::map<std::string, std::string> properties;
std::vector<std::pair<const char*, std::string>> optionStrings;
Object* pendingException = nullptr;
bool created = false;
DWORD creatingThread = 0;
JavaVM theVm;
JNIEnv theEnv;

void record(const std::string& line) { standin::writeBeside("standin-transcript.txt", line + "\n", true); }

[[noreturn]] void trapped(const char* table, size_t slot) {
    record("TRAP: " + std::string(table) + " function " + std::to_string(slot) + " is not provided by the stand-in");
    ExitProcess(97);
}

template <size_t N> void JNICALL trapJni() { trapped("JNI", N); }
template <size_t N> void JNICALL trapInvoke() { trapped("invocation", N); }

template <size_t... N> void fillTraps(void** slots, bool invoke, std::index_sequence<N...>) {
    ((slots[N] = invoke ? reinterpret_cast<void*>(&trapInvoke<N>) : reinterpret_cast<void*>(&trapJni<N>)), ...);
}

std::string property(const std::string& name, const std::string& fallback = "") {
    auto found = properties.find(name);
    return found == properties.end() ? fallback : found->second;
}

bool listed(const std::string& list, const std::string& item) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        if (list.compare(start, end - start, item) == 0) return true;
        start = end + 1;
    }
    return false;
}

std::string utf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Modified UTF-8 as NewStringUTF takes it; the stand-in only needs the one-, two- and three-byte forms.
std::u16string fromUtf8(const char* text) {
    std::u16string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0;) {
        if (*p < 0x80) {
            out += char16_t(*p++);
        } else if ((*p & 0xE0) == 0xC0 && p[1] != 0) {
            out += char16_t(((p[0] & 0x1F) << 6) | (p[1] & 0x3F));
            p += 2;
        } else if ((*p & 0xF0) == 0xE0 && p[1] != 0 && p[2] != 0) {
            out += char16_t(((p[0] & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
            p += 3;
        } else {
            out += u'?';
            p++;
        }
    }
    return out;
}

void throwNew(const char* className, const std::string& message) {
    pendingException = new Object{className, u"", message, {}};
}

void checkOptionsStillValid(const char* when) {
    for (size_t i = 0; i < optionStrings.size(); i++)
        if (optionStrings[i].second != optionStrings[i].first)
            record("ERROR: option " + std::to_string(i) + " changed while the JVM lives (seen at " + when + ")");
}

std::string describe(Object* object) {
    if (object == nullptr) return "null";
    if (object->className == "java/lang/String") return "\"" + utf8(object->text) + "\"";
    return object->className;
}

// Calls a static method of the played Java side; `next` yields the arguments by signature letter.
template <typename Next> jboolean play(Method* method, Next next) {
    std::string arguments;
    Object* firstObject = nullptr;
    const std::string& signature = method->signature;
    for (size_t i = 1; i < signature.size() && signature[i] != ')'; i++) {
        if (!arguments.empty()) arguments += ", ";
        char kind = signature[i];
        if (kind == '[') {
            while (signature[i] == '[') i++;
            if (signature[i] == 'L') i = signature.find(';', i);
            Object* array = reinterpret_cast<Object*>(next('L').l);
            if (firstObject == nullptr) firstObject = array;
            arguments += describe(array);
            continue;
        }
        if (kind == 'L') i = signature.find(';', i);
        jvalue value = next(kind);
        switch (kind) {
        case 'Z': arguments += value.z ? "true" : "false"; break;
        case 'J': arguments += std::to_string(value.j); break;
        case 'F': case 'D': arguments += std::to_string(value.d); break;
        case 'L': arguments += describe(reinterpret_cast<Object*>(value.l)); break;
        default: arguments += std::to_string(value.i); break;
        }
    }
    record("call " + method->className + "." + method->name + "(" + arguments + ")");

    if (method->name == "main") {
        if (firstObject != nullptr)
            for (size_t i = 0; i < firstObject->elements.size(); i++)
                record("main argument " + std::to_string(i) + ": " +
                       (firstObject->elements[i] ? utf8(firstObject->elements[i]->text) : "(null)"));
        checkOptionsStillValid("main");
        std::string behaviour = property("standin.main", "return");
        if (behaviour == "throw") {
            throwNew("java/lang/IllegalStateException", "the stand-in main was asked to throw");
        } else if (behaviour.rfind("exit:", 0) == 0) {
            record("main calls System.exit(" + behaviour.substr(5) + ")");
            ExitProcess(static_cast<UINT>(atoi(behaviour.c_str() + 5)));
        } else if (behaviour == "stdin") {
            char line[256];
            while (fgets(line, sizeof line, stdin) != nullptr) {
                std::string text(line);
                while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
                record("main read line \"" + text + "\"");
                if (text == "0") break;
            }
            record("main saw the end of its input or the stop line");
        } else if (behaviour.rfind("sleep:", 0) == 0) {
            Sleep(static_cast<DWORD>(atoi(behaviour.c_str() + 6)));
        }
        record(pendingException != nullptr ? "main threw " + pendingException->className : "main returned");
        return JNI_FALSE;
    }
    if (method->name == "firstRun") {
        std::string answer = property("standin.firstRun", "true");
        if (answer == "throw") throwNew("java/lang/RuntimeException", "the stand-in firstRun was asked to throw");
        record("firstRun answers " + answer);
        return answer == "true" ? JNI_TRUE : JNI_FALSE;
    }
    return JNI_FALSE;
}

struct VaArguments {
    va_list* list;
    jvalue operator()(char kind) {
        jvalue value{};
        switch (kind) {
        case 'J': value.j = va_arg(*list, jlong); break;
        case 'F': case 'D': value.d = va_arg(*list, double); break;
        case 'L': value.l = va_arg(*list, jobject); break;
        default: value.i = va_arg(*list, int); break;
        }
        return value;
    }
};

struct ArrayArguments {
    const jvalue* values;
    jvalue operator()(char) { return *values++; }
};

jint JNICALL getVersion(JNIEnv*) { return JNI_VERSION_1_8; }

jclass JNICALL findClass(JNIEnv*, const char* name) {
    if (pendingException != nullptr) record("ERROR: FindClass " + std::string(name) + " with an exception pending");
    bool missing = listed(property("standin.missingClasses"), name);
    record("FindClass " + std::string(name) + (missing ? " -> missing" : " -> found"));
    if (missing) {
        throwNew("java/lang/NoClassDefFoundError", name);
        return nullptr;
    }
    return reinterpret_cast<jclass>(new Object{name, u"", "", {}});
}

jmethodID JNICALL getStaticMethodId(JNIEnv*, jclass type, const char* name, const char* signature) {
    Object* owner = reinterpret_cast<Object*>(type);
    std::string className = owner != nullptr ? owner->className : "(null class)";
    if (pendingException != nullptr) record("ERROR: GetStaticMethodID " + std::string(name) + " with an exception pending");
    bool missing = owner == nullptr || listed(property("standin.missingMethods"), name);
    record("GetStaticMethodID " + className + " " + name + " " + signature + (missing ? " -> missing" : " -> found"));
    if (missing) {
        throwNew("java/lang/NoSuchMethodError", name);
        return nullptr;
    }
    return reinterpret_cast<jmethodID>(new Method{className, name, signature});
}

void JNICALL callStaticVoidMethodV(JNIEnv*, jclass, jmethodID method, va_list arguments) {
    va_list copy;
    va_copy(copy, arguments);
    play(reinterpret_cast<Method*>(method), VaArguments{&copy});
    va_end(copy);
}
void JNICALL callStaticVoidMethod(JNIEnv* env, jclass type, jmethodID method, ...) {
    va_list arguments;
    va_start(arguments, method);
    callStaticVoidMethodV(env, type, method, arguments);
    va_end(arguments);
}
void JNICALL callStaticVoidMethodA(JNIEnv*, jclass, jmethodID method, const jvalue* arguments) {
    play(reinterpret_cast<Method*>(method), ArrayArguments{arguments});
}
jboolean JNICALL callStaticBooleanMethodV(JNIEnv*, jclass, jmethodID method, va_list arguments) {
    va_list copy;
    va_copy(copy, arguments);
    jboolean result = play(reinterpret_cast<Method*>(method), VaArguments{&copy});
    va_end(copy);
    return result;
}
jboolean JNICALL callStaticBooleanMethod(JNIEnv* env, jclass type, jmethodID method, ...) {
    va_list arguments;
    va_start(arguments, method);
    jboolean result = callStaticBooleanMethodV(env, type, method, arguments);
    va_end(arguments);
    return result;
}
jboolean JNICALL callStaticBooleanMethodA(JNIEnv*, jclass, jmethodID method, const jvalue* arguments) {
    return play(reinterpret_cast<Method*>(method), ArrayArguments{arguments});
}

jstring JNICALL newString(JNIEnv*, const jchar* characters, jsize length) {
    return reinterpret_cast<jstring>(
        new Object{"java/lang/String", std::u16string(reinterpret_cast<const char16_t*>(characters), length), "", {}});
}
jstring JNICALL newStringUtf(JNIEnv*, const char* text) {
    return reinterpret_cast<jstring>(new Object{"java/lang/String", fromUtf8(text), "", {}});
}

jobjectArray JNICALL newObjectArray(JNIEnv*, jsize length, jclass type, jobject initial) {
    Object* elementClass = reinterpret_cast<Object*>(type);
    record("NewObjectArray " + std::to_string(length) + " of " + (elementClass ? elementClass->className : "null"));
    Object* array = new Object{"[Ljava/lang/Object;", u"", "", {}};
    array->elements.assign(static_cast<size_t>(length), reinterpret_cast<Object*>(initial));
    return reinterpret_cast<jobjectArray>(array);
}

void JNICALL setObjectArrayElement(JNIEnv*, jobjectArray array, jsize index, jobject value) {
    Object* target = reinterpret_cast<Object*>(array);
    if (index < 0 || static_cast<size_t>(index) >= target->elements.size()) {
        record("SetObjectArrayElement index " + std::to_string(index) + " out of bounds");
        throwNew("java/lang/ArrayIndexOutOfBoundsException", std::to_string(index));
        return;
    }
    target->elements[static_cast<size_t>(index)] = reinterpret_cast<Object*>(value);
}

jsize JNICALL getArrayLength(JNIEnv*, jarray array) {
    return static_cast<jsize>(reinterpret_cast<Object*>(array)->elements.size());
}

jthrowable JNICALL exceptionOccurred(JNIEnv*) { return reinterpret_cast<jthrowable>(pendingException); }
jboolean JNICALL exceptionCheck(JNIEnv*) { return pendingException != nullptr ? JNI_TRUE : JNI_FALSE; }
void JNICALL exceptionClear(JNIEnv*) {
    if (pendingException != nullptr) record("ExceptionClear " + pendingException->className);
    pendingException = nullptr;
}
void JNICALL exceptionDescribe(JNIEnv*) {
    if (pendingException == nullptr) return;
    std::string name = pendingException->className;
    for (char& c : name)
        if (c == '/') c = '.';
    record("ExceptionDescribe " + pendingException->className);
    fprintf(stderr, "Exception in thread \"main\" %s: %s\n\tat standin.Java.side(Standin.java)\n", name.c_str(),
            pendingException->message.c_str());
    fflush(stderr);
    pendingException = nullptr;
}
void JNICALL deleteLocalRef(JNIEnv*, jobject) {}

jint JNICALL destroyJavaVm(JavaVM*) {
    if (GetCurrentThreadId() != creatingThread) {
        record("ERROR: DestroyJavaVM called on another thread than the creating one");
        return JNI_ERR;
    }
    checkOptionsStillValid("DestroyJavaVM");
    int wait = atoi(property("standin.destroyWaitMs", "0").c_str());
    if (wait > 0) {
        record("DestroyJavaVM waits for a non-daemon thread");
        Sleep(static_cast<DWORD>(wait));
    }
    record("DestroyJavaVM");
    return JNI_OK;
}

jint JNICALL getEnv(JavaVM*, void** env, jint) {
    *env = &theEnv;
    return JNI_OK;
}

void setUpTables() {
    static JNINativeInterface_ functions;
    static JNIInvokeInterface_ invoke;
    fillTraps(reinterpret_cast<void**>(&functions), false,
              std::make_index_sequence<sizeof(JNINativeInterface_) / sizeof(void*)>());
    fillTraps(reinterpret_cast<void**>(&invoke), true,
              std::make_index_sequence<sizeof(JNIInvokeInterface_) / sizeof(void*)>());
    functions.GetVersion = getVersion;
    functions.FindClass = findClass;
    functions.GetStaticMethodID = getStaticMethodId;
    functions.CallStaticVoidMethod = callStaticVoidMethod;
    functions.CallStaticVoidMethodV = callStaticVoidMethodV;
    functions.CallStaticVoidMethodA = callStaticVoidMethodA;
    functions.CallStaticBooleanMethod = callStaticBooleanMethod;
    functions.CallStaticBooleanMethodV = callStaticBooleanMethodV;
    functions.CallStaticBooleanMethodA = callStaticBooleanMethodA;
    functions.NewString = newString;
    functions.NewStringUTF = newStringUtf;
    functions.NewObjectArray = newObjectArray;
    functions.SetObjectArrayElement = setObjectArrayElement;
    functions.GetArrayLength = getArrayLength;
    functions.ExceptionOccurred = exceptionOccurred;
    functions.ExceptionCheck = exceptionCheck;
    functions.ExceptionClear = exceptionClear;
    functions.ExceptionDescribe = exceptionDescribe;
    functions.DeleteLocalRef = deleteLocalRef;
    invoke.DestroyJavaVM = destroyJavaVm;
    invoke.GetEnv = getEnv;
    theEnv.functions = &functions;
    theVm.functions = &invoke;
}

} // namespace

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* arguments) {
    standinRuntimeVersion();
    if (created) {
        record("JNI_CreateJavaVM called again");
        return JNI_EEXIST;
    }
    // A failed creation leaves nothing behind: the next attempt is judged by its own options.
    properties.clear();
    optionStrings.clear();
    JavaVMInitArgs* init = static_cast<JavaVMInitArgs*>(arguments);
    char header[128];
    snprintf(header, sizeof header, "JNI_CreateJavaVM version 0x%08x, %d options, ignoreUnrecognized %d",
             static_cast<unsigned>(init->version), static_cast<int>(init->nOptions), init->ignoreUnrecognized);
    record(header);
    for (int i = 0; i < init->nOptions; i++) {
        const char* option = init->options[i].optionString;
        record("option: " + std::string(option));
        optionStrings.emplace_back(option, option);
        std::string text(option);
        if (text.rfind("-D", 0) == 0) {
            size_t equals = text.find('=');
            properties[text.substr(2, equals == std::string::npos ? std::string::npos : equals - 2)] =
                equals == std::string::npos ? "" : text.substr(equals + 1);
        }
    }
    int failure = atoi(property("standin.create", "0").c_str());
    if (failure != 0) {
        record("JNI_CreateJavaVM fails with " + std::to_string(failure));
        return failure;
    }
    setUpTables();
    created = true;
    creatingThread = GetCurrentThreadId();
    *vm = &theVm;
    *env = &theEnv;
    return JNI_OK;
}

extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void*) { return JNI_OK; }

extern "C" JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize size, jsize* count) {
    *count = created ? 1 : 0;
    if (created && size > 0) vms[0] = &theVm;
    return JNI_OK;
}
