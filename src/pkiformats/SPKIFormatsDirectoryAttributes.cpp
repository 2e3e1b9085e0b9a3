// Subject directory attributes: the holder's national identifiers under
// 1.2.804.2.1.1.1.11.1.4.n.1, read as text from the directory-attribute
// object (by OID, or at seven fixed positions) and from the subject name.
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "pkiformats/HolderProfiles.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

// The seven fixed positions of the directory items, in the readers' order.
const char* const kFixedOids[PKIF_DIRECTORY_POSITIONS] = {"1.2.804.2.1.1.1.11.1.4.2.1", "1.2.804.2.1.1.1.11.1.4.1.1",
                                                          "1.2.804.2.1.1.1.11.1.4.3.1", "1.2.804.2.1.1.1.11.1.4.4.1",
                                                          "1.2.804.2.1.1.1.11.1.4.5.1", "1.2.804.2.1.1.1.11.1.4.6.1",
                                                          "1.2.804.2.1.1.1.11.1.4.7.1"};

void ClearWanted(std::uint32_t count, char* const* outputs)
{
    if (!outputs) return;
    for (std::uint32_t i = 0; i < count; ++i)
        if (outputs[i]) outputs[i][0] = 0;
}

}  // namespace

int pkif::ReadDirectoryItems(ISPKIFormats& formats, IPKIObject* attributes, IPKIObject* owner, bool request,
                             std::uint32_t count, const char* const* oids, char* const* outputs)
{
    ObjectRef byOid;
    if (attributes->QueryInterface(PKI_IID_DIRECTORY_ATTRIBUTES, byOid.Out()) == 0 && byOid)
        return formats.ReadDirectoryAttributeValues(byOid.As<IPKIObject>(), count, oids, outputs);

    char* positions[PKIF_DIRECTORY_POSITIONS];
    if (!formats.MapDirectoryAttributeOutputs(count, oids, outputs, positions)) return 0;
    // The field readers fill texts of their own capacity; each value then
    // has to fit the caller's output for its OID.
    std::string items[PKIF_DIRECTORY_POSITIONS];
    char* d[PKIF_DIRECTORY_POSITIONS] = {};
    bool wanted = false;
    for (std::uint32_t j = 0; j < PKIF_DIRECTORY_POSITIONS; ++j) {
        if (!positions[j]) continue;
        items[j].assign(PKIF_NAME_TEXT_BYTES, '\0');
        d[j] = items[j].data();
        wanted = true;
    }
    if (!wanted) return 1;
    int read = request
                   ? formats.GetRequestFieldTexts(owner, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                  d[0], d[1], d[2], d[3], d[4], d[5], d[6], nullptr, nullptr, nullptr,
                                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0)
                   : formats.GetCertificateFieldTexts(owner, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr,
                                                      nullptr, d[0], d[1], d[2], d[3], d[4], d[5], d[6], nullptr);
    if (!read) return 0;
    return CopyDirectoryPositions(formats, d, positions);
}

int pkif::CopyDirectoryPositions(ISPKIFormats& formats, const char* const* items, char* const* positions)
{
    int result = 1;
    for (std::uint32_t j = 0; j < PKIF_DIRECTORY_POSITIONS; ++j) {
        if (!positions[j]) continue;
        positions[j][0] = 0;
        std::uint32_t limit = 0;
        formats.GetNameAttributeMaxLength(kFixedOids[j], &limit);
        std::size_t length = items[j] ? strnlen(items[j], limit + 1) : 0;
        if (length > limit) {
            result = 0;
            continue;
        }
        if (length) std::memcpy(positions[j], items[j], length);
        positions[j][length] = 0;
    }
    return result;
}

int pkif::MapOutputsByOid(std::uint32_t count, const char* const* oids, char* const* outputs, const char* const* table,
                          char** positions)
{
    if (!positions) return 0;
    for (std::uint32_t j = 0; j < PKIF_DIRECTORY_POSITIONS; ++j) positions[j] = nullptr;
    if (count && (!oids || !outputs)) return 0;
    for (std::uint32_t j = 0; j < PKIF_DIRECTORY_POSITIONS; ++j) {
        if (!table[j]) continue;
        for (std::uint32_t i = 0; i < count; ++i) {
            if (oids[i] && std::strcmp(oids[i], table[j]) == 0) {
                positions[j] = outputs[i];
                break;
            }
        }
    }
    return 1;
}

int SPKIFormats::MapDirectoryAttributeOutputs(std::uint32_t count, const char* const* oids, char* const* outputs,
                                              char** positions)
{
    try {
        return MapOutputsByOid(count, oids, outputs, kFixedOids, positions);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadDirectoryAttributeValues(IPKIObject* attributes, std::uint32_t count, const char* const* oids,
                                              char* const* outputs)
{
    try {
        ClearWanted(count, outputs);
        if (!attributes || (count && (!oids || !outputs))) return 0;
        if (count == 0) return 1;
        std::vector<std::uint32_t> limits(count, 0);  // made first: nothing to free if it throws
        void** buffers = AllocateNameAttributeBuffers(count, oids, sizeof(wchar_t));
        if (!buffers) return 0;
        // The library fills these: wiped before they go back (FreeMemory does not wipe).
        struct FreeOnExit {
            SPKIFormats& f;
            std::uint32_t count;
            void** buffers;
            const std::vector<std::uint32_t>& limits;
            ~FreeOnExit()
            {
                for (std::uint32_t i = 0; i < count; ++i)
                    if (buffers[i])
                        std::memset(buffers[i], 0, (static_cast<std::size_t>(limits[i]) + 1) * sizeof(wchar_t));
                f.FreeMemoryArray(count, buffers);
            }
        } freeOnExit{*this, count, buffers, limits};
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!buffers[i]) continue;
            if (!outputs[i]) {  // a value not wanted gets no buffer
                FreeMemory(buffers[i]);
                buffers[i] = nullptr;
                continue;
            }
            GetNameAttributeMaxLength(oids[i], &limits[i]);
            std::memset(buffers[i], 0, (static_cast<std::size_t>(limits[i]) + 1) * sizeof(wchar_t));
        }
        int result = static_cast<IPKIDirectoryAttributes*>(attributes)->ReadValues(count, oids, buffers) == 0;
        for (std::uint32_t i = 0; result && i < count; ++i) {
            if (!buffers[i]) continue;
            // The output holds limit + 1 bytes: a longer value is refused.
            const wchar_t* wide = static_cast<const wchar_t*>(buffers[i]);
            if (wide[0] && !TextOf(wide, limits[i] + 1, outputs[i], limits[i] + 1)) {
                outputs[i][0] = 0;
                result = 0;
            }
        }
        if (!result) ClearWanted(count, outputs);
        return result;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FillCertificateSubjectIdentifiersDefault(IPKIObject* certificate, std::uint32_t count,
                                                          const char* const* oids, char* const* outputs)
{
    try {
        return FillCertificateSubjectIdentifiers(certificate, 1, count, oids, outputs);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadDirectoryAttributes(IPKIObject* request, std::uint32_t count, const char* const* oids,
                                         char* const* outputs)
{
    try {
        ClearWanted(count, outputs);
        if (!request || (count && (!oids || !outputs))) return 0;
        auto* r = static_cast<IPKIRequest*>(request);
        ObjectRef attributes;
        if (r->GetDirectoryAttributes(attributes.Out()) == 0 && attributes) {
            if (!ReadDirectoryItems(*this, attributes.As<IPKIObject>(), request, true, count, oids, outputs)) return 0;
        }
        char* positions[PKIF_DIRECTORY_POSITIONS];
        if (!MapUkrainianIdentifierOutputs(count, oids, outputs, positions)) return 0;
        bool wanted = false;
        for (char* p : positions) wanted |= p != nullptr;
        if (!wanted) return 1;
        ObjectRef subject;
        if (r->GetSubject(subject.Out()) != 0 || !subject) return 1;
        return FillSubjectPositions(*this, subject.As<IPKIObject>(), positions);
    } catch (...) {
        return 0;
    }
}
