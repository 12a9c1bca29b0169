// Finds where a launcher's payload belongs in a Windows executable: directly behind the raw data
// of the last section header, which is where the launcher looks for it.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

// Walks the DOS and PE headers of the fileSize bytes of `image` and sets payloadOffset to
// PointerToRawData + SizeOfRawData of the last section header. Returns false with a message when
// the file is not a PE image or its headers are cut short.
bool findPayloadOffset(std::istream& image, uint64_t fileSize, uint64_t& payloadOffset, std::string& error);
