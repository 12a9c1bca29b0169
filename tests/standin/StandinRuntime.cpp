// The stand-in runtime's companion DLL, kept in the runtime's bin directory like a real runtime's C
// runtime DLL: jvm.dll imports it, so jvm.dll loads only when that directory is on PATH.
#include <windows.h>

extern "C" __declspec(dllexport) int standinRuntimeVersion() { return 1; }
