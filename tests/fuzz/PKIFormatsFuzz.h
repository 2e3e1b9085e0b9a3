// Shared pieces of the PKI formats facade's fuzz targets: seeds written from
// what the facade's own writers make, blocks over texts, and the input as an
// exactly sized heap record (so a read past its end is caught).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "pkiformats/SPKIFormats.h"

namespace pkifuzz {

// Writes a record that the facade's own writer made, then frees it.
inline void Seed(SPKIFormats& f, const std::string& folder, const char* name, PKIBlob* record)
{
    qvkfuzz::Check(record->data != nullptr, name);
    qvkfuzz::Check(qvkfuzz::WriteSeed(folder, name, qvkfuzz::Bytes(record->data, record->data + record->length)), name);
    f.ReleaseBlob(record);
}

inline PKIBlob View(const char* text)
{
    return PKIBlob{static_cast<std::uint32_t>(std::strlen(text)),
                   reinterpret_cast<std::uint8_t*>(const_cast<char*>(text))};
}

// The fuzzer's input copied to a heap block of exactly its size.
struct InputRecord {
    InputRecord(const std::uint8_t* data, std::size_t size)
        : bytes(data, data + size), blob{static_cast<std::uint32_t>(size), bytes.data()}
    {
    }
    std::vector<std::uint8_t> bytes;
    PKIBlob blob;
};

}  // namespace pkifuzz
