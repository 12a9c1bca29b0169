#include "ConfigAliases.h"

const std::vector<ConfigAlias>& configAliases() {
    static const std::vector<ConfigAlias> aliases = {
        {"serviceName", 101, "default service name"},
        {"errorLogFileEnabled", 102, "non-zero: use errorLogFile"},
        {"errorLogFile", 103, "error log file of the application, with variables"},
        {"outputLogFileEnabled", 104, "non-zero: use outputLogFile"},
        {"outputLogFile", 105, "output log file of the application"},
        {"mainArgumentFlag", 106, "flag handed to the launcher class's main as \"true\" or \"false\""},
        {"applicationType", 107,
         "1 windowed; 1 and 5 show errors in message boxes; 4 installs with automatic start"},
        {"splashSettingsEnabled", 108, "hand the splash text settings to the Java side"},
        {"classPath", 121, "class path entries"},
        {"mainClass", 122, "main class"},
        {"vmOptions", 123, "VM options"},
        {"applicationArguments", 124, "application arguments"},
        {"jArgumentsAsVmOptions", 125, "command-line arguments beginning with -J become VM options"},
        {"minJavaVersion", 126, "minimum Java version"},
        {"maxJavaVersion", 127, "maximum Java version"},
        {"jvmLocations", 128, "JVM location list"},
        {"allowBetaJava", 130, "allow beta Java runtimes"},
        {"jdkRequired", 131, "a JDK is required"},
        {"workingDirectory", 146, "working directory, with variables, relative to the executable directory"},
        {"serviceDependencies", 149, "service dependencies, comma-separated"},
        {"jvmLibrarySubdirectory", 152, "preferred JVM library subdirectory"},
        {"globalSingleInstance", 158, "single-instance semaphore in the global namespace"},
        {"applicationId", 160, "application id for previous installations"},
        {"splashFlag", 163, "flag handed to the splash settings"},
        {"skipVendorRegistryKeys", 165, "non-zero: the Java vendor registry keys are not searched"},
        {"errorCaption", 1000, "caption of error message boxes"},
        {"noJvmMessage", 1001, "no JVM found (without bit count)"},
        {"damagedJvmInPathMessage", 1002, "the JVM found in the path is damaged"},
        {"badJavaHomeMessage", 1003, "{0} does not point to a working JDK or JRE"},
        {"damagedJvmMessage", 1004, "the JVM found at {0} is damaged"},
        {"jvmStartFailedMessage", 1005, "the JVM could not be started"},
        {"fileNotFoundMessage", 1006, "file or directory {0} not found or empty"},
        {"wrongParameterMessage", 1007, "wrong parameter usage"},
        {"undefinedVariableMessage", 1008, "environment variable {0} has to be defined"},
        {"internalErrorMessage", 1009, "internal error with code {0}"},
        {"mainClassNotFoundMessage", 1010, "main class could not be loaded"},
        {"mainMethodNotFoundMessage", 1011, "main method not found"},
        {"errorText", 1012, "\"Error\""},
        {"okText", 1013, "\"Ok\""},
        {"startupErrorMessage", 1014, "an error occurred while starting up {0}"},
        {"poweruserRequiredMessage", 1015, "no writable temporary directory"},
        {"noJvmBitsMessage", 1016, "no JVM found ({0}-bit)"},
        {"badJavaHome32Message", 1017, "{0} does not point to a working 32-bit JDK or JRE"},
        {"badJavaHome64Message", 1018, "{0} does not point to a working 64-bit JDK or JRE"},
        {"damagedJvm32Message", 1019, "the JVM found at {0} is damaged (32-bit)"},
        {"damagedJvm64Message", 1020, "the JVM found at {0} is damaged (64-bit)"},
        {"flavour", 2001, "launcher flavour letter, \"q\" or \"l\""},
        {"includedFileCount", 2002, "number of included files (set by --file)"},
        {"includedFileNames", 2003, "names of the included files, \";\"-separated (set by --file)"},
        {"installationDirectory", 10003, "installation directory, relative to the executable directory"},
        {"nativeLibraryDirectories", 10004, "native library directories, \";\"-separated, with variables"},
        {"singleInstance", 10005, "single-instance mode"},
        {"activateRunningInstance", 10007, "bring the running instance's windows to the front"},
        {"splashLine1X", 10109, "splash line 1: horizontal position"},
        {"splashLine1Y", 10110, "splash line 1: vertical position"},
        {"splashLine1Text", 10111, "splash line 1: text"},
        {"splashLine1Font", 10112, "splash line 1: font name"},
        {"splashLine1FontSize", 10113, "splash line 1: font size"},
        {"splashLine1Colour", 10114, "splash line 1: colour as red,green,blue"},
        {"splashLine1FontWeight", 10115, "splash line 1: font weight"},
        {"splashLine2X", 10116, "splash line 2: horizontal position"},
        {"splashLine2Y", 10117, "splash line 2: vertical position"},
        {"splashLine2Text", 10118, "splash line 2: text"},
        {"splashLine2Font", 10119, "splash line 2: font name"},
        {"splashLine2FontSize", 10120, "splash line 2: font size"},
        {"splashLine2Colour", 10121, "splash line 2: colour as red,green,blue"},
        {"splashLine2FontWeight", 10122, "splash line 2: font weight"},
        {"splashScreen", 10123, "splash screen switch"},
        {"serviceDescription", 20017, "service description (wide)"},
    };
    return aliases;
}

bool findConfigAlias(const std::string& name, int32_t& id) {
    for (const ConfigAlias& alias : configAliases()) {
        if (name == alias.name) {
            id = alias.id;
            return true;
        }
    }
    return false;
}
