// A scripted test double of the PKI formats library's object model, for the
// facade's tests: every call is logged with its arguments and can be made to
// answer a code, a sequence of codes, fail on the k-th library call or throw.
// Blobs and objects are tracked, so a test can see what was left behind.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "support/PKIInterface.h"
#include "wemu.h"

namespace fake {

class Library;

// The provider context's layout: three pointer-sized words.
struct CSPContextLike {
    void* rng;
    void* hardware;
    void* prng;
};

// What a call answers when a rule names it. Classes are the library's class
// ids (0 for the interface object); operations are slot numbers.
struct Rule {
    std::vector<int> codes;  // per call, the last one repeating; empty: behave
    bool throws = false;
};

class Library final : public IPKIInterface {
public:
    // Version reported by GetVersion; switchable so every gate can be reached.
    std::uint32_t version = 270;

    // ---- Scripting ----
    void Answer(std::uint32_t classId, std::uint32_t op, std::vector<int> codes)
    {
        rules_[{classId, op}] = Rule{std::move(codes), false};
    }
    void Throw(std::uint32_t classId, std::uint32_t op) { rules_[{classId, op}] = Rule{{}, true}; }
    // The k-th library call from now (1-based) answers `code` (or throws).
    void FailCall(int k, int code = PKI_E_FAILURE, bool throws = false)
    {
        failAt_ = calls_ + k;
        failCode_ = code;
        failThrows_ = throws;
    }
    int Calls() const { return calls_; }
    bool FailureUsed() const { return failAt_ != 0 && calls_ >= failAt_; }

    // ---- What is left ----
    std::vector<std::string> log;
    std::size_t LiveBlobs() const { return blobs_.size(); }
    int LiveObjects() const { return liveObjects; }
    int liveObjects = 0;
    int doubleReleases = 0;
    int unwipedFrees = 0;  // blobs freed with nonzero bytes still in them
    bool requireWipe = false;

    // The policy OID the fake certificate's policies object reports, or none.
    std::string firstPolicy = "1.3.6.1.4.1.19398.1.1.9.7";
    bool hasPolicies = true;
    // What ComposeName writes: "CN=<common name>;C=<country>" unless set.
    std::wstring composed;
    bool composedSet = false;
    // Key kinds of requests by their encoded bytes (fake::Request).
    std::map<std::string, std::uint32_t> requestKeyKinds;
    // What ReadNameRecord fills (wide fields by index) from any text.
    std::map<int, std::wstring> parsed;

    // ---- Call gate used by every operation ----
    // Returns -1 to go on with the real behaviour, else the code to answer.
    int Enter(std::uint32_t classId, std::uint32_t op, const std::string& args)
    {
        ++calls_;
        log.push_back(std::to_string(classId) + ":" + std::to_string(op) + "(" + args + ")");
        if (failAt_ && calls_ == failAt_) {
            if (failThrows_) throw std::runtime_error("scripted failure");
            return failCode_;
        }
        auto it = rules_.find({classId, op});
        if (it == rules_.end()) return -1;
        Rule& r = it->second;
        if (r.throws) throw std::runtime_error("scripted throw");
        if (r.codes.empty()) return -1;
        int code = r.codes.front();
        if (r.codes.size() > 1) r.codes.erase(r.codes.begin());
        return code;
    }

    // ---- IPKIObject ----
    int Release() override { return 0; }
    int QueryInterface(std::uint32_t, void**) override { return PKI_E_NO_INTERFACE; }

    // ---- IPKIInterface ----
    int GetVersion(std::uint32_t* v) override
    {
        int c = Enter(0, 3, "");
        if (c >= 0) return c;
        *v = version;
        return 0;
    }
    int SetCSP(void*) override { return Enter(0, 4, ""); }
    int AllocateBlob(PKIBlob* blob, std::uint32_t size) override
    {
        int c = Enter(0, 6, std::to_string(size));
        if (c >= 0) return c;
        blob->data = static_cast<std::uint8_t*>(std::malloc(size ? size : 1));
        blob->length = size;
        std::memset(blob->data, 0xA5, size);  // the facade must clear what it gets
        blobs_.insert(blob->data);
        return 0;
    }
    int FreeBlob(PKIBlob* blob) override
    {
        // Freeing is never refused: a test would only leak.
        ++calls_;
        log.push_back("0:7(" + std::to_string(blob->length) + ")");
        if (!blob->data) return 0;
        if (!blobs_.erase(blob->data)) {
            ++doubleReleases;
            return PKI_E_INVALID_ARGUMENT;
        }
        for (std::uint32_t i = 0; requireWipe && i < blob->length; ++i)
            if (blob->data[i]) {
                ++unwipedFrees;
                break;
            }
        std::free(blob->data);
        blob->data = nullptr;
        blob->length = 0;
        return 0;
    }
    int TextToWide(const char* text, wchar_t* wide) override
    {
        int c = Enter(0, 8, text);
        if (c >= 0) return c;
        int n = MultiByteToWideChar(CP_1251, 0, text, -1, wide, static_cast<int>(std::strlen(text) + 1));
        return n > 0 ? 0 : PKI_E_FAILURE;
    }
    int WideToText(const wchar_t* wide, char* text) override
    {
        int c = Enter(0, 9, std::to_string(wcslen(wide)));
        if (c >= 0) return c;
        int n = WideCharToMultiByte(CP_1251, 0, wide, -1, text, static_cast<int>(wcslen(wide) + 1), nullptr, nullptr);
        return n > 0 ? 0 : PKI_E_FAILURE;
    }
    int CreateObject(std::uint32_t classId, std::uint32_t interfaceId, void** object) override;
    // The source is passed through: a wide name text from the name parser,
    // the caller's own word from the library-text copy (logged as "src").
    const void* nameSource = nullptr;
    int ReadNameRecord(const void* source, PKINameRecord* record) override
    {
        nameSource = source;
        int c = Enter(0, 13, "src");
        if (c >= 0) return c;
        wchar_t* fields[] = {record->serialNumber, record->country, record->state,      record->locality,
                             record->organisation, record->unit,    record->commonName, record->surname,
                             record->givenName,    record->title};
        for (auto& [i, w] : parsed) wcscpy(fields[i], w.c_str());  // the test picks sizes, long ones included
        return 0;
    }
    int ComposeName(const PKINameRecord* record, wchar_t* text, std::uint32_t* length) override
    {
        int c = Enter(0, 14, std::to_string(*length));
        if (c >= 0) return c;
        std::wstring s = composedSet ? composed : std::wstring(L"CN=") + record->commonName + L";C=" + record->country;
        if (s.size() + 1 > *length) return PKI_E_FAILURE;
        wcscpy(text, s.c_str());
        *length = static_cast<std::uint32_t>(s.size());
        return 0;
    }
    // The name hashes write a recognisable pattern: byte i is i + 1 (GOST,
    // 32 bytes) or 0x80 + i (SHA, bits / 8 bytes).
    int HashNameGOST34311(const wchar_t* text, std::uint8_t* hash) override
    {
        int c = Enter(0, 15, std::to_string(wcslen(text)));
        if (c >= 0) return c;
        for (int i = 0; i < 32; ++i) hash[i] = static_cast<std::uint8_t>(i + 1);
        return 0;
    }
    int HashNameSHA(const wchar_t* text, std::uint32_t bits, std::uint8_t* hash) override
    {
        int c = Enter(0, 16, std::to_string(wcslen(text)) + "," + std::to_string(bits));
        if (c >= 0) return c;
        for (std::uint32_t i = 0; i < bits / 8; ++i) hash[i] = static_cast<std::uint8_t>(0x80 + i);
        return 0;
    }
    int HasOptionA() override { return Enter(0, 33, "") > 0 ? 0 : 1; }
    int HasOptionB() override { return Enter(0, 34, "") > 0 ? 0 : 1; }

    ~Library()
    {
        for (void* p : blobs_) std::free(p);
    }

private:
    std::map<std::pair<std::uint32_t, std::uint32_t>, Rule> rules_;
    std::set<void*> blobs_;
    int calls_ = 0;
    int failAt_ = 0;
    int failCode_ = PKI_E_FAILURE;
    bool failThrows_ = false;
};

// Every fake object counts itself live until its last release; a release past
// that is counted, not performed.
template <typename Base>
class Object : public Base {
public:
    Object(Library& lib, std::uint32_t classId) : lib_(lib), classId_(classId) { ++lib_.liveObjects; }
    virtual ~Object() = default;
    int Release() override
    {
        lib_.log.push_back(std::to_string(classId_) + ":1()");
        if (refs_ <= 0) {
            ++lib_.doubleReleases;
            return PKI_E_INVALID_ARGUMENT;
        }
        if (--refs_ == 0) {
            --lib_.liveObjects;
            delete this;
        }
        return 0;
    }
    int QueryInterface(std::uint32_t iid, void** object) override
    {
        int c = lib_.Enter(classId_, 2, std::to_string(iid));
        if (c >= 0) return c;
        if (!offers.count(iid)) return PKI_E_NO_INTERFACE;
        // One table serves every offered interface here.
        *object = static_cast<Base*>(this);
        ++refs_;
        return 0;
    }
    std::set<std::uint32_t> offers;

protected:
    Library& lib_;
    std::uint32_t classId_;
    int refs_ = 1;
};

class Policies final : public Object<IPKIPolicies> {
public:
    explicit Policies(Library& lib) : Object(lib, 1) {}
    int GetFirstPolicy(PKIBlob* oid) override
    {
        int c = lib_.Enter(1, 3, "");
        if (c >= 0) return c;
        const std::string& s = lib_.firstPolicy;
        if (lib_.AllocateBlob(oid, static_cast<std::uint32_t>(s.size() + 1)) != 0) return PKI_E_OUT_OF_MEMORY;
        std::memcpy(oid->data, s.c_str(), s.size() + 1);
        oid->length = static_cast<std::uint32_t>(s.size());
        return 0;
    }
};

class Certificate final : public Object<IPKICertificate> {
public:
    explicit Certificate(Library& lib) : Object(lib, PKI_CLASS_CERTIFICATE) {}
    int GetPolicies(void** policies) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 76, "");
        if (c >= 0) return c;
        if (!lib_.hasPolicies) return PKI_E_ABSENT;
        *policies = static_cast<IPKIPolicies*>(new Policies(lib_));
        return 0;
    }
};

// A certificate request: its key kind is the one the test set for the
// encoded bytes it was loaded from (1 when none was set).
class Request final : public Object<IPKIRequest> {
public:
    explicit Request(Library& lib) : Object(lib, PKI_CLASS_REQUEST) {}
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 3, "");
        if (c >= 0) return c;
        if (lib_.AllocateBlob(out, static_cast<std::uint32_t>(bytes_.size())) != 0) return PKI_E_OUT_OF_MEMORY;
        if (!bytes_.empty()) std::memcpy(out->data, bytes_.data(), bytes_.size());
        return 0;
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 4, std::to_string(in->length));
        if (c >= 0) return c;
        bytes_.assign(reinterpret_cast<const char*>(in->data), in->length);
        return 0;
    }
    int GetKeyKind(std::uint32_t* kind) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 13, "");
        if (c >= 0) return c;
        auto it = lib_.requestKeyKinds.find(bytes_);
        *kind = it == lib_.requestKeyKinds.end() ? 1 : it->second;
        return 0;
    }

private:
    std::string bytes_;
};

inline int Library::CreateObject(std::uint32_t classId, std::uint32_t interfaceId, void** object)
{
    int c = Enter(0, 10, std::to_string(classId) + "," + std::to_string(interfaceId));
    if (c >= 0) return c;
    if (classId == PKI_CLASS_REQUEST && interfaceId == PKI_IID_REQUEST) {
        *object = static_cast<IPKIRequest*>(new Request(*this));
        return 0;
    }
    if (classId == PKI_CLASS_CERTIFICATE && interfaceId == PKI_IID_CERTIFICATE) {
        *object = static_cast<IPKICertificate*>(new Certificate(*this));
        return 0;
    }
    return PKI_E_UNKNOWN_CLASS;
}

}  // namespace fake

namespace fake {

// A key object that lends a provider context through interface 4215: its
// flags and context answers are the test's.
class KeyContext final : public Object<IPKIKeyContextDSTU4145> {
public:
    KeyContext(Library& lib, std::uint32_t flags, CSPContextLike context, int contextAnswer)
        : Object(lib, 4893), flags_(flags), context_(context), answer_(contextAnswer)
    {
        offers.insert(PKI_IID_KEY_CONTEXT_DSTU4145);
    }
    std::uint32_t GetContextFlags() override
    {
        lib_.log.push_back("4893:4()");
        return flags_;
    }
    int GetContext(void* context, std::uint32_t flags) override
    {
        lib_.log.push_back("4893:5(" + std::to_string(flags) + ")");
        if (answer_ != 0) return answer_;
        std::memcpy(context, &context_, sizeof context_);
        return 0;
    }
    int References() const { return refs_; }

private:
    std::uint32_t flags_;
    CSPContextLike context_;
    int answer_;
};

}  // namespace fake
