// Timer-driven sampling of the registered threads.
#pragma once

#include <cstdint>
#include <jni.h>
#include <jvmti.h>

class Sampler {
  public:
    Sampler(int32_t periodMillis, int32_t cycleLength) : period(periodMillis), cycleLength(cycleLength) {}

    int32_t tickCounter = 0;
    int32_t period;
    int32_t cycleLength;
    void* threadTable = nullptr; // ThreadRecord -> SamplingState, only while a recording samples
};

void JNICALL onThreadStart(jvmtiEnv* jvmti, JNIEnv* env, jthread thread);
