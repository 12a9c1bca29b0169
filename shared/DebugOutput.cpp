#include "DebugOutput.h"

#include "platform/Platform.h"

#include <cstdarg>
#include <jni.h>

DebugOutput debugOutput;

void consoleMessage(const char* format, ...) {
    std::fputs("zentaro> ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputs("\n", stderr);
    std::fflush(stderr);
}

// The file stays open for the life of the process; closing it at unload only ends our buffering.
DebugOutput::~DebugOutput() {
    if (file != nullptr)
        std::fflush(file);
}

void DebugOutput::write(int32_t category, int32_t level, const char* format, ...) {
    if (!passes(category, level))
        return;
    std::lock_guard<std::mutex> guard(lock);
    if (!ensureOpen())
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fflush(file);
}

void DebugOutput::writeText(int32_t category, int32_t level, const char* text) {
    if (!passes(category, level))
        return;
    std::lock_guard<std::mutex> guard(lock);
    if (!ensureOpen())
        return;
    std::fputs(text, file);
    std::fflush(file);
}

bool DebugOutput::buildPath() {
    static const char16_t fileName[] = u"zentaro.native.debug.out";
    std::u16string profile;
    if (platform::readEnvironment(u"USERPROFILE", profile)) {
        if (profile.size() + 1 + (sizeof fileName / sizeof fileName[0]) > pathCapacity) {
            consoleMessage("USERPROFILE is too long for the debug file path; no debug output is written.");
            pathRefused = true;
            return false;
        }
        path = profile + platform::pathSeparator + fileName;
    } else {
        path = fileName;
    }
    pathBuilt = true;
    return true;
}

bool DebugOutput::ensureOpen() {
    if (file != nullptr)
        return true;
    if (pathRefused || (!pathBuilt && !buildPath()))
        return false;
    file = platform::openFile(path.c_str(), u"w");
    consoleMessage("writing debug output to %s.", platform::toConsoleText(path).c_str());
    return file != nullptr;
}

extern "C" JNIEXPORT void JNICALL Java_com_zentaro_agent_callee_JvmtiCallee_debugOut0(JNIEnv* env, jclass,
                                                                                      jint category,
                                                                                      jint level,
                                                                                      jstring message) {
    if (message == nullptr)
        return;
    const char* text = env->GetStringUTFChars(message, nullptr);
    if (text == nullptr)
        return;
    debugOutput.writeText(category, level, text);
    env->ReleaseStringUTFChars(message, text);
}
