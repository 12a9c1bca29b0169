#include "ServiceCommands.h"

#include "Launcher.h"
#include "Log.h"

// The service commands are not built yet; each says so and fails rather than pretend to succeed.
namespace {
[[noreturn]] void unavailable(const char* command) {
    logError("service command %s for service '%s' (interactive %d) is not implemented", command, serviceName,
             interactive ? 1 : 0);
    fatalText("This launcher cannot control Windows services yet.");
}
} // namespace

int installService(DWORD, bool) { unavailable("install"); }
int uninstallService(bool) { unavailable("uninstall"); }
int stopService(bool) { unavailable("stop"); }
int startService() { unavailable("start"); }
int queryServiceStatus() { unavailable("status"); }
