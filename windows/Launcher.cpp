#include "Launcher.h"

#include "Bounded.h"
#include "Config.h"
#include "JavaVMLauncher.h"
#include "Log.h"
#include "Paths.h"
#include "ServiceCommands.h"
#include "ServiceRuntime.h"
#include "SingleInstance.h"

#include <cstring>
#include <cwchar>
#include <string>

char serviceName[6000];
bool isService;
bool noRedir;
bool interactive;
char launcherFlavour;

namespace {

const wchar_t restartMarker[] = L"__qvx_restart";

void appendArgument(ArgumentList& arguments, const wchar_t* begin, size_t length) {
    wchar_t* argument = new wchar_t[length + 1];
    wmemcpy(argument, begin, length);
    argument[length] = 0;
    arguments.push_back(argument);
}

bool isOneOf(const wchar_t* argument, const wchar_t* slash, const wchar_t* dash, const wchar_t* dashes) {
    return wcscmp(argument, slash) == 0 || wcscmp(argument, dash) == 0 || wcscmp(argument, dashes) == 0;
}

// Splits the verb off the narrow command tail: "/verb", "-verb" or "--verb", then "non-interactive"
// (only directly behind the verb or behind an earlier "non-interactive"), then a service name that
// takes all the rest of the line. Returns the verb, or nullptr when the tail has no verb prefix.
const char* parseServiceVerb(char* tail) {
    if (tail[0] != '/' && tail[0] != '-') return nullptr;
    char* verb = tail + 1;
    if (*verb == '-') verb++;
    interactive = true;
    char* blank = strchr(verb, ' ');
    while (blank != nullptr && strlen(blank) >= 2) {
        if (strncmp(blank + 1, "non-interactive", 15) == 0) {
            *blank = 0;
            interactive = false;
            blank += 16;
            continue;
        }
        copyBounded(serviceName, blank + 1);
        *blank = 0;
        break;
    }
    return verb;
}

// Runs a service command; returns false when `verb` is none.
bool runServiceVerb(const char* verb, int* exitCode) {
    DWORD defaultStart = getConfigInt(107) == 4 ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
    if (strcmp(verb, "install") == 0) {
        *exitCode = installService(defaultStart, interactive);
    } else if (strcmp(verb, "install-and-start") == 0) {
        installService(defaultStart, interactive);
        *exitCode = startService();
    } else if (strcmp(verb, "install-auto") == 0) {
        *exitCode = installService(SERVICE_AUTO_START, interactive);
    } else if (strcmp(verb, "install-demand") == 0) {
        *exitCode = installService(SERVICE_DEMAND_START, interactive);
    } else if (strcmp(verb, "uninstall") == 0) {
        *exitCode = uninstallService(true);
    } else if (strcmp(verb, "stop") == 0) {
        *exitCode = stopService(true);
    } else if (strcmp(verb, "start") == 0) {
        *exitCode = startService();
    } else if (strcmp(verb, "status") == 0) {
        *exitCode = queryServiceStatus();
    } else {
        return false;
    }
    return true;
}

int runServiceDispatcher() {
    SERVICE_TABLE_ENTRYA table[] = {{serviceName, serviceMain}, {nullptr, nullptr}};
    logMessage("calling StartServiceCtrlDispatcher");
    if (!StartServiceCtrlDispatcherA(table))
        logMessage("StartServiceCtrlDispatcher failed with error %d", static_cast<int>(GetLastError()));
    logMessage("StartServiceCtrlDispatcher returned");
    return 0;
}

} // namespace

int launcherMain(HINSTANCE, char* commandTail) {
    isService = true;
    initLauncher();
    getConfigString(101, serviceName, sizeof serviceName);

    if (const char* verb = parseServiceVerb(commandTail)) {
        int exitCode = 0;
        if (runServiceVerb(verb, &exitCode)) return exitCode;
    }

    const wchar_t* commandLine = GetCommandLineW();
    logMessage("command line2 %S", commandLine);
    ArgumentList arguments;
    splitCommandLine(commandLine, arguments);
    if (!arguments.empty()) arguments.erase(arguments.begin());

    if (!arguments.empty() && wcscmp(arguments.back(), restartMarker) == 0) {
        arguments.pop_back();
        runApplication(arguments, true);
        return 0;
    }
    if (!arguments.empty() && isOneOf(arguments[0], L"/run", L"-run", L"--run")) {
        logMessage("running service");
        noRedir = true;
    } else if (!arguments.empty() && isOneOf(arguments[0], L"/run-redirect", L"-run-redirect", L"--run-redirect")) {
        logMessage("running service with redirection");
    } else {
        return runServiceDispatcher();
    }
    isService = false;
    arguments.erase(arguments.begin());
    runApplication(arguments, false);
    return 0;
}

void initLauncher() {
    launcherTempDirectory[0] = 0;
    loadConfig();
    char flavour[2];
    getConfigString(2001, flavour, sizeof flavour);
    launcherFlavour = flavour[0];

    wchar_t workingDirectory[6000];
    getConfigStringAsWide(146, workingDirectory, 6000);
    if (workingDirectory[0] == 0) {
        logMessage("working directory unchanged");
        return;
    }
    expandVariables(workingDirectory, 6000, true);
    wchar_t fullPath[6000];
    makeFullPath(fullPath, 6000, workingDirectory, true, true);
    SetCurrentDirectoryW(fullPath);
    logMessage("change working directory to %S", fullPath);
}

void runApplication(ArgumentList& arguments, bool registerConsoleHandler) {
    logMessage("run application (service %d, %d arguments)", isService ? 1 : 0, static_cast<int>(arguments.size()));
    for (size_t i = 0; i < arguments.size(); i++) logMessage("argument %d: %S", static_cast<int>(i), arguments[i]);
    if (extractIncludedFiles(true) != 0) fatalMessage(1009, "16");
    setNativeLibraryPath();
    if (registerConsoleHandler) {
        logMessage("registering ConsoleCtrlHandler");
        SetConsoleCtrlHandler(consoleControlHandler, TRUE);
    }
    checkSingleInstance();
    // The search for a Java runtime and the launch itself are not built yet.
    logError("running the Java application is not implemented");
    fatalText("This launcher cannot run Java applications yet.");
}

void splitCommandLine(const wchar_t* commandLine, ArgumentList& arguments) {
    const wchar_t* p = commandLine;
    while (*p != 0) {
        const wchar_t* doubleQuote = wcschr(p, L'"');
        const wchar_t* singleQuote = wcschr(p, L'\'');
        const wchar_t* blank = wcschr(p, L' ');
        if (blank == p) {
            p++;
            continue;
        }
        if (blank != nullptr && (doubleQuote == nullptr || blank < doubleQuote) &&
            (singleQuote == nullptr || blank < singleQuote)) {
            appendArgument(arguments, p, static_cast<size_t>(blank - p));
            p = blank + 1;
            continue;
        }
        if (doubleQuote == nullptr && singleQuote == nullptr) {
            appendArgument(arguments, p, wcslen(p));
            return;
        }
        const wchar_t* quote = doubleQuote == nullptr   ? singleQuote
                               : singleQuote == nullptr ? doubleQuote
                               : doubleQuote < singleQuote ? doubleQuote
                                                           : singleQuote;
        p = readQuotedArgument(arguments, quote, p, *quote);
    }
}

const wchar_t* readQuotedArgument(ArgumentList& arguments, const wchar_t* openingQuote, const wchar_t* start,
                                  wchar_t quote) {
    const wchar_t* closing = wcschr(openingQuote + 1, quote);
    if (closing == nullptr) closing = openingQuote + wcslen(openingQuote);
    std::wstring argument(start, openingQuote);
    argument.append(openingQuote + 1, closing);
    appendArgument(arguments, argument.c_str(), argument.size());
    if (*closing == 0) return closing;
    return closing[1] == L' ' ? closing + 2 : closing + 1;
}
