// Linked into GoogleTest for 32-bit Windows test programs. Where Wine's 32-bit loader runs under
// qemu's user-mode emulator, Wine cannot deliver structured exceptions; OutputDebugStringA works by
// raising one, and GoogleTest calls it for every failed assertion, so a failing test would crash
// instead of reporting. Test programs do not need debugger output: this import does nothing.
#include <windows.h>

namespace {
void WINAPI ignoreDebugString(LPCSTR) {}
} // namespace

extern "C" void(WINAPI* importedOutputDebugStringA)(LPCSTR) __asm__("__imp__OutputDebugStringA@4");
void(WINAPI* importedOutputDebugStringA)(LPCSTR) = ignoreDebugString;
