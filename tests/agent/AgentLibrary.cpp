#include "AgentLibrary.h"

#include <atomic>
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

fs::path AgentLibrary::builtLibrary;

AgentLibrary::AgentLibrary() {
    static std::atomic<int> serial{0};
#ifdef _WIN32
    std::string process = std::to_string(GetCurrentProcessId());
#else
    std::string process = std::to_string(getpid());
#endif
    copy = fs::temp_directory_path() /
           ("zentaro-agent-" + process + "-" + std::to_string(serial++) + builtLibrary.extension().string());
    fs::copy_file(builtLibrary, copy, fs::copy_options::overwrite_existing);
#ifdef _WIN32
    handle = LoadLibraryW(copy.wstring().c_str());
#else
    handle = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    fs::remove(copy);
#endif
}

AgentLibrary::~AgentLibrary() {
#ifdef _WIN32
    if (handle != nullptr)
        FreeLibrary(static_cast<HMODULE>(handle));
    std::error_code ignored;
    fs::remove(copy, ignored);
#endif
    // On Linux the copy stays mapped until exit: the JVM never unloads an agent either.
}

void* AgentLibrary::symbol(const char* name) const {
    if (handle == nullptr)
        return nullptr;
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
#else
    return dlsym(handle, name);
#endif
}

jint AgentLibrary::attach(JavaVM* vm, const char* options) const {
    typedef jint(JNICALL * OnAttach)(JavaVM*, char*, void*);
    auto onAttach = function<OnAttach>("Agent_OnAttach");
    return onAttach(vm, const_cast<char*>(options), nullptr);
}
