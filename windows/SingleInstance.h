// Single instance control: a named semaphore per running instance of this executable, and in
// single-instance mode the end of a second start, which brings the first instance to the front.
#pragma once

#include <windows.h>

#include <cstddef>

// The semaphore's name, handed to the Java side.
extern char semaphoreName[6000];

// Creates this instance's semaphore. In single-instance mode a second instance ends here with
// exit code 0.
void checkSingleInstance();

// "Global\\" or "Local\\" and the lower-cased full executable path with backslashes and blanks
// replaced by "_".
void makeSemaphoreBaseName(char* buffer, size_t size, const char* executablePath, bool global);

// The process id recorded under HKCU for this executable, 0 when there is none.
DWORD readRunningInstancePid();
void writeRunningInstancePid();

// Restores (when asked) and raises every visible top-level window of the process.
void activateWindowsOfProcess(DWORD processId, bool restore);
