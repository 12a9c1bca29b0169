// Small helpers shared by the agent tests: scratch directories, environment and file contents.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// A fresh empty directory under the system's temporary directory, removed by the destructor.
class ScratchDirectory {
  public:
    ScratchDirectory();
    ~ScratchDirectory();
    const std::filesystem::path& path() const { return dir; }

  private:
    std::filesystem::path dir;
};

// Sets or removes a variable of the process environment, as the platform's own calls see it.
void setEnvironment(const char* name, const std::string& value);
void unsetEnvironment(const char* name);

// Restores the working directory when it leaves scope.
class WorkingDirectory {
  public:
    explicit WorkingDirectory(const std::filesystem::path& to);
    ~WorkingDirectory();

  private:
    std::filesystem::path previous;
};

std::string readFile(const std::filesystem::path& file);

} // namespace testsupport
