// A recording: sample the application's threads for a while, then write the snapshot file.
#pragma once

#include <cstdint>
#include <jni.h>

class DataWriter;

constexpr int32_t snapshotMagic = static_cast<int32_t>(0xCAFED00D);
constexpr int32_t snapshotFormatVersion = 10001;
constexpr int snapshotSectionCount = 7;

// Writes the whole snapshot file; true when every byte was written and the section table filled in.
bool writeSnapshot(const char16_t* path, JNIEnv* env);
// The thread section body: every registered thread with its history and call tree.
void writeThreadSection(DataWriter& writer);
