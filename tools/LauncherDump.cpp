#include "LauncherDump.h"

#include "ConfigJson.h"
#include "Payload.h"
#include "PeImage.h"
#include "TextEncoding.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

bool dumpLauncher(const std::string& path, std::ostream& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored)) {
        error = "cannot read " + path + ": not a regular file";
        return false;
    }
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    in.seekg(0, std::ios::end);
    uint64_t size = static_cast<uint64_t>(in.tellg());
    uint64_t payloadOffset = 0;
    PayloadContents contents;
    std::string json;
    if (!findPayloadOffset(in, size, payloadOffset, error) ||
        !readPayload(in, size, payloadOffset, contents, error) ||
        !configurationToJson(contents.config, json, error)) {
        error = path + ": " + error;
        return false;
    }
    out << json << "\nincluded files: " << contents.files.size() << "\n";
    for (const IncludedFileEntry& file : contents.files)
        out << "  " << cp1252ToUtf8(file.name) << " (" << file.size << " bytes)\n";
    if (contents.end < size)
        out << "behind the included files: " << size - contents.end << " bytes the launcher does not read\n";
    return true;
}
