#include "ToolTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

std::string fakePeStub(int sections, int optionalHeaderSize) {
    const size_t peOffset = 0x40;
    const size_t headersEnd = peOffset + 24 + optionalHeaderSize + sections * 40;
    std::string image(headersEnd + sections * 16, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    putInt32(image, 0x3C, peOffset);
    image.replace(peOffset, 4, std::string("PE\0\0", 4));
    image[peOffset + 6] = static_cast<char>(sections);
    image[peOffset + 20] = static_cast<char>(optionalHeaderSize & 0xFF);
    image[peOffset + 21] = static_cast<char>(optionalHeaderSize >> 8);
    for (int i = 0; i < sections; ++i) {
        size_t header = peOffset + 24 + optionalHeaderSize + i * 40;
        image.replace(header, 5, ".sect");
        putInt32(image, header + 16, 16);                  // SizeOfRawData
        putInt32(image, header + 20, headersEnd + i * 16); // PointerToRawData
    }
    return image;
}

void putInt32(std::string& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tooltest.XXXXXX").string();
    if (mkdtemp(&pattern[0]) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    dir = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

ToolRun runTool(const std::string& program, const std::vector<std::string>& args) {
    TempDir outputs;
    std::string outPath = outputs.path("out");
    std::string errPath = outputs.path("err");
    pid_t child = fork();
    if (child == 0) {
        if (!freopen(outPath.c_str(), "w", stdout) || !freopen(errPath.c_str(), "w", stderr))
            _exit(127);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    // A crash must not pass for an ordinary exit code.
    int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {exitCode, readFile(outPath), readFile(errPath)};
}
