// The launcher's entry: the choice of role from the command line, start-up, and the run driver.
#pragma once

#include <windows.h>

#include <vector>

typedef std::vector<wchar_t*> ArgumentList;

extern char serviceName[6000];
extern bool isService;
extern bool noRedir;
extern bool interactive;
extern char launcherFlavour;

int launcherMain(HINSTANCE instance, char* commandTail);
void initLauncher();
// Runs the Java application in this process; returns when it has finished normally.
void runApplication(ArgumentList& arguments, bool registerConsoleHandler);

// Splits at blanks; double and single quotes group; there is no escape character.
void splitCommandLine(const wchar_t* commandLine, ArgumentList& arguments);
const wchar_t* readQuotedArgument(ArgumentList& arguments, const wchar_t* openingQuote, const wchar_t* start,
                                  wchar_t quote);
