#include "platform/Platform.h"

#include <windows.h>
// mmsystem.h needs the types of windows.h.
#include <mmsystem.h>

namespace platform {

const char16_t pathSeparator = u'\\';

int64_t monotonicMicros() {
    static bool initialised = false;
    static bool haveCounter = false;
    static double ticksPerMicro = 0;
    if (!initialised) {
        LARGE_INTEGER frequency;
        haveCounter = QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0;
        if (haveCounter)
            ticksPerMicro = static_cast<double>(frequency.QuadPart) / 1000000.0;
        initialised = true;
    }
    LARGE_INTEGER counter;
    if (haveCounter && QueryPerformanceCounter(&counter))
        return static_cast<int64_t>(static_cast<double>(counter.QuadPart) / ticksPerMicro);
    return static_cast<int64_t>(GetTickCount64()) * 1000;
}

bool PeriodicTimer::start(int32_t periodMillis) {
    stop();
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, "sampling waiter");
    if (event == nullptr)
        return false;
    waitHandle = reinterpret_cast<intptr_t>(event);
    period = periodMillis;
    timeBeginPeriod(periodMillis);
    timerId = timeSetEvent(periodMillis, 1, reinterpret_cast<LPTIMECALLBACK>(event), 0,
                           TIME_PERIODIC | TIME_CALLBACK_EVENT_SET);
    if (timerId == 0) {
        stop();
        return false;
    }
    return true;
}

bool PeriodicTimer::waitTick(int32_t timeoutMillis) {
    if (waitHandle == 0)
        return false;
    return WaitForSingleObject(reinterpret_cast<HANDLE>(waitHandle), timeoutMillis) == WAIT_OBJECT_0;
}

void PeriodicTimer::stop() {
    if (timerId != 0)
        timeKillEvent(timerId);
    if (waitHandle != 0) {
        timeEndPeriod(period);
        CloseHandle(reinterpret_cast<HANDLE>(waitHandle));
    }
    timerId = 0;
    waitHandle = 0;
}

FILE* openFile(const char16_t* path, const char16_t* mode) {
    return _wfopen(reinterpret_cast<const wchar_t*>(path), reinterpret_cast<const wchar_t*>(mode));
}

int64_t filePosition(FILE* file) {
    return _ftelli64(file);
}

bool seekFile(FILE* file, int64_t position) {
    return _fseeki64(file, position, SEEK_SET) == 0;
}

bool readEnvironment(const char16_t* name, std::u16string& value) {
    const wchar_t* wideName = reinterpret_cast<const wchar_t*>(name);
    DWORD needed = GetEnvironmentVariableW(wideName, nullptr, 0);
    if (needed == 0)
        return false;
    std::wstring buffer(needed, L'\0');
    DWORD length = GetEnvironmentVariableW(wideName, &buffer[0], needed);
    if (length == 0 || length >= needed)
        return false;
    value.assign(reinterpret_cast<const char16_t*>(buffer.data()), length);
    return true;
}

std::string toConsoleText(const std::u16string& text) {
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.c_str());
    int needed =
        WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(needed > 0 ? needed : 0, '\0');
    if (needed > 0)
        WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), &narrow[0], needed, nullptr,
                            nullptr);
    return narrow;
}

} // namespace platform
