// Streamed CMS headers and key-transport content from outside: any bytes as
// a received header (parsed by the test double's header parser, as the
// library would) through the facade's streamed parsers, whose 64-bit offset
// and length arithmetic must never wrap; and any bytes as decrypted
// key-transport content, whose padding removal must stay inside it.
// Seeds are headers of the double's form and content the facade padded.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FakeFormats.h"
#include "FuzzSupport.h"
#include "PKIFormatsFuzz.h"
#include "pkiformats/SPKIFormats.h"

namespace {

std::uint64_t Join(const std::uint32_t* w)
{
    return static_cast<std::uint64_t>(w[0]) | static_cast<std::uint64_t>(w[1]) << 32;
}

void CheckParse(int rc, const std::uint32_t* offset, const std::uint32_t* length, const char* what)
{
    if (rc == 1)
        qvkfuzz::Check(Join(offset) + Join(length) >= Join(offset), what);
    else
        qvkfuzz::Check(Join(length) == 0, what);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvkfuzz::WriteSeedsWhenAsked([](const std::string& folder) {
        qvkfuzz::WriteSeed(folder, "header_small", fake::StreamHeader(0x10, 0x110, 3));
        qvkfuzz::WriteSeed(folder, "header_large", fake::StreamHeader(0x100000010ull, 0x300000000ull, 7));
        qvkfuzz::WriteSeed(folder, "header_part", qvkfuzz::Bytes{'S', 'H', 1, 2});
        fake::Library lib;
        fake::UseEnvelopedObjects(lib);
        SPKIFormats f(nullptr, nullptr, &lib);
        qvkfuzz::Bytes content(13, 0x41);
        PKIBlob in{static_cast<std::uint32_t>(content.size()), content.data()};
        void* out = nullptr;
        qvkfuzz::Check(f.EnvelopeRawContent(1, &in, 0, &out) == 1, "padded content");
        auto* e = static_cast<fake::EnvelopedData*>(static_cast<IPKIEnvelopedData*>(out));
        qvkfuzz::WriteSeed(folder, "padded_content", e->content);
        static_cast<IPKIObject*>(out)->Release();
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 0x4000) return 0;
    fake::Library lib;
    fake::UseEnvelopedObjects(lib);
    SPKIFormats f(nullptr, nullptr, &lib);
    pkifuzz::InputRecord input(data, size);
    std::uint32_t offset[2], length[2], value, seen[2], needed[2];
    CheckParse(f.ParseStreamedContentInfo(&input.blob, nullptr, offset, length, &value, seen, needed), offset, length,
               "content info: no wrapped length");
    CheckParse(f.ParseStreamedEnvelopedData(&input.blob, offset, length, &value, seen, needed), offset, length,
               "enveloped data: no wrapped length");
    CheckParse(f.ParseStreamedSignedData(&input.blob, offset, length, &value, seen, needed), offset, length,
               "signed data: no wrapped length");
    for (int family = 0; family < 2; ++family) {
        void* object = nullptr;
        int rc = family ? f.BeginStreamedSignedData(&input.blob, 1, 1, &object, &value, seen, needed)
                        : f.BeginStreamedEnvelopedData(&input.blob, 1, 1, &object, &value, seen, needed);
        qvkfuzz::Check((rc == 1) == (object != nullptr), "an object exactly on success");
        if (object) static_cast<IPKIObject*>(object)->Release();
    }

    // The input as decrypted key-transport content.
    auto* e = new fake::EnvelopedData(lib);
    e->decrypted = input.bytes;
    auto* key = new fake::KeyObject(lib);
    auto* cert = new fake::ScriptedCertificate(lib);
    cert->keyUsage = 0x10;
    PKIBlob out{0, nullptr};
    std::uint32_t isSigned = 0;
    if (f.OpenEnvelopedKeyTransport(static_cast<IPKIEnvelopedData*>(e), static_cast<IPKIKeyObject*>(key),
                                    static_cast<IPKICertificate*>(cert), &isSigned, &out) == 1) {
        qvkfuzz::Check(size > 0 && out.length <= size && size - out.length <= 16, "padding inside the content");
        qvkfuzz::Check(out.length == size - data[size - 1], "exactly the padding named comes off");
    }
    f.ReleaseBlob(&out);
    static_cast<IPKIEnvelopedData*>(e)->Release();
    static_cast<IPKIKeyObject*>(key)->Release();
    static_cast<IPKICertificate*>(cert)->Release();
    qvkfuzz::Check(lib.LiveObjects() == 0 && lib.LiveBlobs() == 0, "nothing left behind");
    return 0;
}
