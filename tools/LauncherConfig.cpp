// launcher-config: writes and reads the configuration payload of a launcher executable.
#include "ConfigAliases.h"
#include "LauncherBuild.h"
#include "LauncherDump.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

const int exitError = 1;
const int exitUsage = 2;

const char* const toolUsage = "usage: launcher-config (build | dump | aliases) [OPTIONS]  (see --help)\n";
const char* const buildUsage =
    "usage: launcher-config build --stub STUB.exe --config CONFIG.json --out APP.exe [--file NAME=PATH]...\n";
const char* const dumpUsage = "usage: launcher-config dump APP.exe\n";
const char* const aliasesUsage = "usage: launcher-config aliases\n";

const char* const toolHelp = R"help(launcher-config writes and reads the configuration payload of a launcher.

Commands:
  build    copy a launcher stub and write the payload and the included files behind it
  dump     print the payload of a launcher as configuration JSON, then its included files
  aliases  list the readable names accepted for identifiers in configuration JSON

"launcher-config COMMAND --help" describes a command.
Exit codes: 0 success, 1 error (bad input, damaged file), 2 wrong usage.
)help";

const char* const buildHelp = R"help(
Copies STUB.exe to APP.exe and writes the payload directly behind the raw data of its last section,
followed by the included files in the order given. STUB.exe is never changed. APP.exe is written to
a temporary file beside it and renamed into place; missing directories are created.

A stub that carries data behind the raw data of its last section (a COFF symbol table, a signature,
an earlier payload) is refused: the launcher would not find a payload behind that data. Strip such a
stub first, for example with i686-w64-mingw32-strip.

Options:
  --stub STUB.exe       the launcher without payload
  --config CONFIG.json  the configuration, see below
  --out APP.exe         the launcher to write
  --file NAME=PATH      include the file PATH; the launcher extracts it as NAME into its temporary
                        directory. NAME is relative, with at most one directory level separated by
                        a backslash (lib\native.dll). Repeat for more files. Any --file sets ids
                        2002 (the number of files) and 2003 (their names, ";"-separated) and wins
                        over values that CONFIG.json gives them; without --file, CONFIG.json's
                        values are kept.

CONFIG.json:
  {"narrow": {"101": "Demo service", "mainClass": "com.example.Main"},
   "wide": {"20017": ""},
   "languages": [{"prefix": "de", "entries": {"1000": "Fehler"}}]}
  Keys are decimal identifiers (signed 32-bit) or the aliases that "launcher-config aliases"
  lists; a key may name an identifier only once per table. Values are strings. Narrow values and
  language prefixes are stored in Windows-1252, wide values and language entries as UTF-16LE.
  Each of the three members may be left out.
)help";

const char* const dumpHelp = R"help(
Prints the payload of APP.exe: first the configuration as JSON (numeric keys in numeric order),
which "launcher-config build --config" accepts as it stands, then a line "included files: N"
and one line "  NAME (SIZE bytes)" per included file. Data behind the included files is reported
on a last line. A file without a payload, or with a damaged one, gives an error naming the offset.
)help";

const char* const aliasesHelp = R"help(
Lists the aliases accepted as keys in configuration JSON: alias, identifier, meaning.
)help";

bool isHelp(const std::string& arg) {
    return arg == "-h" || arg == "--help";
}

int usageError(const char* usage, const std::string& problem) {
    std::cerr << "launcher-config: " << problem << "\n" << usage;
    return exitUsage;
}

int fail(const std::string& error) {
    std::cerr << "launcher-config: " << error << "\n";
    return exitError;
}

// Accepts "--name VALUE" and "--name=VALUE"; returns false when `arg` is not that option.
bool optionValue(const std::vector<std::string>& args, size_t& i, const std::string& name, std::string& value,
                 std::string& problem) {
    const std::string& arg = args[i];
    if (arg.compare(0, name.size() + 1, name + "=") == 0) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    if (arg != name)
        return false;
    if (i + 1 == args.size())
        problem = name + " needs a value";
    else
        value = args[++i];
    return true;
}

int runBuild(const std::vector<std::string>& args) {
    BuildRequest request;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string value;
        std::string problem;
        if (isHelp(args[i])) {
            std::cout << buildUsage << buildHelp;
            return 0;
        }
        std::string* single = nullptr;
        if (optionValue(args, i, "--stub", value, problem))
            single = &request.stubPath;
        else if (optionValue(args, i, "--config", value, problem))
            single = &request.configPath;
        else if (optionValue(args, i, "--out", value, problem))
            single = &request.outPath;
        else if (optionValue(args, i, "--file", value, problem))
            request.fileOptions.push_back(value);
        else
            return usageError(buildUsage, "unexpected argument \"" + args[i] + "\"");
        if (!problem.empty())
            return usageError(buildUsage, problem);
        if (single && !single->empty())
            return usageError(buildUsage, args[i] + " is given twice");
        if (single && value.empty())
            return usageError(buildUsage, "an option has an empty value");
        if (single)
            *single = value;
    }
    if (request.stubPath.empty() || request.configPath.empty() || request.outPath.empty())
        return usageError(buildUsage, "--stub, --config and --out are required");
    std::vector<std::string> warnings;
    std::string error;
    bool ok = buildLauncher(request, warnings, error);
    for (const std::string& warning : warnings)
        std::cerr << "launcher-config: warning: " << warning << "\n";
    return ok ? 0 : fail(error);
}

int runDump(const std::vector<std::string>& args) {
    if (args.size() == 1 && isHelp(args[0])) {
        std::cout << dumpUsage << dumpHelp;
        return 0;
    }
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-')
        return usageError(dumpUsage, "dump takes exactly one file");
    std::string error;
    return dumpLauncher(args[0], std::cout, error) ? 0 : fail(error);
}

int runAliases(const std::vector<std::string>& args) {
    if (args.size() == 1 && isHelp(args[0])) {
        std::cout << aliasesUsage << aliasesHelp;
        return 0;
    }
    if (!args.empty())
        return usageError(aliasesUsage, "aliases takes no arguments");
    for (const ConfigAlias& alias : configAliases())
        std::printf("%-26s %6d  %s\n", alias.name, alias.id, alias.meaning);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return usageError(toolUsage, "no command given");
    std::string command = args[0];
    args.erase(args.begin());
    if (isHelp(command)) {
        std::cout << buildUsage << dumpUsage << aliasesUsage << "\n" << toolHelp;
        return 0;
    }
    if (command == "build")
        return runBuild(args);
    if (command == "dump")
        return runDump(args);
    if (command == "aliases")
        return runAliases(args);
    return usageError(toolUsage, "unknown command \"" + command + "\"");
}
