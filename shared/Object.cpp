#include "Object.h"

#include <cstdlib>
#include <cstring>

const char* Object::getClassName() const {
    return "Object";
}

bool Object::isInstanceOf(const char* className) const {
    return className != nullptr && std::strcmp(className, getClassName()) == 0;
}

bool Object::equals(Object*) {
    return false;
}

int32_t Object::hashCode() {
    return 0;
}

Object::~Object() {}

const char* String::getClassName() const {
    return "String";
}

bool String::isInstanceOf(const char* className) const {
    return (className != nullptr && std::strcmp(className, "String") == 0) || Object::isInstanceOf(className);
}

bool String::equals(Object* other) {
    // Only another String can be equal; anything else would be read past its end.
    if (other == nullptr || !other->isInstanceOf("String"))
        return false;
    String* that = static_cast<String*>(other);
    return that->length == length && (length == 0 || std::memcmp(that->chars, chars, length) == 0);
}

int32_t String::hashCode() {
    if (hash == 0 && length > 0)
        hash = javaStyleHash(chars, length);
    return hash;
}

int32_t javaStyleHash(const char* bytes, int32_t length) {
    uint32_t h = 0;
    for (int32_t i = 0; i < length; i++)
        h = h * 31 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(bytes[i])));
    return static_cast<int32_t>(h);
}

char* copyString(const char* text) {
    if (text == nullptr)
        return nullptr;
    size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr)
        std::memcpy(copy, text, size);
    return copy;
}
