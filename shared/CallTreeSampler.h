// Call trees built from stack samples.
#pragma once

#include <jvmti.h>

// The line numbers of one method, as JVMTI gives them.
struct LineTable {
    jint count;
    jvmtiLineNumberEntry* entries;
};
