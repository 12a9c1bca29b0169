#include "LauncherBuild.h"

#include "ConfigJson.h"
#include "Payload.h"
#include "PeImage.h"
#include "TextEncoding.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct IncludedFile {
    std::string name; // Windows-1252
    std::string path;
    int64_t size;
};

std::string systemError() {
    return std::strerror(errno);
}

bool readWholeFile(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    std::error_code ignored;
    if (!in || !fs::is_regular_file(path, ignored)) {
        error = "cannot read " + path + ": " + (in ? "not a regular file" : systemError());
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// The launcher extracts NAME below its temporary directory and creates at most one directory for it.
std::string nameProblem(const std::string& name) {
    if (name.empty())
        return "the name is empty";
    if (name.find('/') != std::string::npos)
        return "use a backslash to separate the directory (lib\\native.dll)";
    if (name.find(':') != std::string::npos)
        return "\":\" is not allowed (no drive letters or absolute paths)";
    if (name[0] == '\\')
        return "the name must be relative to the launcher's temporary directory";
    if (name.find("..") != std::string::npos)
        return "\"..\" is not allowed";
    if (name.find(';') != std::string::npos)
        return "\";\" is not allowed: it separates the names in id 2003";
    for (unsigned char c : name)
        if (c < 0x20 || std::strchr("<>\"|?*", c) != nullptr)
            return "the character '" + std::string(1, static_cast<char>(c)) +
                   "' is not allowed in a file name";
    size_t separator = name.find('\\');
    if (separator != std::string::npos && name.find('\\', separator + 1) != std::string::npos)
        return "at most one directory level is allowed";
    if (name.back() == '\\')
        return "the name ends with a backslash and names no file";
    if (name == "." || name.compare(0, 2, ".\\") == 0 ||
        (name.size() >= 2 && name.compare(name.size() - 2, 2, "\\.") == 0))
        return "\".\" is not a file or directory name";
    return "";
}

bool sameNameOnWindows(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool parseFileOptions(const std::vector<std::string>& options, std::vector<IncludedFile>& files,
                      std::string& error) {
    for (const std::string& option : options) {
        size_t equals = option.find('=');
        std::string what = "--file " + option + ": ";
        if (equals == std::string::npos) {
            error = what + "expected NAME=PATH";
            return false;
        }
        IncludedFile file{"", option.substr(equals + 1), 0};
        std::string name = option.substr(0, equals);
        std::string problem = nameProblem(name);
        uint32_t badCodePoint = 0;
        if (problem.empty() && !utf8ToCp1252(name, file.name, badCodePoint))
            problem = "the name holds a character that narrow text (Windows-1252) cannot represent";
        for (const IncludedFile& earlier : files)
            if (problem.empty() && sameNameOnWindows(earlier.name, file.name))
                problem = "the name is given twice (Windows file names ignore case)";
        if (!problem.empty()) {
            error = what + "bad name \"" + name + "\": " + problem;
            return false;
        }
        std::error_code failure;
        if (!fs::is_regular_file(file.path, failure)) {
            error = what + "cannot read " + file.path + ": not a regular file";
            return false;
        }
        file.size = static_cast<int64_t>(fs::file_size(file.path, failure));
        if (failure) {
            error = what + "cannot read " + file.path + ": " + failure.message();
            return false;
        }
        files.push_back(file);
    }
    return true;
}

// A payload must directly follow the last section's raw data, so nothing may already be there.
bool checkStub(std::ifstream& stub, const std::string& path, uint64_t& size, std::string& error) {
    std::error_code ignored;
    if (!fs::is_regular_file(path, ignored)) {
        error = "cannot read stub " + path + ": not a regular file";
        return false;
    }
    if (!stub) {
        error = "cannot read stub " + path + ": " + systemError();
        return false;
    }
    stub.seekg(0, std::ios::end);
    size = static_cast<uint64_t>(stub.tellg());
    uint64_t payloadOffset = 0;
    if (!findPayloadOffset(stub, size, payloadOffset, error)) {
        error = "stub " + path + ": " + error;
        return false;
    }
    if (payloadOffset < size) {
        error =
            "stub " + path + " carries " + std::to_string(size - payloadOffset) +
            " bytes behind the raw data of its last section (from offset " + std::to_string(payloadOffset) +
            "), such as a COFF symbol table, a signature or an earlier payload; the launcher would not find "
            "a payload behind them. Strip the stub first (for example: i686-w64-mingw32-strip " +
            path + ")";
        return false;
    }
    return true;
}

bool writeLauncher(std::ifstream& stub, uint64_t stubSize, const std::string& payload,
                   const std::vector<IncludedFile>& files, std::ofstream& out, std::string& error) {
    stub.clear();
    stub.seekg(0);
    if (stubSize > 0 && !(out << stub.rdbuf())) {
        error = "copying the stub failed";
        return false;
    }
    out.write(payload.data(), static_cast<std::streamsize>(payload.size()));
    for (const IncludedFile& file : files) {
        std::ifstream data(file.path, std::ios::binary);
        if (!appendIncludedFile(data, file.size, out)) {
            error = "cannot read all " + std::to_string(file.size) + " bytes of " + file.path +
                    " (did it change?)";
            return false;
        }
    }
    out.flush();
    if (!out) {
        error = "writing failed: " + systemError();
        return false;
    }
    return true;
}

// Writes to a temporary file beside `outPath` and renames it into place, so a failure never leaves
// a half-written launcher behind.
bool writeBesideAndRename(const std::string& outPath, std::ifstream& stub, uint64_t stubSize,
                          const std::string& payload, const std::vector<IncludedFile>& files,
                          std::string& error) {
    fs::path out(outPath);
    fs::path directory = out.parent_path().empty() ? fs::path(".") : out.parent_path();
    std::error_code failure;
    fs::create_directories(directory, failure);
    if (failure) {
        error = "cannot create directory " + directory.string() + ": " + failure.message();
        return false;
    }
    std::string temporary = (directory / ("." + out.filename().string() + ".XXXXXX")).string();
    int fd = mkstemp(&temporary[0]);
    if (fd < 0) {
        error = "cannot create a temporary file in " + directory.string() + ": " + systemError();
        return false;
    }
    close(fd);
    std::ofstream output(temporary, std::ios::binary | std::ios::trunc);
    bool ok = writeLauncher(stub, stubSize, payload, files, output, error);
    output.close();
    fs::permissions(temporary, fs::perms(0755), failure);
    if (ok && (output.fail() || failure)) {
        error = "writing " + temporary + " failed";
        ok = false;
    }
    if (ok && std::rename(temporary.c_str(), outPath.c_str()) != 0) {
        error = "cannot rename " + temporary + " to " + outPath + ": " + systemError();
        ok = false;
    }
    if (!ok) {
        error = outPath + ": " + error;
        fs::remove(temporary, failure);
    }
    return ok;
}

} // namespace

bool buildLauncher(const BuildRequest& request, std::vector<std::string>& warnings, std::string& error) {
    std::string text;
    Configuration config;
    if (!readWholeFile(request.configPath, text, error))
        return false;
    if (!configurationFromJson(text, config, error)) {
        error = request.configPath + ": " + error;
        return false;
    }
    std::vector<IncludedFile> files;
    if (!parseFileOptions(request.fileOptions, files, error))
        return false;
    if (!files.empty()) {
        if (config.narrow.count(includedFileCountId) || config.narrow.count(includedFileNamesId))
            warnings.push_back("the --file options replace ids 2002 and 2003 of " + request.configPath);
        std::vector<std::string> names;
        for (const IncludedFile& file : files)
            names.push_back(file.name);
        setIncludedFileNames(config, names);
    } else if (!includedFileNames(config).empty()) {
        warnings.push_back(request.configPath + " lists " + std::to_string(includedFileNames(config).size()) +
                           " included files (ids 2002 and 2003) but no --file gives their contents; the "
                           "launcher will fail to extract them");
    }

    std::ifstream stub(request.stubPath, std::ios::binary);
    uint64_t stubSize = 0;
    if (!checkStub(stub, request.stubPath, stubSize, error))
        return false;
    std::error_code failure;
    if (fs::equivalent(request.stubPath, request.outPath, failure)) {
        error = "--out " + request.outPath + " is the stub itself; the stub is never changed";
        return false;
    }
    return writeBesideAndRename(request.outPath, stub, stubSize, encodeConfiguration(config), files, error);
}
