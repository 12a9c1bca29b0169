// Copies into the launcher's fixed-size buffers. Every copy into such a buffer goes through these:
// the result is always terminated and never longer than the buffer.
#pragma once
#include <cstddef>
#include <cwchar>

// Copies at most size - 1 characters of source; returns true when source fitted whole.
template <typename Char> bool copyBounded(Char* buffer, size_t size, const Char* source) {
    if (size == 0) return false;
    size_t i = 0;
    for (; source[i] != 0 && i + 1 < size; i++) buffer[i] = source[i];
    buffer[i] = 0;
    return source[i] == 0;
}

// Appends as much of source as fits; returns true when source fitted whole.
template <typename Char> bool appendBounded(Char* buffer, size_t size, const Char* source) {
    size_t used = 0;
    while (used < size && buffer[used] != 0) used++;
    if (used >= size) return false;
    return copyBounded(buffer + used, size - used, source);
}

template <typename Char, size_t N> bool copyBounded(Char (&buffer)[N], const Char* source) {
    return copyBounded(buffer, N, source);
}
template <typename Char, size_t N> bool appendBounded(Char (&buffer)[N], const Char* source) {
    return appendBounded(buffer, N, source);
}
