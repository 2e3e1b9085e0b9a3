// Shared pieces of the libFuzzer targets: a byte reader over the fuzzer's
// input, and the seed corpus each target writes from real data when
// QVK_FUZZ_WRITE_SEEDS names a folder (scripts/fuzz does this before a run).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qvkfuzz {

using Bytes = std::vector<std::uint8_t>;

// Takes bytes from the front of the input; past its end it answers zeros.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint32_t U16() { return static_cast<std::uint32_t>(Byte()) | static_cast<std::uint32_t>(Byte()) << 8; }
    std::uint32_t U32() { return U16() | U16() << 16; }
    Bytes Take(std::size_t n)
    {
        const std::size_t k = n < size_ - at_ ? n : size_ - at_;
        Bytes out(data_ + at_, data_ + at_ + k);
        at_ += k;
        return out;
    }
    Bytes Rest() { return Take(size_ - at_); }
    std::size_t Left() const { return size_ - at_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// The folder to write seeds into, or empty when this run fuzzes.
inline std::string SeedFolder()
{
    const char* dir = std::getenv("QVK_FUZZ_WRITE_SEEDS");
    return dir != nullptr ? dir : "";
}

// With QVK_FUZZ_WRITE_SEEDS set, has `write` write the target's seeds into
// that folder and ends the program; otherwise returns and the run fuzzes.
template <typename WriteSeeds>
void WriteSeedsWhenAsked(WriteSeeds write)
{
    const std::string folder = SeedFolder();
    if (folder.empty()) return;
    write(folder);
    std::exit(0);
}

inline bool WriteSeed(const std::string& folder, const std::string& name, const Bytes& bytes)
{
    mkdir(folder.c_str(), 0755);
    const std::string path = folder + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

inline void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// A file of this process for readers that take a path.
class TempFile {
public:
    TempFile()
    {
        char name[] = "/tmp/qvk-fuzz-XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        path_ = name;
    }
    ~TempFile() { unlink(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    bool Write(const std::uint8_t* data, std::size_t size) const
    {
        FILE* f = std::fopen(path_.c_str(), "wb");
        if (f == nullptr) return false;
        const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
        return std::fclose(f) == 0 && ok;
    }
    Bytes Read() const
    {
        Bytes out;
        if (FILE* f = std::fopen(path_.c_str(), "rb")) {
            std::uint8_t buffer[4096];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + n);
            std::fclose(f);
        }
        return out;
    }
    const char* Path() const { return path_.c_str(); }

private:
    std::string path_;
};

}  // namespace qvkfuzz
