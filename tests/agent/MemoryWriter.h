// A DataWriter into memory for tests: keeps every byte handed to write and the size of each call.
#pragma once

#include "DataWriter.h"

#include <cstdint>
#include <vector>

class MemoryWriter : public DataWriter {
  public:
    using Bytes = std::vector<uint8_t>;

    int32_t write(const void* data, int32_t count) override {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + count);
        calls.push_back(count);
        return count;
    }
    Bytes written() {
        flush();
        return bytes;
    }
    Bytes bytes;
    std::vector<int32_t> calls;
};
