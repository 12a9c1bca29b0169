// Small fixtures for the host tool tests: fake PE stubs, temporary directories, running a tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A minimal PE image: DOS header, PE signature, file header, an optional header of
// optionalHeaderSize bytes, `sections` section headers and 16 bytes of raw data per section.
// The last section's raw data ends exactly at the end of the file.
std::string fakePeStub(int sections = 1, int optionalHeaderSize = 0);

void putInt32(std::string& bytes, size_t offset, uint32_t value);

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return dir + "/" + name; }

  private:
    std::string dir;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

struct ToolRun {
    int exitCode;
    std::string out;
    std::string err;
};

// Runs `program` with `args` and collects its exit code and output.
ToolRun runTool(const std::string& program, const std::vector<std::string>& args);
