// Thread-safe hash multimap from 32-bit key hashes to pointer-sized values,
// with optional duplicate keys, automatic resizing and two value callbacks.
//
// The by-hash operations take the hash as the key: two keys with equal hashes
// count as one there. The string, wide-string and pointer wrappers keep a copy
// of their key in the node and compare it, so keys whose hashes collide stay
// apart through the wrappers. A by-hash operation sees every node of its hash,
// whichever way it was inserted.
//
// Every operation holds the table's own recursive lock for its whole run,
// callbacks included, so callbacks may use the same table again.
#ifndef QVK_SUPPORT_HASHTABLE_H
#define QVK_SUPPORT_HASHTABLE_H

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <vector>

#include "wemu.h"

class HashTable {
public:
    typedef void (*ValueCallback)(void* value);
    typedef int (*Visitor)(void* userData, void* value);

    // Unique keys, 8 buckets, no callbacks.
    HashTable();
    // TableInit with the given mode and bucket count.
    HashTable(int duplicateMode, int bucketCount);
    ~HashTable();
    HashTable(const HashTable&) = delete;
    HashTable& operator=(const HashTable&) = delete;

    // Empties the table (running the on-remove callback on each value) and
    // starts again with the given mode and bucket count (a power of two).
    void TableInit(int duplicateMode, int bucketCount);
    HashTable* SetCallbacks(ValueCallback onAccess, ValueCallback onRemove);

    // Hash functions: FNV-1, each byte taken as a signed 8-bit value.
    static std::uint32_t HashString(const char* text);
    static std::uint32_t HashWideString(const wchar_t* text);
    static std::uint32_t HashBytes(std::uint32_t seed, const void* data, std::size_t length);
    static std::uint32_t HashData(std::uint32_t seed, const void* data, std::size_t length);
    static std::uint32_t HashPointer(const void* pointer);
    static std::uint32_t ScrambleHash(std::uint32_t hash);
    std::uint32_t BucketOf(std::uint32_t hash) const;

    // By hash.
    int InsertByHash(std::uint32_t hash, void* value);
    int InsertIfAbsentByHash(std::uint32_t hash, void* value, int* existed);
    int FindByHash(std::uint32_t hash, int n, void** value);
    int ContainsHash(std::uint32_t hash);
    int FindPairByHash(std::uint32_t hash, void* value);
    int HasPairByHash(std::uint32_t hash, void* value);
    int RemoveByHash(std::uint32_t hash);
    int RemovePairByHash(std::uint32_t hash, void* value);

    // String keys.
    int FindByString(const char* key, int n, void** value);
    int ContainsString(const char* key);
    int InsertIfAbsentByString(const char* key, void* value, int* existed);
    int InsertByString(const char* key, void* value);
    int RemoveByString(const char* key);
    int RemovePairByString(const char* key, void* value);
    int FindPairByString(const char* key, void* value);
    int HasPairByString(const char* key, void* value);

    // Wide-string keys.
    int FindByWideString(const wchar_t* key, int n, void** value);
    int ContainsWideString(const wchar_t* key);
    int InsertIfAbsentByWideString(const wchar_t* key, void* value, int* existed);
    int InsertByWideString(const wchar_t* key, void* value);
    int RemovePairByWideString(const wchar_t* key, void* value);
    int FindPairByWideString(const wchar_t* key, void* value);
    int HasPairByWideString(const wchar_t* key, void* value);

    // Pointer keys, and forms whose value is the pointer itself.
    int FindByPointer(const void* key, int n, void** value);
    int HasPairByPointer(const void* key, void* value);
    int InsertByPointer(const void* key, void* value);
    int RemovePairByPointer(const void* key, void* value);
    int InsertPointer(void* pointer);
    int InsertIfAbsentPointer(void* pointer, int* existed);
    int FindPairPointer(void* pointer);
    int HasPairPointer(void* pointer);
    int RemovePairPointer(void* pointer);

    // keepBuckets nonzero: a fresh array of the initial bucket count follows.
    void Clear(int keepBuckets);
    void RemoveAll();
    int Count() const;
    // Visits in list order; stops and returns 0 at the first visitor result 0.
    // The visitor may remove any node, including the next one. Resizing waits
    // until the outermost visit ends, so that the list keeps its order.
    int ForEach(Visitor visitor, void* userData);
    void Lock();
    void Unlock();
    void ReleaseValue(void* value);

    int BucketCount() const { return bucketCount_; }

private:
    struct ListLink {
        ListLink* next;
        ListLink* prev;
    };
    struct Node : ListLink {
        std::uint32_t hash;
        void* value;
        int keyKind;                    // 0: inserted by hash
        std::vector<std::uint8_t> key;  // the real key of a wrapper insert
    };
    struct Bucket {
        Node* first;  // null when empty
        Node* last;
    };
    struct Key {
        int kind;
        const std::uint8_t* bytes;
        std::size_t length;
    };
    struct Cursor {
        ListLink* next;
        Cursor* outer;
    };
    class Guard;

    static Key StringKey(const char* key);
    static Key WideStringKey(const wchar_t* key);
    static Key PointerKey(const void* const* key);
    static bool Matches(const Node* node, std::uint32_t hash, const Key* key);

    void InitBuckets(int count);
    Node* MostRecent(std::uint32_t hash, const Key* key, int n);
    Node* MostRecentPair(std::uint32_t hash, const Key* key, void* value);
    Node* LinkNode(Node* node, const Key* key, bool relink);
    void Unlink(Node* node);
    void ResizeCheck();
    void Rehash(int newCount);

    int Insert(std::uint32_t hash, const Key* key, void* value);
    int InsertIfAbsent(std::uint32_t hash, const Key* key, void* value, int* existed);
    int Find(std::uint32_t hash, const Key* key, int n, void** value);
    int FindPair(std::uint32_t hash, const Key* key, void* value, bool callback);
    int Remove(std::uint32_t hash, const Key* key);
    int RemovePair(std::uint32_t hash, const Key* key, void* value);

    ListLink head_;
    Bucket* buckets_;
    int initialBucketCount_;
    int bucketCount_;
    int count_;
    float growLoad_;
    float shrinkLoad_;
    int duplicateMode_;
    ValueCallback onAccess_;
    ValueCallback onRemove_;
    CRITICAL_SECTION lock_;
    Cursor* cursors_;
    bool resizePending_;
};

#endif
