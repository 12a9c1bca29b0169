// Class and method descriptions from a real JVM: the test creates an OpenJDK VM in its own
// process, attaches the agent to it and describes method IDs of the JDK's own classes.
#include "ClassProfilingSession.h"
#include "MemoryWriter.h"
#include "ProfilingSession.h"

#include <gtest/gtest.h>

#include <jni.h>
#include <string>
#include <vector>

extern "C" jint JNICALL Agent_OnAttach(JavaVM* vm, char* options, void* reserved);
extern "C" void JNICALL Java_com_zentaro_agent_callee_JvmtiCallee_setFilters(JNIEnv*, jclass, jobjectArray,
                                                                             jboolean, jobjectArray,
                                                                             jboolean);
extern "C" void JNICALL Java_com_zentaro_agent_callee_JvmtiCallee_addNetioClass(JNIEnv*, jclass, jstring,
                                                                                jobjectArray, jobjectArray);
extern "C" jlong JNICALL Java_com_zentaro_agent_callee_JvmtiCallee_createInterceptionMethodId(JNIEnv*, jclass,
                                                                                              jstring);

namespace {

// One VM per process, as the JVM allows; the agent is attached to it once.
JNIEnv* javaEnv() {
    static JNIEnv* env = [] {
        JavaVM* vm = nullptr;
        JNIEnv* created = nullptr;
        JavaVMInitArgs args{JNI_VERSION_1_8, 0, nullptr, JNI_FALSE};
        if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&created), &args) != JNI_OK)
            return static_cast<JNIEnv*>(nullptr);
        Agent_OnAttach(vm, nullptr, nullptr);
        return created;
    }();
    return env;
}

class RealJvm : public testing::Test {
  protected:
    void SetUp() override {
        env = javaEnv();
        ASSERT_NE(env, nullptr) << "no JVM";
        ASSERT_TRUE(agentStarted());
        profiling = session.classProfilingSession;
    }
    MethodDesc* describe(const char* owner, const char* name, const char* signature, bool isStatic = false) {
        jclass found = env->FindClass(owner);
        EXPECT_NE(found, nullptr) << owner;
        jmethodID id = isStatic ? env->GetStaticMethodID(found, name, signature)
                                : env->GetMethodID(found, name, signature);
        EXPECT_NE(id, nullptr) << owner << "." << name << signature;
        env->DeleteLocalRef(found);
        return profiling->lookupMethod(id, env);
    }
    jobjectArray strings(const std::vector<const char*>& texts) {
        jclass stringClass = env->FindClass("java/lang/String");
        jobjectArray array = env->NewObjectArray(static_cast<jsize>(texts.size()), stringClass, nullptr);
        for (size_t i = 0; i < texts.size(); i++)
            if (texts[i] != nullptr)
                env->SetObjectArrayElement(array, static_cast<jsize>(i), env->NewStringUTF(texts[i]));
        return array;
    }

    JNIEnv* env = nullptr;
    ClassProfilingSession* profiling = nullptr;
};

TEST_F(RealJvm, DescribesJdkMethodsWithDottedClassNamesAndDescriptors) {
    struct Case {
        const char* owner;
        const char* name;
        const char* signature;
        bool isStatic;
        const char* className;
    } cases[] = {
        {"java/lang/String", "length", "()I", false, "java.lang.String"},
        {"java/lang/String", "valueOf", "(I)Ljava/lang/String;", true, "java.lang.String"},
        {"java/lang/String", "substring", "(II)Ljava/lang/String;", false, "java.lang.String"},
        {"java/util/Map$Entry", "getKey", "()Ljava/lang/Object;", false, "java.util.Map$Entry"},
    };
    for (const Case& c : cases) {
        MethodDesc* method = describe(c.owner, c.name, c.signature, c.isStatic);
        ASSERT_NE(method, nullptr) << c.name;
        EXPECT_STREQ(method->classData->name, c.className);
        EXPECT_STREQ(method->name, c.name);
        EXPECT_STREQ(method->signature, c.signature);
        EXPECT_FALSE(method->ignored || method->marker || method->netio) << c.name;
    }
    EXPECT_EQ(describe("java/lang/String", "length", "()I")->classData,
              describe("java/lang/String", "isEmpty", "()Z")->classData);
    MethodDesc* constructor = describe("java/lang/Object", "<init>", "()V");
    EXPECT_EQ(profiling->objectConstructor, constructor);
    EXPECT_FALSE(env->ExceptionCheck());
}

TEST_F(RealJvm, FiltersAndNetioClassesFollowTheNatives) {
    MethodDesc* length = describe("java/lang/String", "length", "()I");
    MethodDesc* list = describe("java/util/ArrayList", "size", "()I");
    Java_com_zentaro_agent_callee_JvmtiCallee_setFilters(env, nullptr, strings({"java.util", nullptr}),
                                                         JNI_FALSE, strings({"java.lang.Str*"}), JNI_FALSE);
    EXPECT_TRUE(list->filtered);
    EXPECT_FALSE(length->filtered);
    EXPECT_TRUE(length->ignored);
    Java_com_zentaro_agent_callee_JvmtiCallee_setFilters(env, nullptr, nullptr, JNI_FALSE, nullptr,
                                                         JNI_FALSE);
    EXPECT_FALSE(list->filtered || length->ignored);

    Java_com_zentaro_agent_callee_JvmtiCallee_addNetioClass(
        env, nullptr, env->NewStringUTF("java.net.Socket"), strings({"getInputStream", "close"}),
        strings({"()Ljava/io/InputStream;"}));
    EXPECT_FALSE(env->ExceptionCheck()) << "a shorter signature array raises nothing";
    EXPECT_TRUE(describe("java/net/Socket", "getInputStream", "()Ljava/io/InputStream;")->netio);
    EXPECT_TRUE(describe("java/net/Socket", "close", "()V")->netio);
    EXPECT_FALSE(describe("java/net/Socket", "isClosed", "()Z")->netio);
}

TEST_F(RealJvm, InterceptionIdsAndTheClassSection) {
    jstring name = env->NewStringUTF("__hvs_transaction");
    jlong first = Java_com_zentaro_agent_callee_JvmtiCallee_createInterceptionMethodId(env, nullptr, name);
    jlong second = Java_com_zentaro_agent_callee_JvmtiCallee_createInterceptionMethodId(env, nullptr, name);
    EXPECT_NE(first, 0);
    EXPECT_NE(second, 0);
    EXPECT_NE(first, second);

    describe("java/lang/String", "length", "()I");
    MemoryWriter writer;
    profiling->writeClassSection(writer);
    MemoryWriter::Bytes bytes = writer.written();
    std::string text(bytes.begin(), bytes.end());
    for (const char* expected : {"java.lang.String", "length", "()I", "__hvs_transaction"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected;
}

} // namespace
