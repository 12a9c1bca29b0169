// The few calls that differ between Windows and Linux. One implementation file per system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// Microseconds from an arbitrary origin, never going backwards.
int64_t monotonicMicros();

// A periodic tick that the sampling loop waits for on its own thread; no thread of ours runs it.
class PeriodicTimer {
  public:
    PeriodicTimer() = default;
    ~PeriodicTimer() { stop(); }
    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;

    bool start(int32_t periodMillis);
    // True when a tick arrived within timeoutMillis.
    bool waitTick(int32_t timeoutMillis);
    void stop();

  private:
    intptr_t waitHandle = 0;
    uint32_t timerId = 0;
    int32_t period = 0;
};

// fopen for a UTF-16 path and mode; null when the file cannot be opened or the name cannot be
// represented on this system.
FILE* openFile(const char16_t* path, const char16_t* mode);

// The position in a file as 64 bits, -1 on failure; and a seek to an absolute position.
int64_t filePosition(FILE* file);
bool seekFile(FILE* file, int64_t position);

// False when the variable is not set (or is empty, which Windows does not tell apart).
bool readEnvironment(const char16_t* name, std::u16string& value);

// A UTF-16 text as narrow text for the console.
std::string toConsoleText(const std::u16string& text);

extern const char16_t pathSeparator;

} // namespace platform
