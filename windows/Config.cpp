#include "Config.h"

#include "Bounded.h"
#include "Locale.h"
#include "Log.h"
#include "Paths.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>

long long unextractedPosition;

namespace {

const unsigned payloadMagic = 0xE8E413D5u;

std::map<int, char*> narrowTable;
std::map<int, wchar_t*> wideTable;

long long filePosition(HANDLE file) {
    LARGE_INTEGER zero{}, position{};
    SetFilePointerEx(file, zero, &position, FILE_CURRENT);
    return position.QuadPart;
}

long long remainingBytes(HANDLE file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return 0;
    long long remaining = size.QuadPart - filePosition(file);
    return remaining > 0 ? remaining : 0;
}

bool readExactly(HANDLE file, void* buffer, DWORD size, DWORD* got) {
    *got = 0;
    return ReadFile(file, buffer, size, got, nullptr) && *got == size;
}

// A length or count that cannot be right marks the payload as damaged before anything is allocated
// for it: it ends the process with the message of the reader that met it.
void requirePlausible(bool plausible, const char* reader) {
    if (!plausible) fatalText(reader);
}

// Reads a count of records that take at least `minimumRecordSize` bytes each.
int readCount(HANDLE file, long long minimumRecordSize) {
    int count = readInt(file);
    requirePlausible(count >= 0 && count <= remainingBytes(file) / minimumRecordSize, "Internal Error: readInt");
    return count;
}

template <typename Char> void store(std::map<int, Char*>& table, int id, Char* value) {
    // A later entry replaces the earlier one; the earlier string stays allocated like every
    // configuration string, for the life of the process.
    table[id] = value;
}

template <typename Table> auto lookup(const Table& table, int id) -> typename Table::mapped_type {
    auto entry = table.find(id);
    return entry == table.end() ? nullptr : entry->second;
}

} // namespace

HANDLE openOwnExecutable() {
    const wchar_t* path = getExecutablePathWide();
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        logError("Could not open %S", path);
        fatalText("Error opening media file. Please move this file to an ascii-only path like c:\\");
    }
    return file;
}

void seekPayload(HANDLE file) {
    LARGE_INTEGER offset{};
    offset.QuadPart = 60;
    SetFilePointerEx(file, offset, nullptr, FILE_BEGIN);
    long long peOffset = static_cast<unsigned>(readInt(file));

    offset.QuadPart = peOffset + 6;
    SetFilePointerEx(file, offset, nullptr, FILE_BEGIN);
    int numberOfSections = static_cast<unsigned short>(readShort(file));
    logMessage("number of sections: %d", numberOfSections);

    offset.QuadPart = peOffset + 20;
    SetFilePointerEx(file, offset, nullptr, FILE_BEGIN);
    int sizeOfOptionalHeader = static_cast<unsigned short>(readShort(file));
    logMessage("size of optional headers: %d", sizeOfOptionalHeader);

    long long lastSection = peOffset + 24 + sizeOfOptionalHeader + (numberOfSections - 1) * 40LL;
    logMessage("resSectionTableStart: %d", static_cast<int>(lastSection));
    offset.QuadPart = lastSection + 16;
    SetFilePointerEx(file, offset, nullptr, FILE_BEGIN);
    unsigned rawDataSize = static_cast<unsigned>(readInt(file));
    unsigned rawDataOffset = static_cast<unsigned>(readInt(file));
    logMessage("rawDataSize: %d, rawDataOffset: %d", rawDataSize, rawDataOffset);

    offset.QuadPart = static_cast<long long>(rawDataOffset) + rawDataSize;
    SetFilePointerEx(file, offset, nullptr, FILE_BEGIN);
}

short readShort(HANDLE file) {
    short value = 0;
    DWORD got;
    if (!readExactly(file, &value, sizeof value, &got)) {
        logMessage("error %d\n", static_cast<int>(GetLastError()));
        fatalText("Internal Error: readShort");
    }
    return value;
}

int readInt(HANDLE file) {
    int value = 0;
    DWORD got;
    if (!readExactly(file, &value, sizeof value, &got)) {
        logMessage("error %d %d\n", static_cast<int>(GetLastError()), static_cast<int>(got));
        fatalText("Internal Error: readInt");
    }
    return value;
}

long long readLong(HANDLE file) {
    long long value = 0;
    DWORD got;
    if (!readExactly(file, &value, sizeof value, &got)) {
        logMessage("error %d\n", static_cast<int>(GetLastError()));
        fatalText("Internal Error: readLong");
    }
    return value;
}

char* readString(HANDLE file) {
    int length = readInt(file);
    requirePlausible(length >= 0 && length <= remainingBytes(file), "Internal Error: readString");
    char* value = new char[static_cast<size_t>(length) + 1];
    value[length] = 0;
    DWORD got;
    if (length > 0 && !readExactly(file, value, static_cast<DWORD>(length), &got))
        fatalText("Internal Error: readString");
    return value;
}

wchar_t* readWideString(HANDLE file) {
    int length = readInt(file);
    requirePlausible(length >= 0 && length % 2 == 0 && length <= remainingBytes(file), "Internal Error: readWString");
    wchar_t* value = new wchar_t[static_cast<size_t>(length) / 2 + 1];
    value[length / 2] = 0;
    DWORD got;
    if (length > 0 && !readExactly(file, value, static_cast<DWORD>(length), &got))
        fatalText("Internal Error: readWString");
    return value;
}

void readConfigTables(HANDLE file) {
    // An executable without payload ends right behind its last section: a missing magic, not a
    // short read.
    if (remainingBytes(file) < 4 || static_cast<unsigned>(readInt(file)) != payloadMagic)
        fatalText("Internal Error: magic");
    readInt(file);
    readInt(file);
    readLong(file);

    // Every entry holds at least an identifier and a length.
    for (int i = 0, count = readCount(file, 8); i < count; i++) {
        int id = readInt(file);
        store(narrowTable, id, readString(file));
    }
    for (int i = 0, count = readCount(file, 8); i < count; i++) {
        int id = readInt(file);
        store(wideTable, id, readWideString(file));
    }
}

void readLanguageBlocks(HANDLE file, const char* locale) {
    for (int block = 0, blocks = readCount(file, 8); block < blocks; block++) {
        char* prefix = readString(file);
        bool matches = strncmp(locale, prefix, strlen(prefix)) == 0;
        delete[] prefix;
        for (int i = 0, count = readCount(file, 8); i < count; i++) {
            int id = readInt(file);
            wchar_t* value = readWideString(file);
            if (!matches) {
                delete[] value;
                continue;
            }
            delete[] lookup(wideTable, id);
            wideTable[id] = value;
        }
    }
}

int loadConfig() {
    HANDLE file = openOwnExecutable();
    seekPayload(file);
    readConfigTables(file);
    char locale[9];
    detectLocale(locale);
    storeLocale(locale);
    readLanguageBlocks(file, locale);
    unextractedPosition = filePosition(file);
    CloseHandle(file);

    int applicationType = getConfigInt(107);
    if (applicationType != 1 && applicationType != 5) setErrorDisplayConsole(true);
    return applicationType;
}

void getConfigString(int id, char* buffer, size_t size) {
    const char* value = lookup(narrowTable, id);
    if (!copyBounded(buffer, size, value != nullptr ? value : ""))
        logError("config string %d truncated (%d %d)", id, static_cast<int>(size), static_cast<int>(strlen(value)));
}

void getConfigStringAsWide(int id, wchar_t* buffer, size_t size) {
    if (size == 0) return;
    const char* value = lookup(narrowTable, id);
    size_t i = 0;
    // Each byte becomes the character of the same value; no code-page conversion.
    for (; value != nullptr && value[i] != 0 && i + 1 < size; i++) buffer[i] = static_cast<unsigned char>(value[i]);
    buffer[i] = 0;
}

void getConfigWideString(int id, wchar_t* buffer, size_t size) {
    const wchar_t* value = lookup(wideTable, id);
    copyBounded(buffer, size, value != nullptr ? value : L"");
}

char* getConfigStringCopy(int id) {
    const char* value = lookup(narrowTable, id);
    return _strdup(value != nullptr ? value : "");
}

int getConfigInt(int id) {
    char text[6000];
    getConfigString(id, text, sizeof text);
    long value = strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}
