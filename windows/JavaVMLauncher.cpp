#include "JavaVMLauncher.h"

#include "Bounded.h"
#include "Format.h"
#include "Log.h"
#include "Paths.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

const size_t pathSize = 6000;
// Holds the text behind a match while the value is written over it.
const size_t scratchSize = 24000;

char jvmHome[pathSize];

enum class Variable {
    executableDirectory,
    launcherTempDirectory,
    pathListSeparator,
    jvmHome,
    systemTempDirectory
};

struct TokenRow {
    Variable variable;
    const char* tokens[2];
};

// Applied in this order, each row's tokens left to right; environment variables come last.
const TokenRow tokenRows[] = {
    {Variable::executableDirectory, {"%LANYX_EXEDIR%", "%QUORVEX_EXEDIR%"}},
    {Variable::launcherTempDirectory, {"%LANYX_TEMPDIR%", "%QUORVEX_TEMPDIR%"}},
    {Variable::pathListSeparator, {"%LANYX_PATHLIST_SEPARATOR%", "%QUORVEX_PATHLIST_SEPARATOR%"}},
    {Variable::jvmHome, {"%LANYX_JVM_HOME%", "%QUORVEX_JVM_HOME%"}},
    {Variable::executableDirectory, {"${LANYX_EXEDIR}", "${QUORVEX_EXEDIR}"}},
    {Variable::launcherTempDirectory, {"${LANYX_TEMPDIR}", "${QUORVEX_TEMPDIR}"}},
    {Variable::pathListSeparator, {"${LANYX_PATHLIST_SEPARATOR}", "${QUORVEX_PATHLIST_SEPARATOR}"}},
    {Variable::jvmHome, {"${LANYX_JVM_HOME}", "${QUORVEX_JVM_HOME}"}},
    {Variable::executableDirectory, {"${launcher:sys.launcherDirectory}", nullptr}},
    {Variable::launcherTempDirectory, {"${launcher:sys.launcherTempDirectory}", nullptr}},
    {Variable::pathListSeparator, {"${launcher:sys.pathlistSeparator}", nullptr}},
    {Variable::jvmHome, {"${launcher:sys.jvmHome}", nullptr}},
    {Variable::systemTempDirectory, {"${launcher:sys.tempDir}", nullptr}},
};

// Each byte becomes the character of the same value, with no code-page conversion.
std::wstring widenBytes(const char* text) {
    std::wstring wide;
    for (; *text != 0; text++)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return wide;
}

template <typename Char> std::basic_string<Char> asText(const char* ascii) {
    return std::basic_string<Char>(ascii, ascii + strlen(ascii));
}
std::basic_string<wchar_t> valueText(const wchar_t* value, wchar_t) {
    return value;
}
std::basic_string<wchar_t> valueText(const char* value, wchar_t) {
    return widenBytes(value);
}
std::basic_string<char> valueText(const char* value, char) {
    return value;
}

void logExpansion(const wchar_t* token, const wchar_t* value, const wchar_t* text) {
    logMessage("expanding2 %S to %S in %S.", token, value, text);
}
void logExpansion(const wchar_t* token, const char* value, const wchar_t* text) {
    logMessage("expanding2 %S to %s in %S.", token, value, text);
}
void logExpansion(const char* token, const char* value, const char* text) {
    logMessage("expanding2 %s to %s in %s.", token, value, text);
}

template <typename Char, typename ValueChar>
void replaceAll(Char* text, size_t size, const Char* token, const ValueChar* value) {
    typedef std::char_traits<Char> Traits;
    size_t tokenLength = Traits::length(token);
    if (tokenLength == 0 || size == 0)
        return;
    std::basic_string<Char> inserted = valueText(value, Char());
    static Char scratch[scratchSize];
    for (size_t from = 0;;) {
        Char* match = std::search(text + from, text + Traits::length(text), token, token + tokenLength);
        if (*match == 0)
            return;
        copyBounded(scratch, scratchSize, match + tokenLength);
        *match = 0;
        bool valueFitted = appendBounded(text, size, inserted.c_str());
        from = Traits::length(text);
        appendBounded(text, size, scratch);
        logExpansion(token, value, text);
        // A value cut at the end of the buffer left nothing behind it to search.
        if (!valueFitted)
            return;
    }
}

std::string narrowTempDirectory() {
    char directory[pathSize];
    getTempDirectory(directory, pathSize);
    return directory;
}

std::wstring wideTempDirectory(bool ansiSafe) {
    if (ansiSafe)
        return widenBytes(narrowTempDirectory().c_str());
    wchar_t directory[pathSize];
    getTempDirectoryWide(directory, pathSize);
    return directory;
}

// Replaces ${NAME} by each environment variable's value, then the same token upper-cased. Names
// begin behind the first character, so the drives' hidden "=C:" entries keep their whole name.
template <typename Char> void expandEnvironment(Char* text, size_t size, const Char* environment) {
    for (const Char* entry = environment; *entry != 0; entry += std::char_traits<Char>::length(entry) + 1) {
        std::basic_string<Char> variable(entry);
        size_t equals = variable.find(Char('='), 1);
        if (equals == std::basic_string<Char>::npos)
            continue;
        std::basic_string<Char> token = asText<Char>("${") + variable.substr(0, equals) + Char('}');
        if (token.size() >= pathSize)
            continue;
        std::basic_string<Char> value = variable.substr(equals + 1);
        replaceAll(text, size, token.c_str(), value.c_str());
        std::basic_string<Char> upper = token;
        for (Char& c : upper)
            if (c >= 'a' && c <= 'z')
                c = static_cast<Char>(c - 'a' + 'A');
        if (upper != token)
            replaceAll(text, size, upper.c_str(), value.c_str());
    }
}

} // namespace

void replaceVariable(wchar_t* text, size_t size, const wchar_t* token, const wchar_t* value) {
    replaceAll(text, size, token, value);
}
void replaceVariable(wchar_t* text, size_t size, const wchar_t* token, const char* value) {
    replaceAll(text, size, token, value);
}
void replaceVariable(char* text, size_t size, const char* token, const char* value) {
    replaceAll(text, size, token, value);
}

void expandVariables(wchar_t* text, size_t size, bool ansiSafe) {
    const std::wstring executableDirectory = getExecutableDirectoryWide(ansiSafe);
    const std::wstring systemTempDirectory = wideTempDirectory(ansiSafe);
    for (const TokenRow& row : tokenRows) {
        for (const char* name : row.tokens) {
            if (name == nullptr)
                continue;
            std::wstring token = asText<wchar_t>(name);
            switch (row.variable) {
            case Variable::executableDirectory:
                replaceVariable(text, size, token.c_str(), executableDirectory.c_str());
                break;
            case Variable::launcherTempDirectory:
                replaceVariable(text, size, token.c_str(), launcherTempDirectory);
                break;
            case Variable::pathListSeparator:
                replaceVariable(text, size, token.c_str(), L";");
                break;
            case Variable::jvmHome:
                replaceVariable(text, size, token.c_str(), jvmHome);
                break;
            case Variable::systemTempDirectory:
                replaceVariable(text, size, token.c_str(), systemTempDirectory.c_str());
                break;
            }
        }
    }
    wchar_t* environment = GetEnvironmentStringsW();
    if (environment == nullptr)
        return;
    expandEnvironment(text, size, static_cast<const wchar_t*>(environment));
    FreeEnvironmentStringsW(environment);
}

void expandVariablesNarrow(char* text, size_t size) {
    const std::string systemTempDirectory = narrowTempDirectory();
    for (const TokenRow& row : tokenRows) {
        const char* value = "";
        switch (row.variable) {
        case Variable::executableDirectory:
            value = getExecutableDirectory();
            break;
        case Variable::launcherTempDirectory:
            value = launcherTempDirectory;
            break;
        case Variable::pathListSeparator:
            value = ";";
            break;
        case Variable::jvmHome:
            value = jvmHome;
            break;
        case Variable::systemTempDirectory:
            value = systemTempDirectory.c_str();
            break;
        }
        for (const char* token : row.tokens)
            if (token != nullptr)
                replaceVariable(text, size, token, value);
    }
    char* environment = GetEnvironmentStringsA();
    if (environment == nullptr)
        return;
    expandEnvironment(text, size, static_cast<const char*>(environment));
    FreeEnvironmentStringsA(environment);
}

void setJvmHome(const char* javaExecutable) {
    std::string home = javaExecutable;
    const std::string windowed = "javaw.exe";
    if (home.size() >= windowed.size() &&
        home.compare(home.size() - windowed.size(), windowed.size(), windowed) == 0)
        home.resize(home.size() - windowed.size());
    else
        home.resize(home.size() >= 8 ? home.size() - 8 : 0);
    home += "..";
    copyBounded(jvmHome, home.c_str());
}

const char* getJvmHome() {
    return jvmHome;
}
