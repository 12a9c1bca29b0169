// Installing, starting, stopping, querying and removing the launcher's Windows service.
#pragma once

#include <windows.h>

int installService(DWORD startType, bool interactive);
int uninstallService(bool verbose);
int stopService(bool verbose);
int startService();
int queryServiceStatus();
