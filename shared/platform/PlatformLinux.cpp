#include "platform/Platform.h"
#include "platform/Utf16.h"

#include <cstdlib>
#include <poll.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

namespace platform {

const char16_t pathSeparator = u'/';

int64_t monotonicMicros() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

bool PeriodicTimer::start(int32_t periodMillis) {
    stop();
    int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd < 0)
        return false;
    itimerspec spec{};
    spec.it_interval.tv_sec = periodMillis / 1000;
    spec.it_interval.tv_nsec = static_cast<long>(periodMillis % 1000) * 1000000;
    spec.it_value = spec.it_interval;
    if (timerfd_settime(fd, 0, &spec, nullptr) != 0) {
        close(fd);
        return false;
    }
    waitHandle = fd + 1; // 0 means no timer
    period = periodMillis;
    return true;
}

bool PeriodicTimer::waitTick(int32_t timeoutMillis) {
    if (waitHandle == 0)
        return false;
    pollfd entry{static_cast<int>(waitHandle - 1), POLLIN, 0};
    if (poll(&entry, 1, timeoutMillis) != 1)
        return false;
    // Expirations missed while the sampler was busy collapse into one tick, as with an
    // auto-reset event.
    uint64_t expirations;
    return read(entry.fd, &expirations, sizeof expirations) == sizeof expirations;
}

void PeriodicTimer::stop() {
    if (waitHandle != 0)
        close(static_cast<int>(waitHandle - 1));
    waitHandle = 0;
}

FILE* openFile(const char16_t* path, const char16_t* mode) {
    std::string narrowPath, narrowMode;
    if (!utf16ToUtf8(path, narrowPath) || !utf16ToUtf8(mode, narrowMode))
        return nullptr;
    return std::fopen(narrowPath.c_str(), narrowMode.c_str());
}

int64_t filePosition(FILE* file) {
    return static_cast<int64_t>(ftello(file));
}

bool seekFile(FILE* file, int64_t position) {
    return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool readEnvironment(const char16_t* name, std::u16string& value) {
    std::string narrowName;
    if (!utf16ToUtf8(name, narrowName))
        return false;
    const char* text = std::getenv(narrowName.c_str());
    if (text == nullptr || *text == '\0')
        return false;
    value = utf8ToUtf16(text);
    return true;
}

std::string toConsoleText(const std::u16string& text) {
    std::string narrow;
    utf16ToUtf8(text.c_str(), narrow);
    return narrow;
}

} // namespace platform
