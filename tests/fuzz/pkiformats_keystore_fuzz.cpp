// Key stores in the JKS layout from outside: the header and entry measures,
// the look-ups by alias and by position, and the entry readers, on an exactly
// sized heap copy of the input. What the header accepts must walk to its end
// entry by entry, and every view handed out must lie inside the input.
// Seeds are stores of both versions written field by field.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "PKIFormatsFuzz.h"
#include "pkiformats/SPKIFormats.h"

namespace {

struct Writer {
    qvkfuzz::Bytes b;
    void U16(std::uint32_t v)
    {
        b.push_back(static_cast<std::uint8_t>(v >> 8));
        b.push_back(static_cast<std::uint8_t>(v));
    }
    void U32(std::uint32_t v)
    {
        for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
    }
    void Text(const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
    void Head(std::uint32_t tag, const std::string& alias)
    {
        U32(tag);
        U16(static_cast<std::uint32_t>(alias.size()));
        Text(alias);
        Text("stamp..!");
    }
    void Certificate(std::uint32_t version, const std::string& der)
    {
        if (version == 2) U16(5), Text("X.509");
        U32(static_cast<std::uint32_t>(der.size()));
        Text(der);
    }
};

qvkfuzz::Bytes Store(std::uint32_t version)
{
    Writer w;
    w.b = {0xFE, 0xED, 0xFE, 0xED};
    w.U32(version);
    w.U32(3);
    w.Head(2, "root");
    w.Certificate(version, "root certificate");
    w.Head(1, "Signing");
    w.U32(9);
    w.Text("key bytes");
    w.U32(2);
    w.Certificate(version, "holder certificate");
    w.Certificate(version, "root certificate");
    w.Head(1, "\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87");
    w.U32(0);
    w.U32(0);
    return w.b;
}

bool Within(const PKIBlob& view, const PKIBlob& whole)
{
    return view.data >= whole.data && view.length <= whole.length &&
           static_cast<std::size_t>(view.data - whole.data) <= whole.length - view.length;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvkfuzz::WriteSeedsWhenAsked([](const std::string& folder) {
        qvkfuzz::Check(qvkfuzz::WriteSeed(folder, "store_v1", Store(1)), "store v1");
        qvkfuzz::Check(qvkfuzz::WriteSeed(folder, "store_v2", Store(2)), "store v2");
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 0xFFFFF) return 0;
    SPKIFormats f(nullptr, nullptr, nullptr);
    pkifuzz::InputRecord input(data, size);
    const PKIBlob& store = input.blob;
    std::uint32_t version = 0, count = 0;
    PKIBlob entries{0, nullptr};
    const int header = f.ReadKeyStoreHeader(&store, &version, &count, &entries);
    if (header) {
        if (!Within(entries, store)) __builtin_trap();
        // The accepted entries walk to the end of the entries blob, `count` of them.
        std::uint32_t walked = 0, keys = 0;
        for (std::uint32_t offset = 0; offset < entries.length; ++walked) {
            PKIBlob entry{0, nullptr}, key{0, nullptr};
            std::uint32_t flag = 0;
            if (!f.GetKeyStoreEntry(version, offset, &entries, &entry) || !Within(entry, entries)) __builtin_trap();
            if (!f.IsKeyStoreKeyEntry(&entry, &flag)) __builtin_trap();
            if (f.GetKeyStoreKeyBytes(&entry, &key) != static_cast<int>(flag) || (flag && !Within(key, entry)))
                __builtin_trap();
            keys += flag;
            char* alias = nullptr;
            if (f.GetKeyStoreAlias(&entry, &alias)) {
                PKIBlob found{0, nullptr};
                // An alias found again names this entry or an earlier one.
                if (!f.FindKeyStoreEntry(version, alias, &entries, &found) || found.data > entry.data) __builtin_trap();
                f.FreeMemory(alias);
            }
            offset += entry.length;
        }
        if (walked != count) __builtin_trap();
        PKIBlob first{0, nullptr};
        if (f.FindKeyStoreEntry(version, nullptr, &entries, &first) != (keys ? 1 : 0)) __builtin_trap();
    }
    for (std::uint32_t index = 0; index < 3; ++index) {
        char* alias = nullptr;
        if (f.GetKeyStoreKeyAlias(&store, index, &alias)) {
            if (!header) __builtin_trap();
            f.FreeMemory(alias);
        }
    }
    return 0;
}
