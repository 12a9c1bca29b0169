#include <jni.h>
#include <jvmti.h>

// Entry point of a dynamically attached agent.
extern "C" JNIEXPORT jint JNICALL Agent_OnAttach(JavaVM*, char*, void*) { return JNI_OK; }
