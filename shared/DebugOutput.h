// The agent's two output channels: console lines on standard error, and the debug file in the
// user's profile directory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#ifdef __MINGW32__
#define AGENT_PRINTF(formatIndex, firstArg) __attribute__((format(gnu_printf, formatIndex, firstArg)))
#else
#define AGENT_PRINTF(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))
#endif

// "zentaro> " and the formatted text as one line on standard error.
void consoleMessage(const char* format, ...) AGENT_PRINTF(1, 2);

// The debug file, filtered by category mask and level threshold. It is created by the first
// message that passes the filter and stays open for the life of the process.
class DebugOutput {
  public:
    // Room for the whole path, file name and terminator included, in UTF-16 units.
    static constexpr size_t pathCapacity = 8192;

    ~DebugOutput();
    void write(int32_t category, int32_t level, const char* format, ...) AGENT_PRINTF(4, 5);
    // The text goes to the file as it is, never read as a format.
    void writeText(int32_t category, int32_t level, const char* text);

  private:
    bool passes(int32_t category, int32_t level) const {
        return level <= threshold && (category & mask) == 0;
    }
    bool ensureOpen();
    bool buildPath();

    int32_t threshold = 0;
    int32_t mask = 0;
    bool pathBuilt = false;
    bool pathRefused = false;
    std::u16string path;
    FILE* file = nullptr;
    std::mutex lock;
};

extern DebugOutput debugOutput;

#define writeDebugOutput(category, level, ...) debugOutput.write((category), (level), __VA_ARGS__)
