#include "TestSupport.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace testsupport {

namespace fs = std::filesystem;

ScratchDirectory::ScratchDirectory() {
    static std::atomic<int> serial{0};
#ifdef _WIN32
    long pid = static_cast<long>(GetCurrentProcessId());
#else
    long pid = static_cast<long>(getpid());
#endif
    long stamp = static_cast<long>(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000);
    dir = fs::temp_directory_path() / ("zentaro-test-" + std::to_string(pid) + "-" + std::to_string(stamp) +
                                       "-" + std::to_string(serial++));
    fs::create_directories(dir);
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

void setEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
    SetEnvironmentVariableA(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void unsetEnvironment(const char* name) {
#ifdef _WIN32
    SetEnvironmentVariableA(name, nullptr);
#else
    unsetenv(name);
#endif
}

WorkingDirectory::WorkingDirectory(const fs::path& to) : previous(fs::current_path()) {
    fs::current_path(to);
}

WorkingDirectory::~WorkingDirectory() {
    fs::current_path(previous);
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace testsupport
