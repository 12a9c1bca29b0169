// The scripted double is what every deterministic agent test stands on: it must answer as scripted
// and must never let an unscripted call or a misuse pass.
#include "ScriptedJvm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ScriptedJvm, UnscriptedCallsAndMisusesEndTheProcessNamingThem) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        const char* what;
        void (*misuse)(ScriptedJvm&);
        const char* message;
    } cases[] = {
        {"JNI function", [](ScriptedJvm& j) { j.jni()->GetFieldID(nullptr, "x", "I"); },
         "unscripted JNI function GetFieldID called"},
        {"JVMTI function", [](ScriptedJvm& j) { j.jvmti()->GetFrameCount(nullptr, nullptr); },
         "unscripted JVMTI function GetFrameCount called"},
        {"invocation function", [](ScriptedJvm& j) { j.vm()->DetachCurrentThread(); },
         "unscripted invocation function DetachCurrentThread called"},
        {"Java method",
         [](ScriptedJvm& j) {
             JNIEnv* env = j.jni();
             jclass owner = env->FindClass("java/lang/Thread");
             env->CallStaticVoidMethod(owner, env->GetStaticMethodID(owner, "yield", "()V"));
         },
         "unscripted Java method java/lang/Thread.yield"},
        {"deleted reference",
         [](ScriptedJvm& j) {
             jstring text = j.jni()->NewStringUTF("gone");
             j.jni()->DeleteLocalRef(text);
             j.jni()->GetStringUTFChars(text, nullptr);
         },
         "GetStringUTFChars with a deleted reference to gone"},
        {"popped reference",
         [](ScriptedJvm& j) {
             j.jni()->PushLocalFrame(4);
             jobject global = j.jni()->NewGlobalRef(j.jni()->NewStringUTF("kept"));
             jstring local = j.jni()->NewStringUTF("popped");
             j.jni()->PopLocalFrame(nullptr);
             j.jni()->GetStringUTFLength(static_cast<jstring>(global));
             j.jni()->GetStringUTFLength(local);
         },
         "GetStringUTFLength with a deleted reference to popped"},
        {"characters released twice",
         [](ScriptedJvm& j) {
             jstring text = j.newString("twice");
             const char* chars = j.jni()->GetStringUTFChars(text, nullptr);
             j.jni()->ReleaseStringUTFChars(text, chars);
             j.jni()->ReleaseStringUTFChars(text, chars);
         },
         "ReleaseStringUTFChars of characters this string did not hand out"},
        {"memory deallocated twice",
         [](ScriptedJvm& j) {
             char* value = nullptr;
             j.jvmti()->GetSystemProperty("java.vm.name", &value);
             j.jvmti()->Deallocate(reinterpret_cast<unsigned char*>(value));
             j.jvmti()->Deallocate(reinterpret_cast<unsigned char*>(value));
         },
         "Deallocate of memory this JVMTI did not allocate"},
        {"monitor left unentered",
         [](ScriptedJvm& j) {
             jrawMonitorID monitor = nullptr;
             j.jvmti()->CreateRawMonitor("lock", &monitor);
             j.jvmti()->RawMonitorExit(monitor);
         },
         "RawMonitorExit of lock, which is not entered"},
        {"string taken as array",
         [](ScriptedJvm& j) {
             j.jni()->GetObjectArrayElement(static_cast<jobjectArray>(static_cast<jobject>(j.newString("s"))),
                                            0);
         },
         "GetObjectArrayElement with an object of the wrong type: s"},
    };
    for (const Case& c : cases) {
        ScriptedJvm jvm;
        EXPECT_DEATH(c.misuse(jvm), std::string("ScriptedJvm: ") + c.message) << c.what;
    }
}

jvmtiFrameInfo frame(jmethodID method, jlocation location) {
    return jvmtiFrameInfo{method, location};
}

TEST(ScriptedJvm, StackRequestsFollowTheScriptSampleBySample) {
    ScriptedJvm jvm;
    jmethodID run = jvm.method("Lapp/Worker;", "run", "()V");
    jmethodID work = jvm.method("Lapp/Worker;", "work", "(I)V");
    jthread worker = jvm.thread("worker");
    jthread idle = jvm.thread("idle");
    jvm.threadOf(worker).samples = {
        {JVMTI_THREAD_STATE_ALIVE | JVMTI_THREAD_STATE_RUNNABLE, {frame(work, 7), frame(run, 3)}},
        {JVMTI_THREAD_STATE_ALIVE | JVMTI_THREAD_STATE_BLOCKED_ON_MONITOR_ENTER, {frame(run, 9)}},
    };
    jvm.threadOf(idle).samples = {{JVMTI_THREAD_STATE_TERMINATED, {}}};
    int requests = 0;
    jvm.onStackTraces = [&requests] { requests++; };

    jthread both[] = {worker, idle};
    std::vector<std::vector<jint>> seen;
    for (int tick = 0; tick < 3; tick++) {
        jvmtiStackInfo* info = nullptr;
        ASSERT_EQ(jvm.jvmti()->GetThreadListStackTraces(2, both, tick == 0 ? 1 : 1000, &info),
                  JVMTI_ERROR_NONE);
        EXPECT_EQ(info[0].thread, worker);
        EXPECT_EQ(info[1].frame_count, 0);
        EXPECT_EQ(info[1].state, JVMTI_THREAD_STATE_TERMINATED);
        std::vector<jint> row = {info[0].state, info[0].frame_count};
        for (jint i = 0; i < info[0].frame_count; i++)
            row.push_back(static_cast<jint>(info[0].frame_buffer[i].location));
        seen.push_back(row);
        jvm.jvmti()->Deallocate(reinterpret_cast<unsigned char*>(info));
    }
    const jint runnable = JVMTI_THREAD_STATE_ALIVE | JVMTI_THREAD_STATE_RUNNABLE;
    const jint blocked = JVMTI_THREAD_STATE_ALIVE | JVMTI_THREAD_STATE_BLOCKED_ON_MONITOR_ENTER;
    EXPECT_EQ(seen, (std::vector<std::vector<jint>>{{runnable, 1, 7}, {blocked, 1, 9}, {blocked, 1, 9}}))
        << "the depth limit cuts the outer frames; the last sample stays";
    EXPECT_EQ(requests, 3);
    EXPECT_EQ(jvm.outstandingAllocations, 0) << "one block per request";
    EXPECT_EQ(jvm.calls.back(), "GetThreadListStackTraces worker,idle max 1000");

    jvm.stackTracesError = JVMTI_ERROR_OUT_OF_MEMORY;
    jvmtiStackInfo* info = nullptr;
    EXPECT_EQ(jvm.jvmti()->GetThreadListStackTraces(1, both, 10, &info), JVMTI_ERROR_OUT_OF_MEMORY);
}

TEST(ScriptedJvm, ThreadsGroupsAndLocalStorage) {
    ScriptedJvm jvm;
    jthread main = jvm.thread("main");
    jthread reference = jvm.thread("Reference Handler", "system");
    jvm.threadOf(jvm.thread("ended")).alive = false;
    jvm.currentThread = main;
    jvmtiEnv* jvmti = jvm.jvmti();

    jint count = 0;
    jthread* all = nullptr;
    ASSERT_EQ(jvmti->GetAllThreads(&count, &all), JVMTI_ERROR_NONE);
    ASSERT_EQ(count, 2);
    EXPECT_TRUE(jvm.jni()->IsSameObject(all[1], reference));
    jvmtiThreadInfo info;
    ASSERT_EQ(jvmti->GetThreadInfo(all[0], &info), JVMTI_ERROR_NONE);
    EXPECT_STREQ(info.name, "main");
    jvmtiThreadGroupInfo group;
    ASSERT_EQ(jvmti->GetThreadGroupInfo(info.thread_group, &group), JVMTI_ERROR_NONE);
    EXPECT_STREQ(group.name, "main");
    jvmtiThreadGroupInfo parent;
    ASSERT_EQ(jvmti->GetThreadGroupInfo(group.parent, &parent), JVMTI_ERROR_NONE);
    EXPECT_STREQ(parent.name, "system");
    EXPECT_EQ(parent.parent, nullptr);
    for (void* memory : {static_cast<void*>(all), static_cast<void*>(info.name),
                         static_cast<void*>(group.name), static_cast<void*>(parent.name)})
        jvmti->Deallocate(static_cast<unsigned char*>(memory));
    EXPECT_EQ(jvm.outstandingAllocations, 0);
    EXPECT_EQ(jvm.liveLocalReferences(), 4) << "two threads, a group and its parent";

    int record = 0;
    EXPECT_EQ(jvmti->SetThreadLocalStorage(nullptr, &record), JVMTI_ERROR_NONE);
    void* stored = nullptr;
    EXPECT_EQ(jvmti->GetThreadLocalStorage(main, &stored), JVMTI_ERROR_NONE);
    EXPECT_EQ(stored, &record) << "a null thread is the current thread";
    jvm.threadOf(reference).setLocalStorageError = JVMTI_ERROR_THREAD_NOT_ALIVE;
    EXPECT_EQ(jvmti->SetThreadLocalStorage(reference, &record), JVMTI_ERROR_THREAD_NOT_ALIVE);
    jvm.threadOf(main).infoError = JVMTI_ERROR_WRONG_PHASE;
    EXPECT_EQ(jvmti->GetThreadInfo(main, &info), JVMTI_ERROR_WRONG_PHASE);

    jweak weak = jvm.jni()->NewWeakGlobalRef(main);
    jvm.collect(main);
    EXPECT_EQ(jvm.jni()->NewLocalRef(weak), nullptr) << "a collected thread reads as null";
    EXPECT_EQ(jvm.liveWeakReferences(), 1);
}

TEST(ScriptedJvm, MethodsClassesAndLineTables) {
    ScriptedJvm jvm;
    jvmtiEnv* jvmti = jvm.jvmti();
    jmethodID length = jvm.method("Ljava/lang/String;", "length", "()I", {{0, 10}, {5, 11}});
    jclass owner = nullptr;
    ASSERT_EQ(jvmti->GetMethodDeclaringClass(length, &owner), JVMTI_ERROR_NONE);
    char* signature = nullptr;
    ASSERT_EQ(jvmti->GetClassSignature(owner, &signature, nullptr), JVMTI_ERROR_NONE);
    EXPECT_STREQ(signature, "Ljava/lang/String;");
    char* name = nullptr;
    char* descriptor = nullptr;
    ASSERT_EQ(jvmti->GetMethodName(length, &name, &descriptor, nullptr), JVMTI_ERROR_NONE);
    EXPECT_STREQ(name, "length");
    EXPECT_STREQ(descriptor, "()I");
    jint count = 0;
    jvmtiLineNumberEntry* lines = nullptr;
    ASSERT_EQ(jvmti->GetLineNumberTable(length, &count, &lines), JVMTI_ERROR_NONE);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(lines[1].start_location, 5);
    EXPECT_EQ(lines[1].line_number, 11);
    for (void* memory : {static_cast<void*>(signature), static_cast<void*>(name),
                         static_cast<void*>(descriptor), static_cast<void*>(lines)})
        jvmti->Deallocate(static_cast<unsigned char*>(memory));
    EXPECT_EQ(jvm.outstandingAllocations, 0);

    jvm.methodOf(length).nameError = JVMTI_ERROR_INVALID_METHODID;
    jvm.methodOf(length).lineTableError = JVMTI_ERROR_ABSENT_INFORMATION;
    jvm.classSignatureErrors["Ljava/lang/String;"] = JVMTI_ERROR_INVALID_CLASS;
    EXPECT_EQ(jvmti->GetMethodName(length, &name, &descriptor, nullptr), JVMTI_ERROR_INVALID_METHODID);
    EXPECT_EQ(jvmti->GetLineNumberTable(length, &count, &lines), JVMTI_ERROR_ABSENT_INFORMATION);
    EXPECT_EQ(jvmti->GetClassSignature(owner, &signature, nullptr), JVMTI_ERROR_INVALID_CLASS);
    EXPECT_EQ(jvm.outstandingAllocations, 0);
}

TEST(ScriptedJvm, JavaStringsArraysAndCallbacks) {
    ScriptedJvm jvm;
    JNIEnv* env = jvm.jni();
    jobjectArray names = jvm.stringArray({"read", nullptr});
    EXPECT_EQ(env->GetArrayLength(names), 2);
    EXPECT_EQ(env->GetObjectArrayElement(names, 1), nullptr);
    jstring first = static_cast<jstring>(env->GetObjectArrayElement(names, 0));
    const char* chars = env->GetStringUTFChars(first, nullptr);
    EXPECT_STREQ(chars, "read");
    EXPECT_EQ(jvm.outstandingUtfChars, 1);
    env->ReleaseStringUTFChars(first, chars);
    EXPECT_EQ(jvm.outstandingUtfChars, 0);

    EXPECT_EQ(env->GetObjectArrayElement(names, 2), nullptr);
    EXPECT_TRUE(env->ExceptionCheck()) << "reading past the end throws in the caller";
    EXPECT_EQ(jvm.pendingException, "java/lang/ArrayIndexOutOfBoundsException");
    env->ExceptionClear();

    jstring refused = jvm.newString("big");
    jvm.refuseUtfChars(refused);
    EXPECT_EQ(env->GetStringUTFChars(refused, nullptr), nullptr);
    env->ExceptionClear();

    jbyteArray path = jvm.byteArray({'a', 0, 0, 0});
    jbyte* bytes = env->GetByteArrayElements(path, nullptr);
    bytes[0] = 'b';
    env->ReleaseByteArrayElements(path, bytes, JNI_ABORT);
    jlongArray counts = jvm.longArray({1, 2});
    jlong* longs = env->GetLongArrayElements(counts, nullptr);
    longs[1] = 5;
    env->ReleaseLongArrayElements(counts, longs, 0);
    EXPECT_EQ(jvm.longsOf(counts), (std::vector<jlong>{1, 5})) << "mode 0 copies back";
    EXPECT_EQ(jvm.outstandingArrayElements, 0);

    jobject manager = jvm.threadManager({0x1000, 0x2000});
    jclass managerClass = env->FindClass("com/zentaro/agent/callee/JvmtiCallee$JvmtiThreadManager");
    jmethodID ids = env->GetMethodID(managerClass, "getSamplingTransactionIds", "()[J");
    jobject answer = env->CallObjectMethod(manager, ids);
    EXPECT_EQ(jvm.longsOf(answer), (std::vector<jlong>{2, 0x1000, 0x2000}));
    jvm.missingMethods.insert("com/zentaro/agent/callee/JvmtiCallee$JvmtiThreadManager.initSamplingState()V");
    EXPECT_EQ(env->GetMethodID(managerClass, "initSamplingState", "()V"), nullptr);
    EXPECT_EQ(jvm.pendingException, "java/lang/NoSuchMethodError");
}

} // namespace
