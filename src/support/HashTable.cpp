#include "support/HashTable.h"

#include <cstring>
#include <new>

namespace {
constexpr std::uint32_t kFnvOffset = 0x811C9DC5u;
constexpr std::uint32_t kFnvPrime = 16777619u;
constexpr int kMaxBucketCount = 1 << 28;
}  // namespace

class HashTable::Guard {
public:
    explicit Guard(HashTable* table) : table_(table) { EnterCriticalSection(&table_->lock_); }
    ~Guard() { LeaveCriticalSection(&table_->lock_); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    HashTable* table_;
};

HashTable::HashTable()
    : buckets_(nullptr), initialBucketCount_(8), bucketCount_(8), count_(0), growLoad_(32.0f), shrinkLoad_(0.5f),
      duplicateMode_(0), onAccess_(nullptr), onRemove_(nullptr), cursors_(nullptr), resizePending_(false)
{
    head_.next = head_.prev = &head_;
    InitializeCriticalSection(&lock_);
    InitBuckets(8);
}

HashTable::HashTable(int duplicateMode, int bucketCount) : HashTable()
{
    TableInit(duplicateMode, bucketCount);
}

HashTable::~HashTable()
{
    Clear(0);
    DeleteCriticalSection(&lock_);
}

void HashTable::InitBuckets(int count)
{
    Bucket* fresh = new Bucket[static_cast<std::size_t>(count)];
    for (int i = 0; i < count; ++i) fresh[i].first = fresh[i].last = nullptr;
    delete[] buckets_;
    buckets_ = fresh;
    bucketCount_ = count;
}

void HashTable::TableInit(int duplicateMode, int bucketCount)
{
    Guard guard(this);
    if (bucketCount < 1 || (bucketCount & (bucketCount - 1)) != 0 || bucketCount > kMaxBucketCount) bucketCount = 8;
    initialBucketCount_ = bucketCount;
    Clear(1);
    duplicateMode_ = duplicateMode;
}

HashTable* HashTable::SetCallbacks(ValueCallback onAccess, ValueCallback onRemove)
{
    Guard guard(this);
    onAccess_ = onAccess;
    onRemove_ = onRemove;
    return this;
}

std::uint32_t HashTable::HashString(const char* text)
{
    std::uint32_t h = kFnvOffset;
    if (text == nullptr) return h;
    for (const char* p = text; *p != '\0'; ++p)
        h = (h * kFnvPrime) ^ static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(*p)));
    return h;
}

std::uint32_t HashTable::HashWideString(const wchar_t* text)
{
    std::uint32_t h = kFnvOffset;
    if (text == nullptr) return h;
    for (const wchar_t* p = text; *p != L'\0'; ++p) h = (h * kFnvPrime) ^ static_cast<std::uint32_t>(*p);
    return h;
}

std::uint32_t HashTable::HashBytes(std::uint32_t seed, const void* data, std::size_t length)
{
    std::uint32_t h = seed != 0 ? seed : kFnvOffset;
    const auto* p = static_cast<const std::int8_t*>(data);
    for (std::size_t i = 0; p != nullptr && i < length; ++i)
        h = (h * kFnvPrime) ^ static_cast<std::uint32_t>(static_cast<std::int32_t>(p[i]));
    return h;
}

std::uint32_t HashTable::HashData(std::uint32_t seed, const void* data, std::size_t length)
{
    return HashBytes(seed, data, length);
}

std::uint32_t HashTable::HashPointer(const void* pointer)
{
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

std::uint32_t HashTable::ScrambleHash(std::uint32_t hash)
{
    std::int64_t x = static_cast<std::int64_t>((hash & 0x7FFFFFFFu) ^ 0x5EADBEEFu);
    std::int64_t q = x / 127773;
    std::int64_t r = x % 127773;
    std::int64_t y = 16807 * r - 2836 * q;
    if (y < 0) y += 2147483647;
    return static_cast<std::uint32_t>(y);
}

std::uint32_t HashTable::BucketOf(std::uint32_t hash) const
{
    return ScrambleHash(hash) & static_cast<std::uint32_t>(bucketCount_ - 1);
}

HashTable::Key HashTable::StringKey(const char* key)
{
    return Key{1, reinterpret_cast<const std::uint8_t*>(key), std::strlen(key)};
}

HashTable::Key HashTable::WideStringKey(const wchar_t* key)
{
    return Key{2, reinterpret_cast<const std::uint8_t*>(key), std::wcslen(key) * sizeof(wchar_t)};
}

HashTable::Key HashTable::PointerKey(const void* const* key)
{
    return Key{3, reinterpret_cast<const std::uint8_t*>(key), sizeof(void*)};
}

bool HashTable::Matches(const Node* node, std::uint32_t hash, const Key* key)
{
    if (node->hash != hash) return false;
    if (key == nullptr) return true;
    return node->keyKind == key->kind && node->key.size() == key->length &&
           (key->length == 0 || std::memcmp(node->key.data(), key->bytes, key->length) == 0);
}

// The n-th node (0 = most recent) among those matching hash and key.
HashTable::Node* HashTable::MostRecent(std::uint32_t hash, const Key* key, int n)
{
    if (buckets_ == nullptr || n < 0) return nullptr;
    Bucket& bucket = buckets_[BucketOf(hash)];
    for (Node* cur = bucket.last; cur != nullptr; cur = static_cast<Node*>(cur->prev)) {
        if (cur->hash < hash) break;
        if (Matches(cur, hash, key) && n-- == 0) return cur;
        if (cur == bucket.first) break;
    }
    return nullptr;
}

HashTable::Node* HashTable::MostRecentPair(std::uint32_t hash, const Key* key, void* value)
{
    for (int n = 0;; ++n) {
        Node* node = MostRecent(hash, key, n);
        if (node == nullptr || node->value == value) return node;
    }
}

// Places the node in its bucket. Returns the node that represents the pair:
// the given one when it was linked, else the existing one (unique mode: same
// key; duplicate mode: same key and value). A relink (rehash) always links.
HashTable::Node* HashTable::LinkNode(Node* node, const Key* key, bool relink)
{
    const std::uint32_t h = node->hash;
    Bucket& bucket = buckets_[BucketOf(h)];
    ListLink* position = &head_;
    if (bucket.first != nullptr) {
        Node* cur = bucket.last;
        for (;;) {
            if (cur->hash > h) {
                if (cur == bucket.first) {
                    position = cur;
                    break;
                }
                cur = static_cast<Node*>(cur->prev);
                continue;
            }
            if (cur->hash == h && !relink) {
                // cur is the most recent node of this hash; look for the key.
                Node* sameKey = nullptr;
                for (Node* r = cur; r->hash == h; r = static_cast<Node*>(r->prev)) {
                    if (Matches(r, h, key)) {
                        sameKey = r;
                        break;
                    }
                    if (r == bucket.first) break;
                }
                if (sameKey == nullptr) {
                    position = cur->next;
                    break;
                }
                if (duplicateMode_ == 0) return sameKey;
                for (Node* r = sameKey; r->hash == h; r = static_cast<Node*>(r->prev)) {
                    if (Matches(r, h, key) && r->value == node->value) return r;
                    if (r == bucket.first) break;
                }
                position = sameKey->next;
                break;
            }
            position = cur->next;
            break;
        }
    }
    node->next = position;
    node->prev = position->prev;
    position->prev->next = node;
    position->prev = node;
    if (bucket.first == nullptr) {
        bucket.first = bucket.last = node;
    } else {
        if (node->next == bucket.first) bucket.first = node;
        if (node->prev == bucket.last) bucket.last = node;
    }
    ++count_;
    return node;
}

void HashTable::Unlink(Node* node)
{
    Bucket& bucket = buckets_[BucketOf(node->hash)];
    if (node == bucket.last) {
        if (node == bucket.first)
            bucket.first = bucket.last = nullptr;
        else
            bucket.last = static_cast<Node*>(node->prev);
    } else if (node == bucket.first) {
        bucket.first = static_cast<Node*>(node->next);
    }
    // A visit in progress must not step onto a freed node.
    for (Cursor* c = cursors_; c != nullptr; c = c->outer)
        if (c->next == node) c->next = node->next;
    node->prev->next = node->next;
    node->next->prev = node->prev;
    --count_;
}

void HashTable::Rehash(int newCount)
{
    Bucket* fresh = new (std::nothrow) Bucket[static_cast<std::size_t>(newCount)];
    if (fresh == nullptr) return;
    for (int i = 0; i < newCount; ++i) fresh[i].first = fresh[i].last = nullptr;
    delete[] buckets_;
    buckets_ = fresh;
    bucketCount_ = newCount;
    count_ = 0;
    ListLink* node = head_.next;
    head_.next = head_.prev = &head_;
    while (node != &head_) {
        ListLink* next = node->next;
        LinkNode(static_cast<Node*>(node), nullptr, true);
        node = next;
    }
}

void HashTable::ResizeCheck()
{
    // A rehash relinks every node by bucket: a visit in progress would skip
    // some and see others twice.
    if (cursors_ != nullptr) {
        resizePending_ = true;
        return;
    }
    resizePending_ = false;
    float load = static_cast<float>(count_) / static_cast<float>(bucketCount_);
    if (load > growLoad_) {
        if (bucketCount_ <= kMaxBucketCount / 8) Rehash(bucketCount_ * 8);
    } else if (load < shrinkLoad_ && bucketCount_ > initialBucketCount_) {
        int smaller = bucketCount_ / 8;
        Rehash(smaller < initialBucketCount_ ? initialBucketCount_ : smaller);
    }
}

int HashTable::Insert(std::uint32_t hash, const Key* key, void* value)
{
    Guard guard(this);
    if (buckets_ == nullptr) InitBuckets(initialBucketCount_);
    Node* node = new (std::nothrow) Node;
    if (node == nullptr) return 0;
    node->hash = hash;
    node->value = value;
    node->keyKind = 0;
    if (key != nullptr) {
        try {
            node->key.assign(key->bytes, key->bytes + key->length);
        } catch (...) {
            delete node;
            return 0;
        }
        node->keyKind = key->kind;
    }
    Node* kept = LinkNode(node, key, false);
    void* keptValue = kept->value;
    if (kept != node)
        delete node;
    else
        ResizeCheck();
    if (onAccess_ != nullptr) onAccess_(keptValue);
    return 1;
}

int HashTable::InsertIfAbsent(std::uint32_t hash, const Key* key, void* value, int* existed)
{
    Guard guard(this);
    if (existed != nullptr) *existed = 0;
    if (MostRecent(hash, key, 0) != nullptr) {
        if (existed != nullptr) *existed = 1;
        return 0;
    }
    return Insert(hash, key, value) ? 1 : 0;
}

int HashTable::Find(std::uint32_t hash, const Key* key, int n, void** value)
{
    Guard guard(this);
    Node* node = MostRecent(hash, key, n);
    if (node == nullptr) return 0;
    if (value != nullptr) {
        *value = node->value;
        if (onAccess_ != nullptr) onAccess_(node->value);
    }
    return 1;
}

int HashTable::FindPair(std::uint32_t hash, const Key* key, void* value, bool callback)
{
    Guard guard(this);
    if (MostRecentPair(hash, key, value) == nullptr) return 0;
    if (callback && onAccess_ != nullptr) onAccess_(value);
    return 1;
}

int HashTable::Remove(std::uint32_t hash, const Key* key)
{
    Guard guard(this);
    Node* node = MostRecent(hash, key, 0);
    if (node == nullptr) return 0;
    void* value = node->value;
    Unlink(node);
    delete node;
    ResizeCheck();
    if (onRemove_ != nullptr) onRemove_(value);
    return 1;
}

int HashTable::RemovePair(std::uint32_t hash, const Key* key, void* value)
{
    Guard guard(this);
    Node* node = MostRecentPair(hash, key, value);
    if (node == nullptr) return 0;
    Unlink(node);
    delete node;
    ResizeCheck();
    if (onRemove_ != nullptr) onRemove_(value);
    return 1;
}

int HashTable::InsertByHash(std::uint32_t hash, void* value)
{
    return Insert(hash, nullptr, value);
}
int HashTable::InsertIfAbsentByHash(std::uint32_t hash, void* value, int* existed)
{
    return InsertIfAbsent(hash, nullptr, value, existed);
}
int HashTable::FindByHash(std::uint32_t hash, int n, void** value)
{
    return Find(hash, nullptr, n, value);
}
int HashTable::ContainsHash(std::uint32_t hash)
{
    return Find(hash, nullptr, 0, nullptr);
}
int HashTable::FindPairByHash(std::uint32_t hash, void* value)
{
    return FindPair(hash, nullptr, value, true);
}
int HashTable::HasPairByHash(std::uint32_t hash, void* value)
{
    return FindPair(hash, nullptr, value, false);
}
int HashTable::RemoveByHash(std::uint32_t hash)
{
    return Remove(hash, nullptr);
}
int HashTable::RemovePairByHash(std::uint32_t hash, void* value)
{
    return RemovePair(hash, nullptr, value);
}

int HashTable::FindByString(const char* key, int n, void** value)
{
    if (key == nullptr) return 0;
    Key k = StringKey(key);
    return Find(HashString(key), &k, n, value);
}
int HashTable::ContainsString(const char* key)
{
    return FindByString(key, 0, nullptr);
}
int HashTable::InsertIfAbsentByString(const char* key, void* value, int* existed)
{
    if (key == nullptr) return 0;
    Key k = StringKey(key);
    return InsertIfAbsent(HashString(key), &k, value, existed);
}
int HashTable::InsertByString(const char* key, void* value)
{
    if (key == nullptr) return 0;
    Key k = StringKey(key);
    return Insert(HashString(key), &k, value);
}
int HashTable::RemoveByString(const char* key)
{
    if (key == nullptr) return 0;
    Key k = StringKey(key);
    return Remove(HashString(key), &k);
}
int HashTable::RemovePairByString(const char* key, void* value)
{
    if (key == nullptr) return 0;
    Key k = StringKey(key);
    return RemovePair(HashString(key), &k, value);
}
int HashTable::FindPairByString(const char* key, void* value)
{
    if (key == nullptr) return 0;
    Key k = StringKey(key);
    return FindPair(HashString(key), &k, value, true);
}
int HashTable::HasPairByString(const char* key, void* value)
{
    if (key == nullptr) return 0;
    Key k = StringKey(key);
    return FindPair(HashString(key), &k, value, false);
}

int HashTable::FindByWideString(const wchar_t* key, int n, void** value)
{
    if (key == nullptr) return 0;
    Key k = WideStringKey(key);
    return Find(HashWideString(key), &k, n, value);
}
int HashTable::ContainsWideString(const wchar_t* key)
{
    return FindByWideString(key, 0, nullptr);
}
int HashTable::InsertIfAbsentByWideString(const wchar_t* key, void* value, int* existed)
{
    if (key == nullptr) return 0;
    Key k = WideStringKey(key);
    return InsertIfAbsent(HashWideString(key), &k, value, existed);
}
int HashTable::InsertByWideString(const wchar_t* key, void* value)
{
    if (key == nullptr) return 0;
    Key k = WideStringKey(key);
    return Insert(HashWideString(key), &k, value);
}
int HashTable::RemovePairByWideString(const wchar_t* key, void* value)
{
    if (key == nullptr) return 0;
    Key k = WideStringKey(key);
    return RemovePair(HashWideString(key), &k, value);
}
int HashTable::FindPairByWideString(const wchar_t* key, void* value)
{
    if (key == nullptr) return 0;
    Key k = WideStringKey(key);
    return FindPair(HashWideString(key), &k, value, true);
}
int HashTable::HasPairByWideString(const wchar_t* key, void* value)
{
    if (key == nullptr) return 0;
    Key k = WideStringKey(key);
    return FindPair(HashWideString(key), &k, value, false);
}

int HashTable::FindByPointer(const void* key, int n, void** value)
{
    Key k = PointerKey(&key);
    return Find(HashPointer(key), &k, n, value);
}
int HashTable::HasPairByPointer(const void* key, void* value)
{
    Key k = PointerKey(&key);
    return FindPair(HashPointer(key), &k, value, false);
}
int HashTable::InsertByPointer(const void* key, void* value)
{
    Key k = PointerKey(&key);
    return Insert(HashPointer(key), &k, value);
}
int HashTable::RemovePairByPointer(const void* key, void* value)
{
    Key k = PointerKey(&key);
    return RemovePair(HashPointer(key), &k, value);
}
int HashTable::InsertPointer(void* pointer)
{
    return InsertByPointer(pointer, pointer);
}
int HashTable::InsertIfAbsentPointer(void* pointer, int* existed)
{
    const void* key = pointer;
    Key k = PointerKey(&key);
    return InsertIfAbsent(HashPointer(pointer), &k, pointer, existed);
}
int HashTable::FindPairPointer(void* pointer)
{
    const void* key = pointer;
    Key k = PointerKey(&key);
    return FindPair(HashPointer(pointer), &k, pointer, true);
}
int HashTable::HasPairPointer(void* pointer)
{
    return HasPairByPointer(pointer, pointer);
}
int HashTable::RemovePairPointer(void* pointer)
{
    return RemovePairByPointer(pointer, pointer);
}

void HashTable::Clear(int keepBuckets)
{
    Guard guard(this);
    // Detach everything first: callbacks that use the table see it empty.
    ListLink* node = head_.next;
    head_.next = head_.prev = &head_;
    count_ = 0;
    for (Cursor* c = cursors_; c != nullptr; c = c->outer) c->next = &head_;
    if (keepBuckets != 0) {
        InitBuckets(initialBucketCount_);
    } else {
        delete[] buckets_;
        buckets_ = nullptr;
        bucketCount_ = initialBucketCount_;
    }
    while (node != &head_) {
        ListLink* next = node->next;
        Node* n = static_cast<Node*>(node);
        void* value = n->value;
        delete n;
        if (onRemove_ != nullptr) onRemove_(value);
        node = next;
    }
}

void HashTable::RemoveAll()
{
    Clear(1);
}

int HashTable::Count() const
{
    return count_;
}

int HashTable::ForEach(Visitor visitor, void* userData)
{
    Guard guard(this);
    if (visitor == nullptr) return 0;
    Cursor cursor{head_.next, cursors_};
    cursors_ = &cursor;
    int result = 1;
    while (cursor.next != &head_) {
        Node* node = static_cast<Node*>(cursor.next);
        cursor.next = node->next;
        if (visitor(userData, node->value) == 0) {
            result = 0;
            break;
        }
    }
    cursors_ = cursor.outer;
    if (cursors_ == nullptr && resizePending_) ResizeCheck();
    return result;
}

void HashTable::Lock()
{
    EnterCriticalSection(&lock_);
}

void HashTable::Unlock()
{
    LeaveCriticalSection(&lock_);
}

void HashTable::ReleaseValue(void* value)
{
    Guard guard(this);
    if (onRemove_ != nullptr) onRemove_(value);
}
