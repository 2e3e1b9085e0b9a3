// Little-endian writer and bounds-checked reader for this library's encodings.
#ifndef PKFMT_PKFMTENCODING_H
#define PKFMT_PKFMTENCODING_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "PkfmtCrypto.h"

namespace pkfmt {

// Largest single field (key value, block, attribute, nested encoding).
constexpr std::size_t MAX_FIELD_BYTES = 16u << 20;

class Writer {
public:
    void U8(std::uint8_t v) { bytes.push_back(v); }
    void U16(std::uint16_t v)
    {
        U8(static_cast<std::uint8_t>(v));
        U8(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i) U8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void Raw(const void* data, std::size_t length)
    {
        const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + length);
    }
    // u32 length, then the bytes.
    void Chunk(const void* data, std::size_t length)
    {
        U32(static_cast<std::uint32_t>(length));
        Raw(data, length);
    }
    void Chunk(const Bytes& data) { Chunk(data.data(), data.size()); }
    void Chunk(const std::string& text) { Chunk(text.data(), text.size()); }

    Bytes bytes;
};

// Any read past the end clears `ok`; later reads return zeros.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t length) : data_(data), length_(length) {}

    std::uint8_t U8()
    {
        std::uint8_t v = 0;
        Raw(&v, 1);
        return v;
    }
    std::uint16_t U16()
    {
        std::uint8_t b[2] = {};
        Raw(b, 2);
        return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    }
    std::uint32_t U32()
    {
        std::uint8_t b[4] = {};
        Raw(b, 4);
        return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
               (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    }
    bool Raw(void* out, std::size_t length)
    {
        if (!ok || length > length_ - position_) {
            ok = false;
            std::memset(out, 0, length);
            return false;
        }
        std::memcpy(out, data_ + position_, length);
        position_ += length;
        return true;
    }
    Bytes Chunk(std::size_t maximum = MAX_FIELD_BYTES)
    {
        std::uint32_t length = U32();
        if (!ok || length > maximum || length > length_ - position_) {
            ok = false;
            return {};
        }
        Bytes out(data_ + position_, data_ + position_ + length);
        position_ += length;
        return out;
    }
    std::string Text(std::size_t maximum)
    {
        Bytes b = Chunk(maximum);
        return std::string(b.begin(), b.end());
    }
    std::size_t Position() const { return position_; }
    std::size_t Remaining() const { return length_ - position_; }
    bool AtEnd() const { return ok && position_ == length_; }

    bool ok = true;

private:
    const std::uint8_t* data_;
    std::size_t length_;
    std::size_t position_ = 0;
};

}  // namespace pkfmt

#endif
