#include "ServiceRuntime.h"

#include "Log.h"

// The service host is not built yet: a start by the Service Control Manager fails visibly.
void WINAPI serviceMain(DWORD, char**) {
    logError("the service host is not implemented");
    exitLauncher(1);
}

BOOL WINAPI consoleControlHandler(DWORD) { return FALSE; }
