// Loads a fresh copy of the agent library, so each test starts from the state before any attach,
// and finds its exports by name as the JVM does.
#pragma once

#include <filesystem>
#include <jni.h>
#include <string>

class AgentLibrary {
  public:
    // The library built in this tree; set once by the test program's main.
    static std::filesystem::path builtLibrary;

    AgentLibrary();
    ~AgentLibrary();
    AgentLibrary(const AgentLibrary&) = delete;
    AgentLibrary& operator=(const AgentLibrary&) = delete;

    bool loaded() const { return handle != nullptr; }
    void* symbol(const char* name) const;
    template <typename FunctionPointer> FunctionPointer function(const char* name) const {
        return reinterpret_cast<FunctionPointer>(symbol(name));
    }

    jint attach(JavaVM* vm, const char* options) const;

  private:
    std::filesystem::path copy;
    void* handle = nullptr;
};
