// The agent's small class library: a root class with a virtual class name, equality and hash code,
// and a string that can serve as a hash key.
#pragma once

#include <cstdint>

// Base of every agent object; it carries nothing.
class PoolMember {};

class Object : public PoolMember {
  public:
    virtual const char* getClassName() const;
    virtual bool isInstanceOf(const char* className) const;
    virtual bool equals(Object* other);
    virtual int32_t hashCode();
    virtual ~Object();
};

// A byte string that does not own its characters: the creator decides their lifetime.
class String : public Object {
  public:
    String(const char* chars, int32_t length) : chars(chars), length(length) {}

    const char* getClassName() const override;
    bool isInstanceOf(const char* className) const override;
    bool equals(Object* other) override;
    int32_t hashCode() override;

    const char* characters() const { return chars; }
    int32_t byteLength() const { return length; }

  private:
    const char* chars;
    int32_t length;
    int32_t hash = 0;
};

// Java's String.hashCode over bytes taken as signed 8-bit values.
int32_t javaStyleHash(const char* bytes, int32_t length);

// A copy of a NUL-terminated string on the heap (released with free); null stays null.
char* copyString(const char* text);
