// The stand-in Java runtime keeps the contract the launcher's tests rely on: a real runtime's
// layout and loading rules, its java.exe banner, its JNI habits, and a transcript of what it saw.
#include <gtest/gtest.h>

#include <jni.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string standinBin() { return getenv("STANDIN_BIN"); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

// A runtime laid out like a JRE: bin\java.exe, bin\standinrt.dll, bin\unpack200.exe, bin\client\jvm.dll.
struct Runtime {
    std::string home;
    Runtime() {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        // A child run of this test (see UnprovidedFunctionsTrap) shares its parent's runtime.
        const char* parent = getenv("STANDIN_TRAP_CHILD");
        home = std::string(temp) + "standin-jre-" + (parent != nullptr ? parent : std::to_string(GetCurrentProcessId()));
        CreateDirectoryA(home.c_str(), nullptr);
        if (parent == nullptr) // process ids are reused: start from a clean runtime
            for (const char* file : {"bin\\standin-version.txt", "bin\\standin-exitcode.txt", "bin\\standin-runs.txt",
                                     "bin\\standin-commands.txt", "bin\\standin-unpack200.txt",
                                     "bin\\client\\standin-transcript.txt"})
                DeleteFileA((home + "\\" + file).c_str());
        CreateDirectoryA((home + "\\bin").c_str(), nullptr);
        CreateDirectoryA((home + "\\bin\\client").c_str(), nullptr);
        for (const char* file : {"java.exe", "standinrt.dll", "unpack200.exe"})
            CopyFileA((standinBin() + "\\" + file).c_str(), (home + "\\bin\\" + file).c_str(), FALSE);
        CopyFileA((standinBin() + "\\jvm.dll").c_str(), (home + "\\bin\\client\\jvm.dll").c_str(), FALSE);
    }
    std::string transcript() const { return readFile(home + "\\bin\\client\\standin-transcript.txt"); }
};

const Runtime& runtime() {
    static Runtime shared;
    return shared;
}

// Runs a command line; returns its exit code, with standard error in `errors`.
DWORD run(const std::string& commandLine, std::string* errors = nullptr, const char* environment = nullptr) {
    std::string errorFile = runtime().home + "\\stderr.txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE error = CreateFileA(errorFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = error;
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, const_cast<char*>(environment), nullptr,
                        &startup, &process)) {
        CloseHandle(error);
        return 0xFFFFFFFF;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(error);
    if (errors != nullptr) {
        // Standard error is a text stream: line ends arrive as CR LF.
        *errors = readFile(errorFile);
        for (size_t at; (at = errors->find("\r\n")) != std::string::npos;) errors->erase(at, 1);
    }
    return code;
}

TEST(StandinJava, PrintsItsBannerExitsAsToldAndCountsItsRuns) {
    std::string java = runtime().home + "\\bin\\java.exe";
    std::string errors;
    EXPECT_EQ(run(java + " -version", &errors), 0u);
    EXPECT_EQ(errors.substr(0, errors.find('\n')), "java version \"1.8.0_251\"");

    writeFile(runtime().home + "\\bin\\standin-version.txt", "openjdk version \"11.0.2\" 2019-01-15\n");
    writeFile(runtime().home + "\\bin\\standin-exitcode.txt", "3");
    EXPECT_EQ(run(java + " -version", &errors), 3u);
    EXPECT_EQ(errors, "openjdk version \"11.0.2\" 2019-01-15\n");
    EXPECT_EQ(readFile(runtime().home + "\\bin\\standin-runs.txt"), "2");
    DeleteFileA((runtime().home + "\\bin\\standin-exitcode.txt").c_str());
}

TEST(StandinUnpack200, WritesTheJarAndRecordsTheCall) {
    std::string packed = runtime().home + "\\rt.jar.pack";
    std::string jar = runtime().home + "\\rt.jar";
    writeFile(packed, "packed");
    EXPECT_EQ(run(runtime().home + "\\bin\\unpack200.exe -r \"" + packed + "\" \"" + jar + "\""), 0u);
    EXPECT_EQ(readFile(jar).substr(0, 4), std::string("PK\x03\x04", 4));
    EXPECT_NE(readFile(runtime().home + "\\bin\\standin-unpack200.txt").find("-r \"" + packed + "\""),
              std::string::npos);
}

typedef jint(JNICALL* CreateJavaVm)(JavaVM**, void**, void*);

HMODULE loadJvm() { return LoadLibraryA((runtime().home + "\\bin\\client\\jvm.dll").c_str()); }

CreateJavaVm createFunction() {
    char path[32768];
    GetEnvironmentVariableA("PATH", path, sizeof path);
    SetEnvironmentVariableA("PATH", (runtime().home + "\\bin;" + path).c_str());
    HMODULE jvm = loadJvm();
    return jvm != nullptr ? reinterpret_cast<CreateJavaVm>(reinterpret_cast<void*>(GetProcAddress(jvm, "JNI_CreateJavaVM")))
                          : nullptr;
}

jint create(CreateJavaVm createJavaVm, std::initializer_list<const char*> options, JavaVM** vm, JNIEnv** env) {
    JavaVMOption list[8];
    int count = 0;
    for (const char* option : options) list[count++].optionString = const_cast<char*>(option);
    JavaVMInitArgs arguments{JNI_VERSION_1_2, count, list, JNI_FALSE};
    return createJavaVm(vm, reinterpret_cast<void**>(env), &arguments);
}

// These tests run in order: the JVM library stays loaded and its JVM exists once per process.
TEST(StandinJvm, LoadsOnlyWithItsBinDirectoryOnThePath) {
    EXPECT_EQ(loadJvm(), nullptr) << "jvm.dll must need its companion DLL from bin";
    EXPECT_NE(createFunction(), nullptr) << "JNI_CreateJavaVM is exported under its undecorated name";
}

TEST(StandinJvm, CreationFailsOnRequestAndThenWorksOnce) {
    CreateJavaVm createJavaVm = createFunction();
    ASSERT_NE(createJavaVm, nullptr);
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    EXPECT_EQ(create(createJavaVm, {"-Dstandin.create=-6"}, &vm, &env), -6);

    std::string missing = "-Dstandin.missingClasses=com/example/Missing";
    std::string mainBehaviour = "-Dstandin.main=throw";
    ASSERT_EQ(create(createJavaVm, {"-Xmx64m", missing.c_str(), mainBehaviour.c_str()}, &vm, &env), JNI_OK);
    EXPECT_EQ(create(createJavaVm, {"-Xmx64m"}, &vm, &env), JNI_EEXIST);

    EXPECT_EQ(env->FindClass("com/example/Missing"), nullptr);
    jthrowable pending = env->ExceptionOccurred();
    EXPECT_NE(pending, nullptr) << "a failed lookup leaves an exception pending";
    env->ExceptionDescribe();
    EXPECT_EQ(env->ExceptionOccurred(), nullptr) << "describing clears it";

    jclass launcher = env->FindClass("com/example/WinLauncher");
    ASSERT_NE(launcher, nullptr);
    EXPECT_EQ(env->GetStaticMethodID(launcher, "main", "([Ljava/lang/String;)V") != nullptr, true);
    jmethodID main = env->GetStaticMethodID(launcher, "main", "([Ljava/lang/String;)V");
    jobjectArray arguments = env->NewObjectArray(2, env->FindClass("java/lang/String"), nullptr);
    const jchar wide[] = {'w', 0xE4};
    env->SetObjectArrayElement(arguments, 0, env->NewString(wide, 2));
    env->SetObjectArrayElement(arguments, 1, env->NewStringUTF("second"));
    env->CallStaticVoidMethod(launcher, main, arguments);
    EXPECT_NE(env->ExceptionOccurred(), nullptr) << "main was asked to throw";
    env->ExceptionClear();
    EXPECT_EQ(vm->DestroyJavaVM(), JNI_OK);

    std::string transcript = runtime().transcript();
    for (const char* line : {"JNI_CreateJavaVM fails with -6\n", "option: -Xmx64m\n",
                             "JNI_CreateJavaVM called again\n", "FindClass com/example/Missing -> missing\n",
                             "ExceptionDescribe java/lang/NoClassDefFoundError\n", "NewObjectArray 2 of java/lang/String\n",
                             "main argument 0: w\xc3\xa4\n", "main argument 1: second\n",
                             "main threw java/lang/IllegalStateException\n", "DestroyJavaVM\n"})
        EXPECT_NE(transcript.find(line), std::string::npos) << "missing transcript line: " << line;
    EXPECT_EQ(transcript.find("ERROR"), std::string::npos) << transcript;
}

// Calling a JNI function the stand-in does not provide ends the process with a clear line. Runs
// itself as a child process for that.
TEST(StandinJvm, UnprovidedFunctionsTrap) {
    if (getenv("STANDIN_TRAP_CHILD") != nullptr) {
        CreateJavaVm createJavaVm = createFunction();
        JavaVM* vm = nullptr;
        JNIEnv* env = nullptr;
        if (create(createJavaVm, {"-Xrs"}, &vm, &env) == JNI_OK) env->GetObjectClass(nullptr);
        return;
    }
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    SetEnvironmentVariableA("STANDIN_TRAP_CHILD", std::to_string(GetCurrentProcessId()).c_str());
    DWORD code = run(std::string("\"") + self + "\" --gtest_filter=StandinJvm.UnprovidedFunctionsTrap");
    SetEnvironmentVariableA("STANDIN_TRAP_CHILD", nullptr);
    EXPECT_EQ(code, 97u);
    EXPECT_NE(runtime().transcript().find("TRAP: JNI function 31 is not provided by the stand-in\n"), std::string::npos);
}

} // namespace
