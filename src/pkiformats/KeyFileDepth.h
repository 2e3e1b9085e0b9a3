// Nesting of key-file reads. A key file may wrap another (a marked blob holds
// a key in any layout, a key store entry holds a protected key, a protected
// key file holds a key file), and each reader hands what it unwrapped back to
// ReadPrivateKeyAnyFormat: a hostile file of many wrappers would recurse as
// deep as it is long. Each nested read takes a level; past the limit the read
// fails.
#ifndef QVK_PKIFORMATS_KEYFILEDEPTH_H
#define QVK_PKIFORMATS_KEYFILEDEPTH_H

namespace pkif {

// Nested ReadPrivateKeyAnyFormat calls one thread may have running.
inline constexpr int kKeyFileDepthMax = 4;

class KeyFileLevel {
public:
    KeyFileLevel() : taken_(Depth() < kKeyFileDepthMax)
    {
        if (taken_) ++Depth();
    }
    ~KeyFileLevel()
    {
        if (taken_) --Depth();
    }
    KeyFileLevel(const KeyFileLevel&) = delete;
    KeyFileLevel& operator=(const KeyFileLevel&) = delete;
    // False past the limit: the read must fail.
    explicit operator bool() const { return taken_; }
    // No further level can be taken (a wrapper reader gives up before
    // copying what it would hand on).
    static bool Exhausted() { return Depth() >= kKeyFileDepthMax; }

private:
    static int& Depth()
    {
        thread_local int depth = 0;
        return depth;
    }
    bool taken_;
};

}  // namespace pkif

#endif
