// The service host: the entry point the Service Control Manager calls, and the worker it supervises.
#pragma once

#include <windows.h>

void WINAPI serviceMain(DWORD argumentCount, char** arguments);
BOOL WINAPI consoleControlHandler(DWORD event);
