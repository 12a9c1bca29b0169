// Chained hash table of the agent. Keys and values are pointers the table does not own: destroying
// the table releases its nodes and its bucket array only. The key rule gives hash and equality.
#pragma once

#include "Object.h"

#include <cstdint>

// JVMTI method IDs, ThreadRecord pointers and other addresses: compared by value.
struct PointerKeys {
    using Key = const void*;
    static uint32_t hash(Key key) {
        uint64_t bits = reinterpret_cast<uintptr_t>(key);
        uint32_t h = static_cast<uint32_t>(bits) ^ static_cast<uint32_t>(bits >> 32);
        h ^= (h >> 20) ^ (h >> 12);
        return h ^ (h >> 7) ^ (h >> 4);
    }
    static bool equal(Key a, Key b) { return a == b; }
};

// String objects: their cached hash code and equals.
struct StringKeys {
    using Key = String*;
    static uint32_t hash(Key key) { return static_cast<uint32_t>(key->hashCode()); }
    static bool equal(Key a, Key b) { return a == b || a->equals(b); }
};

template <typename KeyRule, typename Value> class Hashtable {
  public:
    using Key = typename KeyRule::Key;
    struct Node {
        Key key;
        Value* value;
        Node* next;
    };

    static constexpr int32_t defaultSize = 11;

    explicit Hashtable(float loadFactor, int32_t initialSize = defaultSize)
        : buckets(new Node*[initialSize]()), size(initialSize), count(0),
          threshold(static_cast<int32_t>(initialSize * loadFactor)), loadFactor(loadFactor) {}

    ~Hashtable() {
        clear();
        delete[] buckets;
    }

    Hashtable(const Hashtable&) = delete;
    Hashtable& operator=(const Hashtable&) = delete;

    // Returns the value the key had before, or null when the key was new.
    Value* put(Key key, Value* value) {
        if (Node* node = find(key)) {
            Value* old = node->value;
            node->value = value;
            return old;
        }
        if (threshold > 0 && count >= threshold)
            grow();
        Node*& head = buckets[indexOf(key)];
        head = new Node{key, value, head};
        count++;
        return nullptr;
    }

    // The node of a key, for callers that must tell a null value from an absent key.
    Node* find(Key key) const {
        for (Node* node = buckets[indexOf(key)]; node != nullptr; node = node->next)
            if (KeyRule::equal(node->key, key))
                return node;
        return nullptr;
    }

    Value* get(Key key) const {
        Node* node = find(key);
        return node != nullptr ? node->value : nullptr;
    }

    Value* remove(Key key) {
        for (Node** link = &buckets[indexOf(key)]; *link != nullptr; link = &(*link)->next) {
            Node* node = *link;
            if (KeyRule::equal(node->key, key)) {
                *link = node->next;
                Value* value = node->value;
                delete node;
                count--;
                return value;
            }
        }
        return nullptr;
    }

    void clear() {
        clear([](Value*) {});
    }

    // Releases every node, from the last bucket to the first, handing each value to release.
    template <typename Release> void clear(Release release) {
        for (int32_t i = size - 1; i >= 0; i--) {
            Node* node = buckets[i];
            buckets[i] = nullptr;
            while (node != nullptr) {
                Node* next = node->next;
                release(node->value);
                delete node;
                node = next;
            }
        }
        count = 0;
    }

    // Visits every entry: buckets from the last to the first, each chain from its head.
    template <typename Visit> void forEach(Visit visit) const {
        for (int32_t i = size - 1; i >= 0; i--)
            for (Node* node = buckets[i]; node != nullptr; node = node->next)
                visit(node->key, node->value);
    }

    int32_t bucketCount() const { return size; }
    int32_t entryCount() const { return count; }
    int32_t growthThreshold() const { return threshold; }
    int32_t bucketIndex(Key key) const { return indexOf(key); }

  private:
    int32_t indexOf(Key key) const {
        return static_cast<int32_t>(KeyRule::hash(key) % static_cast<uint32_t>(size));
    }

    void grow() {
        Node** old = buckets;
        int32_t oldSize = size;
        size = oldSize * 2 + 1;
        threshold = static_cast<int32_t>(size * loadFactor);
        buckets = new Node*[size]();
        for (int32_t i = oldSize - 1; i >= 0; i--) {
            Node* node = old[i];
            while (node != nullptr) {
                Node* next = node->next;
                Node*& head = buckets[indexOf(node->key)];
                node->next = head;
                head = node;
                node = next;
            }
        }
        delete[] old;
    }

    Node** buckets;
    int32_t size;
    int32_t count;
    int32_t threshold;
    float loadFactor;
};
