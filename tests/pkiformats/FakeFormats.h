// A scripted test double of the PKI formats library's object model, for the
// facade's tests: every call is logged with its arguments and can be made to
// answer a code, a sequence of codes, fail on the k-th library call or throw.
// Blobs and objects are tracked, so a test can see what was left behind.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
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

// What a call answers when a rule names it. Rules are keyed by (class,
// interface, operation, object): classes are the library's class ids (0 for
// the interface object), operations slot numbers; interface 0 and a null
// object match any. Besides its code a rule can script what the operation
// hands out: words for its u32 outputs and an object for its object output
// (the operations that honour them say so).
struct Rule {
    std::vector<int> codes;  // per call, the last one repeating; empty: behave
    bool throws = false;
    std::vector<std::uint32_t> words;
    void* object = nullptr;
};

// The call being answered, for the rule lookup.
struct Call {
    std::uint32_t classId, interfaceId, op;
    const void* object;
};

class Library : public IPKIInterface {
public:
    // Version reported by GetVersion; switchable so every gate can be reached.
    std::uint32_t version = 270;

    // ---- Scripting ----
    void Answer(std::uint32_t classId, std::uint32_t op, std::vector<int> codes)
    {
        rules_[{classId, 0, op, nullptr}] = Rule{std::move(codes), false, {}, nullptr};
    }
    void Throw(std::uint32_t classId, std::uint32_t op)
    {
        rules_[{classId, 0, op, nullptr}] = Rule{{}, true, {}, nullptr};
    }
    // The full form: one view of one object, with scripted outputs.
    void Script(Call call, Rule rule)
    {
        rules_[{call.classId, call.interfaceId, call.op, call.object}] = std::move(rule);
    }
    // The rule that answered the last call, if any (its scripted outputs).
    const Rule* Matched() const { return matched_; }
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
    // Objects a test makes itself for a class / interface pair (the
    // maker returns the interface pointer); consulted before the built-in
    // classes.
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::function<void*()>> makers;

    // ---- Call gate used by every operation ----
    // Returns -1 to go on with the real behaviour, else the code to answer.
    int Enter(std::uint32_t classId, std::uint32_t op, const std::string& args, std::uint32_t interfaceId = 0,
              const void* object = nullptr)
    {
        ++calls_;
        matched_ = nullptr;
        log.push_back(std::to_string(classId) + ":" + std::to_string(op) + "(" + args + ")");
        if (failAt_ && calls_ == failAt_) {
            if (failThrows_) throw std::runtime_error("scripted failure");
            return failCode_;
        }
        auto it = rules_.end();
        for (auto key : {RuleKey{classId, interfaceId, op, object}, RuleKey{classId, interfaceId, op, nullptr},
                         RuleKey{classId, 0, op, object}, RuleKey{classId, 0, op, nullptr}})
            if ((it = rules_.find(key)) != rules_.end()) break;
        if (it == rules_.end()) return -1;
        Rule& r = it->second;
        matched_ = &r;
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
    // Releases (object operation 1, FreeBlob) count as calls, so the k-th-call
    // failure reaches them; they release first and then answer the failure
    // (never a throw), so a failing release cannot make a test leak.
    int Releasing(const std::string& entry)
    {
        ++calls_;
        log.push_back(entry);
        return failAt_ && calls_ == failAt_ ? failCode_ : 0;
    }
    int FreeBlob(PKIBlob* blob) override
    {
        int answer = Releasing("0:7(" + std::to_string(blob->length) + ")");
        if (!blob->data) return answer;
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
        return answer;
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
    // The same patterns over a name object.
    int HashNameObjectSHA(IPKIObject*, std::uint32_t bits, std::uint8_t* hash) override
    {
        int c = Enter(0, 25, std::to_string(bits));
        if (c >= 0) return c;
        for (std::uint32_t i = 0; i < bits / 8; ++i) hash[i] = static_cast<std::uint8_t>(0x80 + i);
        return 0;
    }
    int HashNameObjectGOST34311(IPKIObject*, std::uint8_t* hash) override
    {
        int c = Enter(0, 27, "");
        if (c >= 0) return c;
        for (int i = 0; i < 32; ++i) hash[i] = static_cast<std::uint8_t>(i + 1);
        return 0;
    }
    int HasOptionA() override { return Enter(0, 33, "") > 0 ? 0 : 1; }
    int HasOptionB() override { return Enter(0, 34, "") > 0 ? 0 : 1; }
    // The version-gated conversions (32, 35, 36, 38): each logs its call and
    // keeps the words it was given (the inner object first for 32).
    std::vector<const void*> converted;
    int ConvertObject(IPKIObject* inner, void* a, void* b, void* c, void* d) override
    {
        return Convert(32, {inner, a, b, c, d});
    }
    int ConvertFour(void* a, void* b, void* c, void* d) override { return Convert(35, {a, b, c, d}); }
    int ConvertThree(void* a, void* b, void* c) override { return Convert(36, {a, b, c}); }
    int ConvertThreeNew(void* a, void* b, void* c) override { return Convert(38, {a, b, c}); }
    int Convert(std::uint32_t op, std::vector<const void*> words)
    {
        int c = Enter(0, op, std::to_string(words.size()));
        if (c >= 0) return c;
        converted = std::move(words);
        return 0;
    }

    // ---- Holder profiles: name tables and tax numbers ----
    // Attribute values of every name object, by OID (index 0 only), and what
    // the tax-number conversion makes of a number (by mode; the number itself
    // when none is set).
    std::map<std::string, std::wstring> nameValues;
    std::map<std::pair<std::uint32_t, std::string>, std::string> taxConversions;
    int ConvertTaxNumber(const char* number, std::uint32_t mode, char* out, std::uint32_t capacity) override
    {
        int c = Enter(0, 20, std::string(number) + "," + std::to_string(mode));
        if (c >= 0) return c;
        auto it = taxConversions.find({mode, number});
        std::string converted = it == taxConversions.end() ? number : it->second;
        if (converted.size() + 1 > capacity) return PKI_E_FAILURE;
        std::memcpy(out, converted.c_str(), converted.size() + 1);
        return 0;
    }
    int GetNameAttributeText(IPKIObject*, const char* oid, std::uint32_t index, wchar_t* text,
                             std::uint32_t capacity) override
    {
        int c = Enter(0, 29, std::string(oid) + "," + std::to_string(index));
        if (c >= 0) return c;
        auto it = nameValues.find(oid);
        if (index != 0 || it == nameValues.end()) return PKI_E_ABSENT;
        if (it->second.size() + 1 > capacity) return PKI_E_FAILURE;
        wcscpy(text, it->second.c_str());
        return 0;
    }
    int SetNameAttributeText(IPKIObject*, const char* oid, std::uint32_t index, const wchar_t* text) override
    {
        int c = Enter(0, 30, std::string(oid) + "," + std::to_string(index));
        if (c >= 0) return c;
        nameValues[oid] = text;
        return 0;
    }
    int SetNameAttributePair(IPKIObject*, const char* oid, const wchar_t* text) override
    {
        int c = Enter(0, 31, oid);
        if (c >= 0) return c;
        nameValues[oid] = text;
        return 0;
    }

    ~Library()
    {
        for (void* p : blobs_) std::free(p);
    }

private:
    using RuleKey = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, const void*>;
    std::map<RuleKey, Rule> rules_;
    const Rule* matched_ = nullptr;
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
    virtual ~Object()
    {
        for (auto& [iid, view] : views_) view.second();
    }
    int Release() override { return Drop(); }
    int Drop()
    {
        int answer = lib_.Releasing(std::to_string(classId_) + ":1()");
        if (refs_ <= 0) {
            ++lib_.doubleReleases;
            return PKI_E_INVALID_ARGUMENT;
        }
        if (--refs_ == 0) {
            --lib_.liveObjects;
            delete this;
        }
        return answer;
    }
    // An interface in `offers` is served by this object's own table; one
    // given a view (OfferView) by that view's table, so two interfaces of one
    // class never share slot numbers. Every view shares the object's count.
    int QueryInterface(std::uint32_t iid, void** object) override
    {
        int c = lib_.Enter(classId_, 2, std::to_string(iid));
        if (c >= 0) return c;
        auto view = views_.find(iid);
        if (view != views_.end()) {
            *object = view->second.first;
            ++refs_;
            return 0;
        }
        if (!offers.count(iid)) return PKI_E_NO_INTERFACE;
        *object = static_cast<Base*>(this);
        ++refs_;
        return 0;
    }
    void OfferView(std::uint32_t iid, IPKIObject* view, std::function<void()> destroy)
    {
        views_[iid] = {view, std::move(destroy)};
    }
    std::set<std::uint32_t> offers;
    std::uint32_t ClassId() const { return classId_; }

protected:
    Library& lib_;
    std::uint32_t classId_;
    int refs_ = 1;

private:
    std::map<std::uint32_t, std::pair<IPKIObject*, std::function<void()>>> views_;
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
    explicit Certificate(Library& lib) : Object(lib, PKI_CLASS_CERTIFICATE) { offers.insert(PKI_IID_CERTIFICATE); }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 4, std::to_string(in->length));
        if (c >= 0) return c;
        decoded.assign(reinterpret_cast<const char*>(in->data), in->length);
        return 0;
    }
    std::string decoded;
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
        int c = lib_.Enter(PKI_CLASS_REQUEST, 13, "", PKI_IID_REQUEST, this);
        if (c >= 0) return c;
        if (lib_.Matched() && !lib_.Matched()->words.empty()) {  // a scripted output
            *kind = lib_.Matched()->words.front();
            return 0;
        }
        auto it = lib_.requestKeyKinds.find(bytes_);
        *kind = it == lib_.requestKeyKinds.end() ? 1 : it->second;
        return 0;
    }

private:
    std::string bytes_;
};

// A table of slots 3 to 140 for an interface no test class models yet: each
// slot logs its call and answers by rule only (PKI_E_NOT_IMPLEMENTED without
// one); it reads none of its arguments and writes no output. A test that
// needs outputs adds a real class here (as Request and Certificate are).
// clang-format off
class Slots : public IPKIObject {
public:
    Slots(Library& lib, std::uint32_t classId, std::uint32_t interfaceId, IPKIObject* owner)
        : lib_(lib), classId_(classId), interfaceId_(interfaceId), owner_(owner) {}
    int Release() override { return owner_->Release(); }
    int QueryInterface(std::uint32_t iid, void** object) override { return owner_->QueryInterface(iid, object); }
    std::uint32_t InterfaceId() const { return interfaceId_; }
    virtual int Op3() { return Answer(3); }
    virtual int Op4() { return Answer(4); }
    virtual int Op5() { return Answer(5); }
    virtual int Op6() { return Answer(6); }
    virtual int Op7() { return Answer(7); }
    virtual int Op8() { return Answer(8); }
    virtual int Op9() { return Answer(9); }
    virtual int Op10() { return Answer(10); }
    virtual int Op11() { return Answer(11); }
    virtual int Op12() { return Answer(12); }
    virtual int Op13() { return Answer(13); }
    virtual int Op14() { return Answer(14); }
    virtual int Op15() { return Answer(15); }
    virtual int Op16() { return Answer(16); }
    virtual int Op17() { return Answer(17); }
    virtual int Op18() { return Answer(18); }
    virtual int Op19() { return Answer(19); }
    virtual int Op20() { return Answer(20); }
    virtual int Op21() { return Answer(21); }
    virtual int Op22() { return Answer(22); }
    virtual int Op23() { return Answer(23); }
    virtual int Op24() { return Answer(24); }
    virtual int Op25() { return Answer(25); }
    virtual int Op26() { return Answer(26); }
    virtual int Op27() { return Answer(27); }
    virtual int Op28() { return Answer(28); }
    virtual int Op29() { return Answer(29); }
    virtual int Op30() { return Answer(30); }
    virtual int Op31() { return Answer(31); }
    virtual int Op32() { return Answer(32); }
    virtual int Op33() { return Answer(33); }
    virtual int Op34() { return Answer(34); }
    virtual int Op35() { return Answer(35); }
    virtual int Op36() { return Answer(36); }
    virtual int Op37() { return Answer(37); }
    virtual int Op38() { return Answer(38); }
    virtual int Op39() { return Answer(39); }
    virtual int Op40() { return Answer(40); }
    virtual int Op41() { return Answer(41); }
    virtual int Op42() { return Answer(42); }
    virtual int Op43() { return Answer(43); }
    virtual int Op44() { return Answer(44); }
    virtual int Op45() { return Answer(45); }
    virtual int Op46() { return Answer(46); }
    virtual int Op47() { return Answer(47); }
    virtual int Op48() { return Answer(48); }
    virtual int Op49() { return Answer(49); }
    virtual int Op50() { return Answer(50); }
    virtual int Op51() { return Answer(51); }
    virtual int Op52() { return Answer(52); }
    virtual int Op53() { return Answer(53); }
    virtual int Op54() { return Answer(54); }
    virtual int Op55() { return Answer(55); }
    virtual int Op56() { return Answer(56); }
    virtual int Op57() { return Answer(57); }
    virtual int Op58() { return Answer(58); }
    virtual int Op59() { return Answer(59); }
    virtual int Op60() { return Answer(60); }
    virtual int Op61() { return Answer(61); }
    virtual int Op62() { return Answer(62); }
    virtual int Op63() { return Answer(63); }
    virtual int Op64() { return Answer(64); }
    virtual int Op65() { return Answer(65); }
    virtual int Op66() { return Answer(66); }
    virtual int Op67() { return Answer(67); }
    virtual int Op68() { return Answer(68); }
    virtual int Op69() { return Answer(69); }
    virtual int Op70() { return Answer(70); }
    virtual int Op71() { return Answer(71); }
    virtual int Op72() { return Answer(72); }
    virtual int Op73() { return Answer(73); }
    virtual int Op74() { return Answer(74); }
    virtual int Op75() { return Answer(75); }
    virtual int Op76() { return Answer(76); }
    virtual int Op77() { return Answer(77); }
    virtual int Op78() { return Answer(78); }
    virtual int Op79() { return Answer(79); }
    virtual int Op80() { return Answer(80); }
    virtual int Op81() { return Answer(81); }
    virtual int Op82() { return Answer(82); }
    virtual int Op83() { return Answer(83); }
    virtual int Op84() { return Answer(84); }
    virtual int Op85() { return Answer(85); }
    virtual int Op86() { return Answer(86); }
    virtual int Op87() { return Answer(87); }
    virtual int Op88() { return Answer(88); }
    virtual int Op89() { return Answer(89); }
    virtual int Op90() { return Answer(90); }
    virtual int Op91() { return Answer(91); }
    virtual int Op92() { return Answer(92); }
    virtual int Op93() { return Answer(93); }
    virtual int Op94() { return Answer(94); }
    virtual int Op95() { return Answer(95); }
    virtual int Op96() { return Answer(96); }
    virtual int Op97() { return Answer(97); }
    virtual int Op98() { return Answer(98); }
    virtual int Op99() { return Answer(99); }
    virtual int Op100() { return Answer(100); }
    virtual int Op101() { return Answer(101); }
    virtual int Op102() { return Answer(102); }
    virtual int Op103() { return Answer(103); }
    virtual int Op104() { return Answer(104); }
    virtual int Op105() { return Answer(105); }
    virtual int Op106() { return Answer(106); }
    virtual int Op107() { return Answer(107); }
    virtual int Op108() { return Answer(108); }
    virtual int Op109() { return Answer(109); }
    virtual int Op110() { return Answer(110); }
    virtual int Op111() { return Answer(111); }
    virtual int Op112() { return Answer(112); }
    virtual int Op113() { return Answer(113); }
    virtual int Op114() { return Answer(114); }
    virtual int Op115() { return Answer(115); }
    virtual int Op116() { return Answer(116); }
    virtual int Op117() { return Answer(117); }
    virtual int Op118() { return Answer(118); }
    virtual int Op119() { return Answer(119); }
    virtual int Op120() { return Answer(120); }
    virtual int Op121() { return Answer(121); }
    virtual int Op122() { return Answer(122); }
    virtual int Op123() { return Answer(123); }
    virtual int Op124() { return Answer(124); }
    virtual int Op125() { return Answer(125); }
    virtual int Op126() { return Answer(126); }
    virtual int Op127() { return Answer(127); }
    virtual int Op128() { return Answer(128); }
    virtual int Op129() { return Answer(129); }
    virtual int Op130() { return Answer(130); }
    virtual int Op131() { return Answer(131); }
    virtual int Op132() { return Answer(132); }
    virtual int Op133() { return Answer(133); }
    virtual int Op134() { return Answer(134); }
    virtual int Op135() { return Answer(135); }
    virtual int Op136() { return Answer(136); }
    virtual int Op137() { return Answer(137); }
    virtual int Op138() { return Answer(138); }
    virtual int Op139() { return Answer(139); }
    virtual int Op140() { return Answer(140); }
    // After the slots, so that it takes none of their places.
    virtual ~Slots() = default;
private:
    int Answer(std::uint32_t op)
    {
        int c = lib_.Enter(classId_, op, "", interfaceId_, owner_);
        return c >= 0 ? c : PKI_E_NOT_IMPLEMENTED;
    }
    Library& lib_;
    std::uint32_t classId_, interfaceId_;
    IPKIObject* owner_;
};
// clang-format on

// An object of a class no test class models: its first interface and every
// other interface it is made with or offers are Slots tables of their own.
class Generic final : public Object<IPKIObject> {
public:
    Generic(Library& lib, std::uint32_t classId) : Object(lib, classId) {}
    // The table the caller gets for `interfaceId` (made on first use).
    IPKIObject* View(std::uint32_t interfaceId)
    {
        IPKIObject*& v = own_[interfaceId];
        if (!v) {
            auto* slots = new Slots(lib_, classId_, interfaceId, this);
            v = slots;
            OfferView(interfaceId, v, [slots] { delete slots; });
        }
        return v;
    }

private:
    std::map<std::uint32_t, IPKIObject*> own_;  // the views delete them
};

// The class / interface pairs the facade creates; CreateObject makes each.
inline const std::set<std::pair<std::uint32_t, std::uint32_t>>& CreatedClasses()
{
    static const std::set<std::pair<std::uint32_t, std::uint32_t>> pairs = {
        {33, 32},     {4865, 4097}, {4866, 4153}, {4867, 4131}, {4868, 4099}, {4869, 4100}, {4870, 4102}, {4871, 4103},
        {4873, 4106}, {4873, 4225}, {4874, 4107}, {4875, 4110}, {4876, 4109}, {4877, 4111}, {4878, 4112}, {4879, 4113},
        {4880, 4114}, {4881, 4115}, {4882, 4116}, {4883, 4117}, {4885, 4119}, {4886, 4120}, {4888, 4122}, {4889, 4123},
        {4890, 4148}, {4891, 4149}, {4893, 4128}, {4894, 4129}, {4896, 4131}, {4897, 4132}, {4898, 4134}, {4900, 4136},
        {4901, 4138}, {4902, 4140}, {4903, 4131}, {4904, 4141}, {4905, 4146}, {4905, 4259}, {4906, 4143}, {4907, 4145},
        {4910, 4150}, {4911, 4151}, {4912, 4177}, {4913, 4179}, {4914, 4180}, {4916, 4182}, {4918, 4193}, {4918, 4254},
        {4919, 4192}, {4919, 4253}, {4921, 4198}, {4921, 4256}, {4930, 4201}, {4931, 4208}, {4935, 4197}, {4936, 4196},
        {4937, 4195}, {4938, 4181}, {4939, 4217}, {4940, 1},    {4941, 1},    {4942, 4243}};
    return pairs;
}

inline int Library::CreateObject(std::uint32_t classId, std::uint32_t interfaceId, void** object)
{
    int c = Enter(0, 10, std::to_string(classId) + "," + std::to_string(interfaceId));
    if (c >= 0) return c;
    auto maker = makers.find({classId, interfaceId});
    if (maker != makers.end()) {
        *object = maker->second();
        return 0;
    }
    if (classId == PKI_CLASS_REQUEST && interfaceId == PKI_IID_REQUEST) {
        *object = static_cast<IPKIRequest*>(new Request(*this));
        return 0;
    }
    if (classId == PKI_CLASS_CERTIFICATE && interfaceId == PKI_IID_CERTIFICATE) {
        auto* certificate = new Certificate(*this);
        // Its EC and name-pair views are tables of their own (both have a
        // slot 109, which means different things in each).
        for (std::uint32_t view : {std::uint32_t{PKI_IID_CERTIFICATE_EX}, std::uint32_t{4244}}) {
            auto* slots = new Slots(*this, PKI_CLASS_CERTIFICATE, view, certificate);
            certificate->OfferView(view, slots, [slots] { delete slots; });
        }
        *object = static_cast<IPKICertificate*>(certificate);
        return 0;
    }
    if (CreatedClasses().count({classId, interfaceId})) {
        auto* generic = new Generic(*this, classId);
        *object = generic->View(interfaceId);
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
    // Both operations count as library calls: a failing flags query answers
    // no flags.
    std::uint32_t GetContextFlags() override
    {
        if (lib_.Enter(4893, 4, "", PKI_IID_KEY_CONTEXT_DSTU4145, this) >= 0) return 0;
        return flags_;
    }
    int GetContext(void* context, std::uint32_t flags) override
    {
        int c = lib_.Enter(4893, 5, std::to_string(flags), PKI_IID_KEY_CONTEXT_DSTU4145, this);
        if (c >= 0) return c;
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

// ---- Holder profiles: certificates and requests with extensions ----
namespace fake {

// A list of OIDs (extended key usages, policies) with the test's entries.
class OIDList final : public Object<IPKIOIDList> {
public:
    OIDList(Library& lib, std::vector<std::string> oids) : Object(lib, 1), oids_(std::move(oids)) {}
    int GetCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(1, 3, "", 0, this);
        if (c >= 0) return c;
        *count = static_cast<std::uint32_t>(oids_.size());
        return 0;
    }
    int GetOID(std::uint32_t index, PKIBlob* oid) override
    {
        int c = lib_.Enter(1, 4, std::to_string(index), 0, this);
        if (c >= 0) return c;
        if (index >= oids_.size()) return PKI_E_INDEX;
        const std::string& s = oids_[index];
        if (lib_.AllocateBlob(oid, static_cast<std::uint32_t>(s.size() + 1)) != 0) return PKI_E_OUT_OF_MEMORY;
        std::memcpy(oid->data, s.c_str(), s.size() + 1);
        oid->length = static_cast<std::uint32_t>(s.size());
        return 0;
    }

private:
    std::vector<std::string> oids_;
};

class BasicConstraints final : public Object<IPKIBasicConstraints> {
public:
    BasicConstraints(Library& lib, std::uint32_t ca, std::uint32_t pathLength = 0)
        : Object(lib, 4868), ca_(ca), pathLength_(pathLength)
    {
    }
    int GetCA(std::uint32_t* ca) override
    {
        int c = lib_.Enter(4868, 3, "", 0, this);
        if (c >= 0) return c;
        *ca = ca_;
        return 0;
    }
    int GetPathLength(std::uint32_t* pathLength) override
    {
        int c = lib_.Enter(4868, 4, "", 0, this);
        if (c >= 0) return c;
        *pathLength = pathLength_;
        return 0;
    }

private:
    std::uint32_t ca_, pathLength_;
};

// A private-key usage period; either output may be null.
class KeyUsagePeriodValue final : public Object<IPKIKeyUsagePeriod> {
public:
    KeyUsagePeriodValue(Library& lib, SYSTEMTIME start, SYSTEMTIME end) : Object(lib, 4889), start_(start), end_(end) {}
    int GetPeriod(SYSTEMTIME* start, SYSTEMTIME* end) override
    {
        int c = lib_.Enter(4889, 3, "", 0, this);
        if (c >= 0) return c;
        if (start) *start = start_;
        if (end) *end = end_;
        return 0;
    }

private:
    SYSTEMTIME start_, end_;
};

// Directory attributes: with `byOid` the object offers interface 4214 and
// fills each buffer with its value (written whole, as a library that trusts
// the buffer sizes would); without it only the facade's field readers see it.
class DirectoryAttributes final : public Object<IPKIDirectoryAttributes> {
public:
    DirectoryAttributes(Library& lib, bool byOid, std::map<std::string, std::wstring> values)
        : Object(lib, 4918), values_(std::move(values))
    {
        if (byOid) offers.insert(PKI_IID_DIRECTORY_ATTRIBUTES);
    }
    int ReadValues(std::uint32_t count, const char* const* oids, void** buffers) override
    {
        int c = lib_.Enter(4918, 48, std::to_string(count), PKI_IID_DIRECTORY_ATTRIBUTES, this);
        if (c >= 0) return c;
        for (std::uint32_t i = 0; i < count; ++i) {
            auto it = values_.find(oids[i] ? oids[i] : "");
            if (buffers[i] && it != values_.end()) wcscpy(static_cast<wchar_t*>(buffers[i]), it->second.c_str());
        }
        return 0;
    }

private:
    std::map<std::string, std::wstring> values_;
};

// A name object: its attribute values are the library's nameValues.
class Name final : public Object<IPKIName> {
public:
    explicit Name(Library& lib) : Object(lib, 4869) {}
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
};

// What a profile certificate or request hands out: each part is made anew on
// every call (the caller releases it); a code answers instead when set.
struct Profile {
    int validityAnswer = 0;
    SYSTEMTIME notBefore{2024, 1, 1, 1, 0, 0, 0, 0}, notAfter{2030, 1, 1, 1, 0, 0, 0, 0};
    bool keyPeriod = false;
    SYSTEMTIME keyFrom{}, keyTo{};
    int constraintsAnswer = PKI_E_ABSENT;  // 0: present with `ca`
    std::uint32_t ca = 0;
    bool extKeyUsages = false;
    std::vector<std::string> usages;
    bool policies = false;
    std::vector<std::string> policyOids;
    std::uint32_t keyKind = 1;
    bool keyUsage = false;  // present with `keyUsageBits` when set
    std::uint32_t keyUsageBits = 0;
    bool subject = true;
    int attributesAnswer = PKI_E_ABSENT;  // 0: present as below
    bool attributesByOid = true;
    std::map<std::string, std::wstring> attributeValues;
    int listAnswer = PKI_E_ABSENT;  // 0: the subject's attribute list, as below
    bool listByOid = true;
    std::map<std::string, std::wstring> listValues;
};

// A subject attribute list: read by OID through interface 4232 when `byOid`.
class AttributeValues final : public Object<IPKIAttributeValues> {
public:
    AttributeValues(Library& lib, bool byOid, std::map<std::string, std::wstring> values)
        : Object(lib, 4896), values_(std::move(values))
    {
        if (byOid) offers.insert(PKI_IID_ATTRIBUTE_VALUES);
    }
    int GetValueText(const char* oid, wchar_t* text, std::uint32_t capacity) override
    {
        int c = lib_.Enter(4896, 11, oid, PKI_IID_ATTRIBUTE_VALUES, this);
        if (c >= 0) return c;
        auto it = values_.find(oid);
        if (it == values_.end()) return PKI_E_ABSENT;
        if (it->second.size() + 1 > capacity) return PKI_E_FAILURE;
        wcscpy(text, it->second.c_str());
        return 0;
    }

private:
    std::map<std::string, std::wstring> values_;
};

class ProfileCertificate final : public Object<IPKICertificate> {
public:
    ProfileCertificate(Library& lib, Profile profile) : Object(lib, PKI_CLASS_CERTIFICATE), p(std::move(profile))
    {
        offers.insert(PKI_IID_CERTIFICATE);
    }
    Profile p;
    ProfileCertificate* inner = nullptr;  // owned by the test; handed out with a new reference
    ProfileCertificate* rsa = nullptr;
    void AddRef() { ++refs_; }

    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 4, std::to_string(in->length), 0, this);
        return c >= 0 ? c : 0;
    }

    int GetValidity(SYSTEMTIME* start, SYSTEMTIME* end) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 15, "", 0, this);
        if (c >= 0) return c;
        if (p.validityAnswer) return p.validityAnswer;
        if (start) *start = p.notBefore;
        if (end) *end = p.notAfter;
        return 0;
    }
    int GetSubject(void** name) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 19, "", 0, this);
        if (c >= 0) return c;
        if (!p.subject) return PKI_E_ABSENT;
        *name = static_cast<IPKIName*>(new Name(lib_));
        return 0;
    }
    int GetKeyKind(std::uint32_t* kind) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 23, "", 0, this);
        if (c >= 0) return c;
        *kind = p.keyKind;
        return 0;
    }
    int GetBasicConstraints(void** constraints) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 53, "", 0, this);
        if (c >= 0) return c;
        if (p.constraintsAnswer) return p.constraintsAnswer;
        *constraints = static_cast<IPKIBasicConstraints*>(new BasicConstraints(lib_, p.ca));
        return 0;
    }
    int GetPolicyList(void** list) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 61, "", 0, this);
        if (c >= 0) return c;
        if (!p.policies) return PKI_E_ABSENT;
        *list = static_cast<IPKIOIDList*>(new OIDList(lib_, p.policyOids));
        return 0;
    }
    int GetPolicies(void**) override { return PKI_E_ABSENT; }
    int GetAttributeList(void** list) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 56, "", 0, this);
        if (c >= 0) return c;
        if (p.listAnswer) return p.listAnswer;
        *list = static_cast<IPKIAttributeValues*>(new AttributeValues(lib_, p.listByOid, p.listValues));
        return 0;
    }
    int GetExtKeyUsages(void** list) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 71, "", 0, this);
        if (c >= 0) return c;
        if (!p.extKeyUsages) return PKI_E_ABSENT;
        *list = static_cast<IPKIOIDList*>(new OIDList(lib_, p.usages));
        return 0;
    }
    int GetSubjectDirectoryAttributes(void** attributes) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 77, "", 0, this);
        if (c >= 0) return c;
        if (p.attributesAnswer) return p.attributesAnswer;
        *attributes =
            static_cast<IPKIDirectoryAttributes*>(new DirectoryAttributes(lib_, p.attributesByOid, p.attributeValues));
        return 0;
    }
    int GetKeyUsagePeriod(void** period) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 86, "", 0, this);
        if (c >= 0) return c;
        if (!p.keyPeriod) return PKI_E_ABSENT;
        *period = static_cast<IPKIKeyUsagePeriod*>(new KeyUsagePeriodValue(lib_, p.keyFrom, p.keyTo));
        return 0;
    }
    int GetKeyUsage(void** out) override;
    int GetInnerCertificate(void** certificate) override { return View(100, inner, certificate); }
    int GetRSAView(void** certificate) override { return View(103, rsa, certificate); }

private:
    int View(std::uint32_t op, ProfileCertificate* view, void** out)
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, op, "", 0, this);
        if (c >= 0) return c;
        if (!view) return PKI_E_ABSENT;
        view->AddRef();
        *out = static_cast<IPKICertificate*>(view);
        return 0;
    }
};

// A key whose decoding answers by rule (class 4893, operation 4).
class Key final : public Object<IPKIKey> {
public:
    explicit Key(Library& lib) : Object(lib, PKI_CLASS_KEY) {}
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY, 4, std::to_string(in->length), 0, this);
        return c >= 0 ? c : 0;
    }
    int GetKeyValue(PKIBlob*, void**) override { return PKI_E_NOT_IMPLEMENTED; }
    int SetKeyValue(const PKIBlob*, IPKIObject*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetSBox(std::uint8_t*) override { return PKI_E_NOT_IMPLEMENTED; }
    int SetSBox(const std::uint8_t*) override { return PKI_E_NOT_IMPLEMENTED; }
};

class ProfileRequest final : public Object<IPKIRequest> {
public:
    ProfileRequest(Library& lib, Profile profile) : Object(lib, PKI_CLASS_REQUEST), p(std::move(profile)) {}
    Profile p;
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetKeyKind(std::uint32_t* kind) override
    {
        *kind = p.keyKind;
        return 0;
    }
    int GetSubject(void** name) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 9, "", 0, this);
        if (c >= 0) return c;
        if (!p.subject) return PKI_E_ABSENT;
        *name = static_cast<IPKIName*>(new Name(lib_));
        return 0;
    }
    int GetDirectoryAttributes(void** attributes) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 82, "", 0, this);
        if (c >= 0) return c;
        if (p.attributesAnswer) return p.attributesAnswer;
        *attributes =
            static_cast<IPKIDirectoryAttributes*>(new DirectoryAttributes(lib_, p.attributesByOid, p.attributeValues));
        return 0;
    }
};

}  // namespace fake

// ---- Hash signatures, public keys and key parameters ----
// Objects that hold real key material (the tests make the pairs through the
// providers), a signature value and an encoder that keep exactly what the
// facade sets, and a key cache that really stores a value per slot.
#include <vector>

#include "support/PKIObjectModel.h"

namespace fake {

// A table of its own for one interface of an object; it shares the owner's
// reference count.
template <typename Base>
class ViewOf : public Base {
public:
    explicit ViewOf(IPKIObject* owner) : owner_(owner) {}
    virtual ~ViewOf() = default;
    int Release() override { return owner_->Release(); }
    int QueryInterface(std::uint32_t iid, void** object) override { return owner_->QueryInterface(iid, object); }

protected:
    IPKIObject* owner_;
};

template <typename Owner, typename View>
View* AddView(Owner* owner, std::uint32_t iid, View* view)
{
    owner->OfferView(iid, view, [view] { delete view; });
    return view;
}

inline int CopyToLibraryBlob(Library& lib, const std::vector<std::uint8_t>& bytes, PKIBlob* out)
{
    if (lib.AllocateBlob(out, static_cast<std::uint32_t>(bytes.size())) != 0) return PKI_E_OUT_OF_MEMORY;
    if (!bytes.empty()) std::memcpy(out->data, bytes.data(), bytes.size());
    return 0;
}

// Signature value (4907 / 4145). Its getters write the whole value, as the
// library does: bounding the copy is the caller's business.
class SignatureValue final : public Object<IPKISignatureValue> {
public:
    struct Form {
        std::vector<std::uint8_t> bytes;
        std::uint32_t bits = 0;
        bool set = false;
    };
    explicit SignatureValue(Library& lib) : Object(lib, PKI_CLASS_SIGNATURE_VALUE) {}
    Form forms[3];  // DSTU 4145, RSA, ECDSA
    int GetDSTU4145(std::uint8_t* bytes, std::uint32_t* bits) override { return Get(0, 3, bytes, bits); }
    int SetDSTU4145(const std::uint8_t* bytes, std::uint32_t bits) override { return Set(0, 4, bytes, bits); }
    int GetRSA(std::uint8_t* bytes, std::uint32_t* bits) override { return Get(1, 5, bytes, bits); }
    int SetRSA(const std::uint8_t* bytes, std::uint32_t bits) override { return Set(1, 6, bytes, bits); }
    int GetECDSA(std::uint8_t* bytes, std::uint32_t* bits) override { return Get(2, 7, bytes, bits); }
    int SetECDSA(const std::uint8_t* bytes, std::uint32_t bits) override { return Set(2, 8, bytes, bits); }

private:
    int Get(int f, std::uint32_t op, std::uint8_t* bytes, std::uint32_t* bits)
    {
        int c = lib_.Enter(PKI_CLASS_SIGNATURE_VALUE, op, bytes ? "bytes" : "length");
        if (c >= 0) return c;
        if (!forms[f].set) return PKI_E_NOT_SET;
        *bits = forms[f].bits;
        if (bytes && !forms[f].bytes.empty()) std::memcpy(bytes, forms[f].bytes.data(), forms[f].bytes.size());
        return 0;
    }
    int Set(int f, std::uint32_t op, const std::uint8_t* bytes, std::uint32_t bits)
    {
        int c = lib_.Enter(PKI_CLASS_SIGNATURE_VALUE, op, std::to_string(bits));
        if (c >= 0) return c;
        forms[f].bytes.assign(bytes, bytes + (bits + 7) / 8);
        forms[f].bits = bits;
        forms[f].set = true;
        return 0;
    }
};

// The encoding of a signature value: "SV", then per form a set byte, the bit
// length (u32 little-endian) and (bits + 7) / 8 bytes.
inline std::vector<std::uint8_t> EncodeSignatureValue(const SignatureValue::Form (&forms)[3])
{
    std::vector<std::uint8_t> out = {'S', 'V'};
    for (const auto& f : forms) {
        out.push_back(f.set ? 1 : 0);
        for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>(f.bits >> (8 * b)));
        out.insert(out.end(), f.bytes.begin(), f.bytes.end());
    }
    return out;
}

// A peer's signature value of one form (0 DSTU 4145, 1 RSA, 2 ECDSA).
inline std::vector<std::uint8_t> PeerSignature(int form, const std::vector<std::uint8_t>& bytes)
{
    SignatureValue::Form forms[3];
    forms[form] = {bytes, static_cast<std::uint32_t>(bytes.size() * 8), true};
    return EncodeSignatureValue(forms);
}

// Encoder (33 / 32) of signature values.
class Codec final : public Object<IPKICodec> {
public:
    explicit Codec(Library& lib) : Object(lib, PKI_CLASS_CODEC) {}
    int Attach(IPKIObject* object) override
    {
        int c = lib_.Enter(PKI_CLASS_CODEC, 5, "");
        if (c >= 0) return c;
        attached_ = dynamic_cast<SignatureValue*>(object);
        return attached_ ? 0 : PKI_E_INVALID_ARGUMENT;
    }
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CODEC, 3, "");
        if (c >= 0) return c;
        if (!attached_) return PKI_E_NOT_SET;
        return CopyToLibraryBlob(lib_, EncodeSignatureValue(attached_->forms), out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_CODEC, 4, std::to_string(in->length));
        if (c >= 0) return c;
        if (!attached_) return PKI_E_NOT_SET;
        SignatureValue::Form forms[3];
        std::size_t at = 2;
        if (in->length < 2 || in->data[0] != 'S' || in->data[1] != 'V') return PKI_E_BAD_ENCODING;
        for (auto& f : forms) {
            if (in->length - at < 5) return PKI_E_BAD_ENCODING;
            f.set = in->data[at] != 0;
            f.bits = static_cast<std::uint32_t>(in->data[at + 1]) |
                     (static_cast<std::uint32_t>(in->data[at + 2]) << 8) |
                     (static_cast<std::uint32_t>(in->data[at + 3]) << 16) |
                     (static_cast<std::uint32_t>(in->data[at + 4]) << 24);
            at += 5;
            std::size_t n = (static_cast<std::size_t>(f.bits) + 7) / 8;
            if (in->length - at < n) return PKI_E_BAD_ENCODING;
            f.bytes.assign(in->data + at, in->data + at + n);
            at += n;
        }
        if (at != in->length) return PKI_E_BAD_ENCODING;
        for (int i = 0; i < 3; ++i) attached_->forms[i] = forms[i];
        return 0;
    }

private:
    SignatureValue* attached_ = nullptr;  // the caller keeps it alive
};

// DSTU 4145 parameters with real curve records.
struct Curve {
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint8_t sBox[64] = {};
    std::uint32_t flag = 0, first = 0, second = 0;  // slots 3 and 6
};

// Interface 4215 of an object that takes a provider context: it answers
// `flags` and records what the facade set (the context as the three words).
class ContextRecorder final : public ViewOf<IPKIKeyContextDSTU4145> {
public:
    ContextRecorder(Library& lib, IPKIObject* owner, std::uint32_t classId) : ViewOf(owner), lib_(lib), class_(classId)
    {
    }
    std::uint32_t flags = 0;
    std::vector<std::uint32_t> flagsSet;
    bool contextSet = false;
    CSPContextLike context{};
    std::uint32_t contextFlags = 0;
    // A source's context: what GetContext answers (answer nonzero: fails).
    CSPContextLike lends{};
    int answer = 0;
    std::uint32_t GetContextFlags() override
    {
        if (lib_.Enter(class_, 4, "", PKI_IID_KEY_CONTEXT_DSTU4145, this) >= 0) return 0;
        return flags;
    }
    int GetContext(void* out, std::uint32_t f) override
    {
        int c = lib_.Enter(class_, 5, std::to_string(f), PKI_IID_KEY_CONTEXT_DSTU4145, this);
        if (c >= 0) return c;
        if (answer) return answer;
        std::memcpy(out, &lends, sizeof lends);
        return 0;
    }
    int SetContextFlags(std::uint32_t f) override
    {
        int c = lib_.Enter(class_, 6, std::to_string(f), PKI_IID_KEY_CONTEXT_DSTU4145, this);
        if (c >= 0) return c;
        flagsSet.push_back(f);
        return 0;
    }
    int SetContext(const void* in, std::uint32_t f) override
    {
        int c = lib_.Enter(class_, 3, std::to_string(f), PKI_IID_KEY_CONTEXT_DSTU4145, this);
        if (c >= 0) return c;
        std::memcpy(&context, in, sizeof context);
        contextFlags = f;
        contextSet = true;
        return 0;
    }

private:
    Library& lib_;
    std::uint32_t class_;
};

class CurveParameters final : public Object<IPKIParameters> {
public:
    CurveParameters(Library& lib, const Curve& curve) : Object(lib, PKI_CLASS_DSTU4145_PARAMETERS), curve_(curve) {}
    // Offers interface 4215: the parameters take a provider context.
    ContextRecorder* context = nullptr;
    void OfferContext()
    {
        context =
            AddView(this, PKI_IID_KEY_CONTEXT_DSTU4145, new ContextRecorder(lib_, this, PKI_CLASS_DSTU4145_PARAMETERS));
    }
    int GetParameters(DSTU4145FieldRecord* field, DSTU4145PointRecord* point, std::uint8_t* sBox) override
    {
        int c = lib_.Enter(PKI_CLASS_DSTU4145_PARAMETERS, 5, "");
        if (c >= 0) return c;
        if (field) *field = curve_.field;
        if (point) *point = curve_.point;
        if (sBox) std::memcpy(sBox, curve_.sBox, 64);
        return 0;
    }
    int GetFlag(std::uint32_t* flag) override
    {
        int c = lib_.Enter(PKI_CLASS_DSTU4145_PARAMETERS, 3, "");
        return c >= 0 ? c : (*flag = curve_.flag, 0);
    }
    int GetValues(std::uint32_t* first, std::uint32_t* second, void*) override
    {
        int c = lib_.Enter(PKI_CLASS_DSTU4145_PARAMETERS, 6, "");
        if (c >= 0) return c;
        *first = curve_.first;
        *second = curve_.second;
        return 0;
    }
    // What the facade set, as "explicit:m=<degree>,n=<order bits>" or
    // "standard:<basis>,<index>", then ",sbox=<hex>" for an S-box of its own.
    std::string set;
    int SetExplicit(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                    const std::uint8_t* sBox) override
    {
        int c = lib_.Enter(PKI_CLASS_DSTU4145_PARAMETERS, 7, "");
        if (c >= 0) return c;
        curve_.field = *field;
        curve_.point = *point;
        if (sBox) std::memcpy(curve_.sBox, sBox, 64);  // its own S-box is the one it answers
        set = "explicit:m=" + std::to_string(field->words[DSTU4145_FIELD_M]) +
              ",n=" + std::to_string(point->words[DSTU4145_POINT_BITS]) + SBoxNote(sBox);
        return 0;
    }
    int SetStandard(std::uint32_t polynomialBasis, std::uint32_t index, const std::uint8_t* sBox) override
    {
        int c = lib_.Enter(PKI_CLASS_DSTU4145_PARAMETERS, 8, "");
        if (c >= 0) return c;
        set = "standard:" + std::to_string(polynomialBasis) + "," + std::to_string(index) + SBoxNote(sBox);
        return 0;
    }
    int GetName(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int SetName(const char*, const std::uint8_t*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetBlock(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int SetBlock(const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }

private:
    std::string SBoxNote(const std::uint8_t* sBox);
    Curve curve_;
};

inline std::string Hex(const std::uint8_t* bytes, std::size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

inline std::string CurveParameters::SBoxNote(const std::uint8_t* sBox)
{
    return sBox ? ",sbox=" + Hex(sBox, 64) : "";
}

// The parameters of a key-agreement key (4881 / 4115): its curve, the
// parameters' S-box (curve.sBox) and the agreement key's own S-box. It lends
// a provider context through interface 4215 when the test offers one.
class AgreementParameters final : public Object<IPKIAgreementParameters> {
public:
    AgreementParameters(Library& lib, const Curve& curve, const std::uint8_t* keySBox)
        : Object(lib, PKI_CLASS_AGREEMENT_PARAMETERS), curve_(curve)
    {
        std::memcpy(keySBox_, keySBox, 64);
        offers.insert(PKI_IID_AGREEMENT_PARAMETERS);
    }
    ContextRecorder* context = nullptr;
    ContextRecorder* OfferContext()
    {
        return context = AddView(this, PKI_IID_KEY_CONTEXT_DSTU4145,
                                 new ContextRecorder(lib_, this, PKI_CLASS_AGREEMENT_PARAMETERS));
    }
    int GetRecords(DSTU4145FieldRecord* field, DSTU4145PointRecord* point, std::uint8_t* keySBox,
                   std::uint8_t* sBox) override
    {
        int c = lib_.Enter(PKI_CLASS_AGREEMENT_PARAMETERS, 3, "", PKI_IID_AGREEMENT_PARAMETERS, this);
        if (c >= 0) return c;
        if (field) *field = curve_.field;
        if (point) *point = curve_.point;
        if (keySBox) std::memcpy(keySBox, keySBox_, 64);
        if (sBox) std::memcpy(sBox, curve_.sBox, 64);
        return 0;
    }

private:
    Curve curve_;
    std::uint8_t keySBox_[64];
};

// A bytes value (4896 / 4131): a key identifier.
class BytesValue final : public Object<IPKIAttribute> {
public:
    BytesValue(Library& lib, std::vector<std::uint8_t> value) : Object(lib, 4896), value_(std::move(value)) {}
    int GetValue(PKIBlob* value) override
    {
        int c = lib_.Enter(4896, 3, "");
        if (c >= 0) return c;
        return CopyToLibraryBlob(lib_, value_, value);
    }
    int SetValue32(const std::uint8_t* value) override
    {
        int c = lib_.Enter(4896, 4, "32");
        if (c >= 0) return c;
        value_.assign(value, value + 32);
        return 0;
    }
    int GetValueWithLength(std::uint8_t*, std::uint32_t*) override { return PKI_E_NOT_IMPLEMENTED; }
    int SetValue(const void* data, std::uint32_t length) override
    {
        int c = lib_.Enter(4896, 6, std::to_string(length));
        if (c >= 0) return c;
        value_.assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + length);
        return 0;
    }
    const std::vector<std::uint8_t>& Value() const { return value_; }

private:
    std::vector<std::uint8_t> value_;
};

// The key cache of a key object (interface 4233): one stored value per slot.
class KeyCache final : public ViewOf<IPKIKeySet> {
public:
    KeyCache(Library& lib, IPKIObject* owner) : ViewOf(owner), lib_(lib) {}
    std::map<std::uint32_t, std::vector<std::uint8_t>> values;
    int GetKeyCount(std::uint32_t*) override { return PKI_E_NOT_IMPLEMENTED; }
    int AddKey(IPKIObject*, const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetKey(std::uint32_t, void**, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int SetValue(std::uint32_t id, const PKIBlob* value) override
    {
        int c = lib_.Enter(4893, 58, std::to_string(id), PKI_IID_KEY_SET);
        if (c >= 0) return c;
        values[id].assign(value->data, value->data + value->length);
        return 0;
    }
    int GetValue(std::uint32_t id, PKIBlob* value) override
    {
        int c = lib_.Enter(4893, 59, std::to_string(id), PKI_IID_KEY_SET);
        if (c >= 0) return c;
        auto it = values.find(id);
        return it == values.end() ? PKI_E_ABSENT : CopyToLibraryBlob(lib_, it->second, value);
    }
    int RemoveValue(std::uint32_t id) override
    {
        int c = lib_.Enter(4893, 60, std::to_string(id), PKI_IID_KEY_SET);
        if (c >= 0) return c;
        return values.erase(id) ? 0 : PKI_E_ABSENT;
    }

private:
    Library& lib_;
};

// A private-key object (4893 / 4128) holding a DSTU 4145, RSA or EC key.
class KeyObject final : public Object<IPKIKeyObject> {
public:
    explicit KeyObject(Library& lib) : Object(lib, 4893)
    {
        cache = AddView(this, PKI_IID_KEY_SET, new KeyCache(lib, this));
    }
    std::uint32_t capabilities = 0;
    std::vector<std::uint8_t> dstuPrivate;  // little-endian, at most 76 bytes
    Curve curve;
    std::vector<std::uint8_t> rsaPrivate = std::vector<std::uint8_t>(1200);
    std::uint8_t rsaProfile[8] = {};
    std::vector<std::uint8_t> ecPrivate = std::vector<std::uint8_t>(76);
    std::vector<std::uint8_t> ecRecord = std::vector<std::uint8_t>(536);
    KeyCache* cache;
    // What the facade wrote through interface 4224: an identifier's bytes,
    // or another object handed to slot 56 (kept referenced).
    std::vector<std::uint8_t> writtenPoint, writtenRecord, writtenIdentifier;
    IPKIObject* handed = nullptr;
    // The identifier object slot 55 gives (empty: none).
    std::vector<std::uint8_t> givenIdentifier;
    ~KeyObject() override
    {
        if (handed) handed->Release();
        if (agreementParameters) agreementParameters->Release();
    }

    // Offers interface 4224 (EC key and its capabilities).
    void OfferECKey()
    {
        class ECKey final : public ViewOf<IPKIKeyExportEC> {
        public:
            ECKey(KeyObject* key) : ViewOf(key), key_(key) {}
            int GetUsage(std::uint32_t*) override { return PKI_E_NOT_IMPLEMENTED; }
            int Export(std::uint32_t, std::uint8_t*, std::uint32_t) override { return PKI_E_NOT_IMPLEMENTED; }
            int SetDSTU4145Part(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*,
                                const PKIBlob*, const PKIBlob*) override
            {
                return PKI_E_NOT_IMPLEMENTED;
            }
            int GetECCapabilities(std::uint32_t* bits) override
            {
                int c = key_->lib_.Enter(4893, 52, "", PKI_IID_KEY_EXPORT);
                if (c >= 0) return c;
                *bits = key_->capabilities;
                return 0;
            }
            int ReadECKey(std::uint8_t* key, std::uint32_t* length, const void*, const void*,
                          std::uint8_t* record) override
            {
                int c = key_->lib_.Enter(4893, 53, "", PKI_IID_KEY_EXPORT);
                if (c >= 0) return c;
                std::memcpy(key, key_->ecPrivate.data(), 76);
                *length = 76;
                std::memcpy(record, key_->ecRecord.data(), 536);
                return 0;
            }
            int WriteECKey(const std::uint8_t* key, std::uint32_t length, const std::uint8_t* record) override
            {
                int c = key_->lib_.Enter(4893, 54, std::to_string(length), PKI_IID_KEY_EXPORT);
                if (c >= 0) return c;
                key_->writtenPoint.assign(key, key + length);
                key_->writtenRecord.assign(record, record + 536);
                return 0;
            }
            int SetKeyIdentifier(IPKIObject* identifier) override
            {
                int c = key_->lib_.Enter(4893, 56, "", PKI_IID_KEY_EXPORT);
                if (c >= 0) return c;
                if (auto* value = dynamic_cast<BytesValue*>(identifier)) {
                    key_->writtenIdentifier = value->Value();
                    return 0;
                }
                void* kept = nullptr;
                if (!identifier || identifier->QueryInterface(PKI_IID_KEY_CONTEXT_INTL, &kept) != 0) {
                    return PKI_E_INVALID_ARGUMENT;
                }
                if (key_->handed) key_->handed->Release();
                key_->handed = static_cast<IPKIObject*>(kept);
                return 0;
            }
            int GetKeyIdentifier(void** identifier) override
            {
                int c = key_->lib_.Enter(4893, 55, "", PKI_IID_KEY_EXPORT);
                if (c >= 0) return c;
                if (key_->givenIdentifier.empty()) return PKI_E_ABSENT;
                *identifier = static_cast<IPKIAttribute*>(new BytesValue(key_->lib_, key_->givenIdentifier));
                return 0;
            }

        private:
            KeyObject* key_;
        };
        AddView(this, PKI_IID_KEY_EXPORT, new ECKey(this));
    }

    // Offers interface 4230 with a context of the test's.
    void OfferIntlContext(std::uint32_t flags, CSPContextLike context)
    {
        class Intl final : public ViewOf<IPKIKeyContextIntl> {
        public:
            Intl(IPKIObject* owner, std::uint32_t flags, CSPContextLike context)
                : ViewOf(owner), flags_(flags), context_(context)
            {
            }
            std::uint32_t GetContextFlags() override { return flags_; }
            int GetContext(void* context, std::uint32_t) override
            {
                std::memcpy(context, &context_, sizeof context_);
                return 0;
            }

        private:
            std::uint32_t flags_;
            CSPContextLike context_;
        };
        AddView(this, PKI_IID_KEY_CONTEXT_INTL, new Intl(this, flags, context));
    }

    int GetCapabilities(std::uint32_t* bits) override
    {
        int c = lib_.Enter(4893, 5, "");
        if (c >= 0) return c;
        *bits = capabilities;
        return 0;
    }
    int GetKeyValue(PKIBlob* value, void** parameters) override
    {
        int c = lib_.Enter(4893, 7, "");
        if (c >= 0) return c;
        if (CopyToLibraryBlob(lib_, dstuPrivate, value) != 0) return PKI_E_OUT_OF_MEMORY;
        *parameters = static_cast<IPKIParameters*>(new CurveParameters(lib_, curve));
        return 0;
    }
    int GetRSAKey(std::uint8_t* privateKey, std::uint8_t* profile) override
    {
        int c = lib_.Enter(4893, 9, "");
        if (c >= 0) return c;
        if (rsaAnswer) return rsaAnswer;
        // The library may write the key's whole 1,200 words: so does the
        // double, which an undersized buffer does not survive under ASan.
        std::memcpy(privateKey, rsaPrivate.data(), 1200);
        std::memset(privateKey + 1200, 0, 4800 - 1200);
        std::memcpy(profile, rsaProfile, 8);
        return 0;
    }
    // Slot 10 signs an object with the DSTU 4145 key through a signer the
    // test installs (the OCSP double's, over the real provider).
    std::function<int(KeyObject&, IPKIObject*)> signsObject;
    int SignObjectDSTU4145(IPKIObject* object, std::uint8_t*) override
    {
        int c = lib_.Enter(4893, 10, "");
        if (c >= 0) return c;
        return signsObject ? signsObject(*this, object) : PKI_E_NOT_IMPLEMENTED;
    }
    // The identifiers the key was given (slots 11, 31, 39; empty: none).
    std::vector<std::uint8_t> signatureId, agreementId, rsaId;
    int GivenIdentifier(std::uint32_t op, const std::vector<std::uint8_t>& id, void** out)
    {
        int c = lib_.Enter(4893, op, "");
        if (c >= 0) return c;
        if (id.empty()) return PKI_E_ABSENT;
        *out = static_cast<IPKIAttribute*>(new BytesValue(lib_, id));
        return 0;
    }
    int GetSignatureKeyIdentifier(void** out) override { return GivenIdentifier(11, signatureId, out); }
    int GetAgreementKeyIdentifier(void** out) override { return GivenIdentifier(31, agreementId, out); }
    int GetRSAKeyIdentifier(void** out) override { return GivenIdentifier(39, rsaId, out); }
    // The key-agreement part (slots 25 and 28): its private key (empty:
    // none; agreementAnswer nonzero: the read fails so) and its parameters
    // (null: none), of which the key keeps one reference.
    std::vector<std::uint8_t> agreementPrivate;
    int agreementAnswer = 0;
    AgreementParameters* agreementParameters = nullptr;
    int GetAgreementKeyValue(PKIBlob* value) override
    {
        int c = lib_.Enter(4893, 25, "");
        if (c >= 0) return c;
        if (agreementAnswer) return agreementAnswer;
        return CopyToLibraryBlob(lib_, agreementPrivate, value) != 0 ? PKI_E_OUT_OF_MEMORY : 0;
    }
    int GetAgreementParameters(void** out) override
    {
        int c = lib_.Enter(4893, 28, "");
        if (c >= 0) return c;
        if (!agreementParameters) return PKI_E_ABSENT;
        return agreementParameters->QueryInterface(PKI_IID_AGREEMENT_PARAMETERS, out);
    }
    // RSA slot 9 answers this when nonzero (PKI_E_ABSENT: no private key).
    int rsaAnswer = 0;
};

// EC values (public point, parameter record) of a request (4225) or a
// certificate (4226), and what the facade wrote through the EC views.
struct ECValues {
    std::vector<std::uint8_t> point = std::vector<std::uint8_t>(152);
    std::vector<std::uint8_t> record = std::vector<std::uint8_t>(536);
    struct Written {
        std::uint32_t a = 0, b = 0, value = 0;
        std::vector<std::uint8_t> record, key;  // record: 540 bytes
        std::string how;                        // the operation that wrote
    } written;
    int Write(const char* how, std::uint32_t a, std::uint32_t b, const std::uint8_t* record)
    {
        written.how = how;
        written.a = a;
        written.b = b;
        if (record) written.record.assign(record, record + 540);
        return 0;
    }
    int Copy(const char* how, const std::uint8_t* key, const std::uint8_t* record)
    {
        written.how = how;
        written.key.assign(key, key + 152);
        written.record.assign(record, record + 540);
        return 0;
    }
    int Read(std::uint32_t index, std::uint8_t* value) const
    {
        if (index == PKI_EC_VALUE_PUBLIC_KEY) {
            std::memcpy(value, point.data(), point.size());
        } else if (index == PKI_EC_VALUE_RECORD) {
            std::memcpy(value, record.data(), record.size());
        } else {
            return PKI_E_INDEX;
        }
        return 0;
    }
};

// A request (4873 / 4106) with the key of its kind, an optional key
// identifier and an optional hash code (interface 4237).
class KeyRequest final : public Object<IPKIRequestKeys> {
public:
    explicit KeyRequest(Library& lib, std::uint32_t kind) : Object(lib, PKI_CLASS_REQUEST), kind_(kind)
    {
        class EC final : public ViewOf<IPKIRequestEC> {
        public:
            EC(KeyRequest* owner) : ViewOf(owner), r_(owner) {}
            int GetECValue(std::uint32_t index, std::uint8_t* value) override
            {
                int c = r_->lib_.Enter(PKI_CLASS_REQUEST, 102, std::to_string(index), PKI_IID_EC_REQUEST);
                return c >= 0 ? c : r_->ec.Read(index, value);
            }
            int SetECRecord(std::uint32_t a, std::uint32_t b, const std::uint8_t* record) override
            {
                int c = r_->lib_.Enter(PKI_CLASS_REQUEST, 104, "", PKI_IID_EC_REQUEST);
                return c >= 0 ? c : r_->ec.Write("4225:104", a, b, record);
            }
            int NormalizeECRecord(const std::uint8_t* record) override
            {
                int c = r_->lib_.Enter(PKI_CLASS_REQUEST, 105, "", PKI_IID_EC_REQUEST);
                if (c >= 0) return c;
                r_->ec.written.how = "4225:105";
                r_->ec.written.record.assign(record, record + 536);
                return 0;
            }

        private:
            KeyRequest* r_;
        };
        AddView(this, PKI_IID_EC_REQUEST, new EC(this));
        offers.insert(PKI_IID_REQUEST);
    }
    std::vector<std::uint8_t> dstuPublic = std::vector<std::uint8_t>(76);
    Curve curve;
    std::vector<std::uint8_t> rsaFields = std::vector<std::uint8_t>(1200);
    std::uint32_t rsaBits = 0;
    ECValues ec;
    std::vector<std::uint8_t> identifier;  // empty: none

    void OfferHashCode(std::uint32_t code)
    {
        class Hash final : public ViewOf<IPKIRequestHash> {
        public:
            Hash(IPKIObject* owner, std::uint32_t code) : ViewOf(owner), code_(code) {}
            int GetHashCode(std::uint32_t* code) override { return *code = code_, 0; }

        private:
            std::uint32_t code_;
        };
        AddView(this, PKI_IID_REQUEST_HASH, new Hash(this, code));
    }
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetKeyKind(std::uint32_t* kind) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 13, "");
        if (c >= 0) return c;
        *kind = kind_;
        return 0;
    }
    int GetRSAPublicKey(std::uint8_t* fields, std::uint32_t* bits) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 15, "");
        if (c >= 0) return c;
        std::memcpy(fields, rsaFields.data(), 1200);
        *bits = rsaBits;
        return 0;
    }
    int GetDSTU4145PublicKey(std::uint8_t* key, std::uint32_t* length, void** parameters) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 16, "");
        if (c >= 0) return c;
        std::memcpy(key, dstuPublic.data(), 76);
        *length = (curve.field.words[DSTU4145_FIELD_M] + 7) / 8;
        *parameters = static_cast<IPKIParameters*>(new CurveParameters(lib_, curve));
        return 0;
    }
    int GetKeyIdentifier(void** value) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 88, "");
        if (c >= 0) return c;
        if (identifier.empty()) return PKI_E_ABSENT;
        *value = static_cast<IPKIAttribute*>(new BytesValue(lib_, identifier));
        return 0;
    }

private:
    std::uint32_t kind_;
};

// A certificate (4870 / 4102) with the key of its kind and its EC view
// (interface 4226).
class KeyCertificate final : public Object<IPKICertificate> {
public:
    KeyCertificate(Library& lib, std::uint32_t kind) : Object(lib, PKI_CLASS_CERTIFICATE), kind_(kind)
    {
        class EC final : public ViewOf<IPKICertificateECKeys> {
        public:
            EC(KeyCertificate* owner) : ViewOf(owner), c_(owner) {}
            int GetECPublicKey(PKIBlob*, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
            int GetECValue(std::uint32_t index, std::uint8_t* value) override
            {
                int c = c_->lib_.Enter(PKI_CLASS_CERTIFICATE, 106, std::to_string(index), PKI_IID_CERTIFICATE_EX);
                return c >= 0 ? c : c_->ec.Read(index, value);
            }
            int SetECPair(std::uint32_t a, std::uint32_t b) override
            {
                int c = c_->lib_.Enter(PKI_CLASS_CERTIFICATE, 107, "", PKI_IID_CERTIFICATE_EX);
                return c >= 0 ? c : c_->ec.Write("4226:107", a, b, nullptr);
            }
            int SetECRecord(std::uint32_t a, std::uint32_t b, const std::uint8_t* record) override
            {
                int c = c_->lib_.Enter(PKI_CLASS_CERTIFICATE, 108, "", PKI_IID_CERTIFICATE_EX);
                return c >= 0 ? c : c_->ec.Write("4226:108", a, b, record);
            }
            int CopyEC(const std::uint8_t* key, const std::uint8_t* record) override
            {
                int c = c_->lib_.Enter(PKI_CLASS_CERTIFICATE, 109, "", PKI_IID_CERTIFICATE_EX);
                return c >= 0 ? c : c_->ec.Copy("4226:109", key, record);
            }
            int SetECValue(std::uint32_t value) override
            {
                int c = c_->lib_.Enter(PKI_CLASS_CERTIFICATE, 110, "", PKI_IID_CERTIFICATE_EX);
                if (c >= 0) return c;
                c_->ec.written.how = "4226:110";
                c_->ec.written.value = value;
                return 0;
            }
            int GetInnerECCertificate(void** certificate) override
            {
                int c = c_->lib_.Enter(PKI_CLASS_CERTIFICATE, 112, "", PKI_IID_CERTIFICATE_EX);
                if (c >= 0) return c;
                if (!c_->inner) return PKI_E_ABSENT;
                return c_->inner->QueryInterface(PKI_IID_CERTIFICATE, certificate);
            }

        private:
            KeyCertificate* c_;
        };
        AddView(this, PKI_IID_CERTIFICATE_EX, new EC(this));
        offers.insert(PKI_IID_CERTIFICATE);
    }
    std::vector<std::uint8_t> dstuPublic = std::vector<std::uint8_t>(76);
    Curve curve;
    std::vector<std::uint8_t> rsaFields = std::vector<std::uint8_t>(1200);
    std::uint32_t rsaBits = 0;
    ECValues ec;
    KeyCertificate* inner = nullptr;  // not owned
    // The subject key identifier (slot 95; empty: absent) and the RSA view
    // (slot 103; null: none, not owned).
    std::vector<std::uint8_t> keyId;
    IPKIObject* rsaView = nullptr;

    int GetPolicies(void**) override { return PKI_E_ABSENT; }
    int GetSubjectKeyId(void** out) override;
    int GetRSAView(void** out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 103, "");
        if (c >= 0) return c;
        if (!rsaView) return PKI_E_ABSENT;
        return rsaView->QueryInterface(PKI_IID_CERTIFICATE, out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 4, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
    int GetKeyKind(std::uint32_t* kind) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 23, "");
        if (c >= 0) return c;
        *kind = kind_;
        return 0;
    }
    int GetDSTU4145PublicKey(std::uint8_t* key, std::uint32_t* length, void** parameters) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 25, "");
        if (c >= 0) return c;
        std::memcpy(key, dstuPublic.data(), 76);
        *length = (curve.field.words[DSTU4145_FIELD_M] + 7) / 8;
        *parameters = static_cast<IPKIParameters*>(new CurveParameters(lib_, curve));
        return 0;
    }
    int GetRSAPublicKey(std::uint8_t* fields, std::uint32_t* bits) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 29, "");
        if (c >= 0) return c;
        std::memcpy(fields, rsaFields.data(), 1200);
        *bits = rsaBits;
        return 0;
    }

private:
    std::uint32_t kind_;
};

// An object offering the third and fourth forms of EC parameters
// (interfaces 4227 and 4228), keeping what is written through them.
class ECForms final : public Object<IPKIObject> {
public:
    explicit ECForms(Library& lib) : Object(lib, 4880)
    {
        class Form3 final : public ViewOf<IPKIECParametersForm3> {
        public:
            Form3(ECForms* owner) : ViewOf(owner), o_(owner) {}
            int SetECRecord(std::uint32_t a, std::uint32_t b, const std::uint8_t* record) override
            {
                int c = o_->lib_.Enter(4880, 56, "", PKI_IID_EC_FORM3);
                return c >= 0 ? c : o_->ec.Write("4227:56", a, b, record);
            }
            int CopyEC(const std::uint8_t* key, const std::uint8_t* record) override
            {
                int c = o_->lib_.Enter(4880, 57, "", PKI_IID_EC_FORM3);
                return c >= 0 ? c : o_->ec.Copy("4227:57", key, record);
            }

        private:
            ECForms* o_;
        };
        class Form4 final : public ViewOf<IPKIECParametersForm4> {
        public:
            Form4(ECForms* owner) : ViewOf(owner), o_(owner) {}
            int CopyEC(const std::uint8_t* key, const std::uint8_t* record) override
            {
                int c = o_->lib_.Enter(4880, 49, "", PKI_IID_EC_FORM4);
                return c >= 0 ? c : o_->ec.Copy("4228:49", key, record);
            }
            int WriteEC(const std::uint8_t* key, std::uint32_t length, const std::uint8_t* record) override
            {
                int c = o_->lib_.Enter(4880, 48, std::to_string(length), PKI_IID_EC_FORM4);
                if (c >= 0) return c;
                o_->ec.written.how = "4228:48";
                o_->ec.written.key.assign(key, key + length);
                o_->ec.written.record.assign(record, record + 540);
                return 0;
            }

        private:
            ECForms* o_;
        };
        AddView(this, PKI_IID_EC_FORM3, new Form3(this));
        AddView(this, PKI_IID_EC_FORM4, new Form4(this));
    }
    ECValues ec;
    IPKIObject* selectedKey = nullptr;  // what the named-curve selector was given

    // Offers interface 4240 (the named-curve selector).
    void OfferSelector()
    {
        class Selector final : public ViewOf<IPKINamedCurveSelector> {
        public:
            Selector(ECForms* owner) : ViewOf(owner), o_(owner) {}
            int SelectNamedCurve(IPKIObject* key, std::uint32_t argument) override
            {
                int c = o_->lib_.Enter(4880, 52, std::to_string(argument), PKI_IID_NAMED_CURVE);
                if (c >= 0) return c;
                o_->ec.written.how = "4240:52";
                o_->ec.written.value = argument;
                o_->selectedKey = key;
                return 0;
            }

        private:
            ECForms* o_;
        };
        AddView(this, PKI_IID_NAMED_CURVE, new Selector(this));
    }
};

// A signed object reporting its signature family (slot 24) and, when given
// one, a hash code through interface 4238.
class SignedObject final : public Object<IPKISigned> {
public:
    SignedObject(Library& lib, std::uint32_t family) : Object(lib, 4900), family_(family) {}
    void OfferHashCode(std::uint32_t code)
    {
        class Hash final : public ViewOf<IPKISignedHash> {
        public:
            Hash(IPKIObject* owner, std::uint32_t code) : ViewOf(owner), code_(code) {}
            int GetHashCode(std::uint32_t* code) override { return *code = code_, 0; }

        private:
            std::uint32_t code_;
        };
        AddView(this, PKI_IID_SIGNED_HASH, new Hash(this, code));
    }
    int GetSignatureFamily(std::uint32_t* family) override
    {
        int c = lib_.Enter(4900, 24, "");
        if (c >= 0) return c;
        *family = family_;
        return 0;
    }

private:
    std::uint32_t family_;
};

// A request (4873) as the library makes it, through any of its interfaces:
// 4106 (its own table), 4225 (the DSTU 4145 form), 4237 (the hash form) and
// 4248 (the naming view). Decoded, it holds the content the test put in
// KeysLibrary's `dstuRequest` and encodes as the decoded bytes followed by
// the signature. Built, it notes what the facade sets, in order, as
// "what=value;" and encodes as that text, so a test reads back every value
// that went in.
struct DSTURequestContent {
    std::uint32_t kind = 1;
    Curve curve;
    std::vector<std::uint8_t> publicKey = std::vector<std::uint8_t>(76);
    std::uint32_t hashCode = 1;  // what the hash form's slot 108 reports
};

// Extended key usage (4885 / 4119): the multi-string it was given.
class ExtKeyUsage final : public Object<IPKIExtKeyUsage> {
public:
    explicit ExtKeyUsage(Library& lib) : Object(lib, PKI_CLASS_EXT_KEY_USAGE) {}
    std::string usages;  // the OIDs joined by ","
    int SetUsages(const char* list) override
    {
        int c = lib_.Enter(PKI_CLASS_EXT_KEY_USAGE, 5, "");
        if (c >= 0) return c;
        usages.clear();
        for (const char* p = list; *p; p += std::strlen(p) + 1) usages += (usages.empty() ? "" : ",") + std::string(p);
        return 0;
    }
};

class BuiltRequest final : public Object<IPKIRequest> {
public:
    BuiltRequest(Library& lib, const DSTURequestContent& content) : Object(lib, PKI_CLASS_REQUEST), content_(content)
    {
        class EC final : public ViewOf<IPKIRequestEC> {
        public:
            EC(BuiltRequest* owner) : ViewOf(owner), r_(owner) {}
            int Encode(PKIBlob* out) override { return r_->Encode(out); }
            int Decode(const PKIBlob* in) override { return r_->Decode(in); }
            int GetKeyKind(std::uint32_t* kind) override { return r_->GetKeyKind(kind); }
            int GetDSTU4145PublicKey(std::uint8_t* key, std::uint32_t* length, void** parameters) override
            {
                return r_->GetDSTU4145PublicKey(key, length, parameters);
            }
            int SetSignature(const std::uint8_t* signature, std::uint32_t length) override
            {
                int c = r_->lib_.Enter(PKI_CLASS_REQUEST, 101, std::to_string(length), PKI_IID_EC_REQUEST);
                if (c >= 0) return c;
                r_->signature.assign(signature, signature + length);
                return 0;
            }
            int AddExtension(IPKIObject* extension) override { return r_->AddExtension(extension); }
            int SetKeyIdentifier(IPKIObject* identifier) override { return r_->SetKeyIdentifier(identifier); }
            int SetSignatureAlgorithm(const char* oid) override
            {
                return r_->Note(100, PKI_IID_EC_REQUEST, "algorithm=" + std::string(oid));
            }
            int SetPublicKey(const std::uint8_t* key, std::uint32_t length) override
            {
                return r_->Note(103, PKI_IID_EC_REQUEST, "key=" + Hex(key, length));
            }
            int SetECRecord(std::uint32_t a, std::uint32_t b, const std::uint8_t* record) override
            {
                return r_->Note(104, PKI_IID_EC_REQUEST,
                                "record=" + std::to_string(a) + "," + std::to_string(b) + "," + Hex(record, 540));
            }

        private:
            BuiltRequest* r_;
        };
        class Hash final : public ViewOf<IPKIRequestHash> {
        public:
            Hash(BuiltRequest* owner) : ViewOf(owner), r_(owner) {}
            int SetSignatureAlgorithm(const char* oid) override
            {
                return r_->Note(106, PKI_IID_REQUEST_HASH, "algorithm7564=" + std::string(oid));
            }
            int SignDSTU4145WithHashLength(const std::uint8_t* privateKey, std::uint32_t curve, IPKIObject* parameters,
                                           std::uint32_t hashLength) override
            {
                return r_->Sign(107, PKI_IID_REQUEST_HASH, privateKey, curve, parameters,
                                ",hash=" + std::to_string(hashLength));
            }
            int GetHashCode(std::uint32_t* code) override
            {
                int c = r_->lib_.Enter(PKI_CLASS_REQUEST, 108, "", PKI_IID_REQUEST_HASH);
                if (c >= 0) return c;
                *code = r_->content_.hashCode;
                return 0;
            }
            int SetSignatureWithHashLength(const std::uint8_t* signature, std::uint32_t length,
                                           std::uint32_t hashLength) override
            {
                int c = r_->lib_.Enter(PKI_CLASS_REQUEST, 109,
                                       std::to_string(length) + "," + std::to_string(hashLength), PKI_IID_REQUEST_HASH);
                if (c >= 0) return c;
                r_->signature.assign(signature, signature + length);
                return 0;
            }

        private:
            BuiltRequest* r_;
        };
        class Naming final : public ViewOf<IPKIRequestSigning> {
        public:
            Naming(BuiltRequest* owner) : ViewOf(owner), r_(owner) {}
            int SetNameText(const char* name) override
            {
                return r_->Note(111, PKI_IID_REQUEST_SIGNING, "name=" + std::string(name));
            }
            int SetNameTextDSTU4145(const char* name) override
            {
                return r_->Note(112, PKI_IID_REQUEST_SIGNING, "nameDSTU4145=" + std::string(name));
            }

        private:
            BuiltRequest* r_;
        };
        ec_ = AddView(this, PKI_IID_EC_REQUEST, new EC(this));
        AddView(this, PKI_IID_REQUEST_HASH, new Hash(this));
        AddView(this, PKI_IID_REQUEST_SIGNING, new Naming(this));
        offers.insert(PKI_IID_REQUEST);
    }
    // The DSTU 4145 form, handed out on this object's one reference.
    IPKIRequestEC* ECForm() { return ec_; }

    std::string built;
    std::vector<std::uint8_t> decoded, signature;

    int Note(std::uint32_t op, std::uint32_t interfaceId, const std::string& what)
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, op, "", interfaceId);
        if (c >= 0) return c;
        built += what + ";";
        return 0;
    }
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 3, "");
        if (c >= 0) return c;
        std::vector<std::uint8_t> bytes = decoded;
        if (decoded.empty()) bytes.assign(built.begin(), built.end());
        bytes.insert(bytes.end(), signature.begin(), signature.end());
        return CopyToLibraryBlob(lib_, bytes, out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 4, std::to_string(in->length));
        if (c >= 0) return c;
        decoded.assign(in->data, in->data + in->length);
        return 0;
    }
    int GetKeyKind(std::uint32_t* kind) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 13, "");
        if (c >= 0) return c;
        *kind = content_.kind;
        return 0;
    }
    int GetDSTU4145PublicKey(std::uint8_t* key, std::uint32_t* length, void** parameters) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 16, "");
        if (c >= 0) return c;
        std::memcpy(key, content_.publicKey.data(), 76);
        *length = (content_.curve.field.words[DSTU4145_FIELD_M] + 7) / 8;
        *parameters = static_cast<IPKIParameters*>(new CurveParameters(lib_, content_.curve));
        return 0;
    }
    // A DSTU 4145 signing (slot 5, or 107 of the hash form) notes the curve,
    // the private key, the hash length and the parameter object it went
    // through: its curve and, when it takes a context, the flags set on it
    // and the flags the context came with ("hw" when it names a device).
    int Sign(std::uint32_t op, std::uint32_t interfaceId, const std::uint8_t* privateKey, std::uint32_t curve,
             IPKIObject* parameters, const std::string& more)
    {
        auto* through = dynamic_cast<CurveParameters*>(parameters);
        if (!privateKey || !through) return PKI_E_INVALID_ARGUMENT;
        std::string how = "," + through->set;
        if (through->context) {
            for (std::uint32_t f : through->context->flagsSet) how += ",flags=" + std::to_string(f);
            if (through->context->contextSet)
                how += ",context=" + std::to_string(through->context->contextFlags) +
                       (through->context->context.hardware ? "hw" : "");
        }
        return Note(op, interfaceId, "sign=" + std::to_string(curve) + "," + Hex(privateKey, 76) + more + how);
    }
    int SignDSTU4145(const std::uint8_t* privateKey, std::uint32_t curve, IPKIObject* parameters) override
    {
        return Sign(5, 0, privateKey, curve, parameters, "");
    }
    int SetSubject(const std::uint8_t* subject, std::uint32_t* length) override
    {
        return Note(18, 0, "subject=" + Hex(subject, *length));
    }
    int SetPublicKey(const std::uint8_t* key, std::uint32_t bits, IPKIObject* parameters) override
    {
        auto* curve = dynamic_cast<CurveParameters*>(parameters);
        if (!curve) return PKI_E_INVALID_ARGUMENT;
        return Note(19, 0, "key=" + Hex(key, (bits + 7) / 8) + "," + std::to_string(bits) + "," + curve->set);
    }
    int SetSubjectName(const char* name) override { return Note(35, 0, "subjectName=" + std::string(name)); }
    // The signed part: the decoded bytes followed by what was set since.
    int GetToBeSigned(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 25, "");
        if (c >= 0) return c;
        std::vector<std::uint8_t> bytes = decoded;
        bytes.insert(bytes.end(), built.begin(), built.end());
        return CopyToLibraryBlob(lib_, bytes, out);
    }
    int SetSignature(const std::uint8_t* value, std::uint32_t length) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 26, std::to_string(length));
        if (c >= 0) return c;
        signature.assign(value, value + length);
        return 0;
    }
    // A decoded request asks for no extensions until a list is set.
    int GetRequestedExtensions(void**) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 94, "");
        return c >= 0 ? c : PKI_E_ABSENT;
    }
    int SetRequestedExtensions(IPKIObject* extensions) override
    {
        return extensions ? Note(97, 0, "extensions") : PKI_E_INVALID_ARGUMENT;
    }
    int AddExtension(IPKIObject* extension) override
    {
        auto* usage = dynamic_cast<ExtKeyUsage*>(extension);
        if (!usage) return PKI_E_INVALID_ARGUMENT;
        return Note(62, 0, "usages=" + usage->usages);
    }
    int SetKeyIdentifier(IPKIObject* identifier) override
    {
        auto* value = dynamic_cast<BytesValue*>(identifier);
        if (!value) return PKI_E_INVALID_ARGUMENT;
        return Note(89, 0, "identifier=" + Hex(value->Value().data(), value->Value().size()));
    }

private:
    DSTURequestContent content_;
    IPKIRequestEC* ec_;
};

// The library with the encoder, the signature value and the key-identifier
// operations. Identifiers are recognisable rather than hashes: byte i is
// tag ^ key[i % length] ^ i, the tag naming the operation (17, 18, 28, 37).
class KeysLibrary final : public Library {
public:
    DSTURequestContent dstuRequest;
    // Prepares each DSTU 4145 parameter object made here (to offer
    // interface 4215, say).
    std::function<void(CurveParameters&)> prepareParameters;
    // When set, makes the key objects (4893 / 4128) in place of the key
    // object below (a key container of the test's, say).
    std::function<void*()> keyMaker;
    int CreateObject(std::uint32_t classId, std::uint32_t interfaceId, void** object) override
    {
        const std::function<void*()> maker = Maker(classId, interfaceId);
        if (!maker) return Library::CreateObject(classId, interfaceId, object);
        int c = Enter(0, 10, std::to_string(classId) + "," + std::to_string(interfaceId));
        if (c >= 0) return c;
        *object = maker();
        return 0;
    }
    // The objects this library makes itself, by class and interface.
    std::function<void*()> Maker(std::uint32_t classId, std::uint32_t interfaceId)
    {
        const std::map<std::pair<std::uint32_t, std::uint32_t>, std::function<void*()>> makers = {
            {{PKI_CLASS_CODEC, PKI_IID_CODEC}, [this] { return static_cast<IPKICodec*>(new Codec(*this)); }},
            {{PKI_CLASS_SIGNATURE_VALUE, PKI_IID_SIGNATURE_VALUE},
             [this] { return static_cast<IPKISignatureValue*>(new SignatureValue(*this)); }},
            {{PKI_CLASS_ATTRIBUTE, PKI_IID_ATTRIBUTE},
             [this] { return static_cast<IPKIAttribute*>(new BytesValue(*this, {})); }},
            {{PKI_CLASS_REQUEST, PKI_IID_EC_REQUEST},
             [this] { return (new BuiltRequest(*this, dstuRequest))->ECForm(); }},
            {{PKI_CLASS_REQUEST, PKI_IID_REQUEST},
             [this] { return static_cast<IPKIRequest*>(new BuiltRequest(*this, dstuRequest)); }},
            {{PKI_CLASS_EXT_KEY_USAGE, PKI_IID_EXT_KEY_USAGE},
             [this] { return static_cast<IPKIExtKeyUsage*>(new ExtKeyUsage(*this)); }},
            {{PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS},
             [this] {
                 auto* made = new CurveParameters(*this, Curve{});
                 if (prepareParameters) prepareParameters(*made);
                 return static_cast<IPKIParameters*>(made);
             }},
            {{PKI_CLASS_KEY, PKI_IID_KEY}, [this]() -> void* {
                 if (keyMaker) return keyMaker();
                 auto* key = new KeyObject(*this);
                 key->OfferECKey();
                 return static_cast<IPKIKeyObject*>(key);
             }}};
        auto it = makers.find({classId, interfaceId});
        return it == makers.end() ? nullptr : it->second;
    }
    static void Identifier(std::uint8_t tag, const std::uint8_t* key, std::uint32_t length, std::uint8_t* out,
                           std::uint32_t size)
    {
        for (std::uint32_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(tag ^ key[i % length] ^ i);
    }
    int KeyIdentifier(const PKIBlob* key, std::uint8_t* identifier) override
    {
        int c = Enter(0, 17, std::to_string(key->length));
        if (c >= 0) return c;
        Identifier(17, key->data, key->length, identifier, 20);
        return 0;
    }
    int KeyIdentifierWithSBox(const std::uint8_t* key, std::uint32_t length, const std::uint8_t*,
                              std::uint8_t* identifier) override
    {
        int c = Enter(0, 18, std::to_string(length));
        if (c >= 0) return c;
        Identifier(18, key, length, identifier, 20);
        return 0;
    }
    int PublicKeyIdentifier(const PKIBlob* key, std::uint8_t* identifier) override
    {
        int c = Enter(0, 28, std::to_string(key->length));
        if (c >= 0) return c;
        Identifier(28, key->data, key->length, identifier, 20);
        return 0;
    }
    int KeyIdentifierDSTU7564(const std::uint8_t* key, std::uint32_t length, std::uint8_t* identifier) override
    {
        int c = Enter(0, 37, std::to_string(length));
        if (c >= 0) return c;
        Identifier(37, key, length, identifier, 32);
        return 0;
    }
};

}  // namespace fake

// ---- Certificates with content, certificate lists, tokens and items ----
// (certificate, request and list operations)
namespace fake {

// A library-allocated copy of `bytes` (FreeBlob releases it).
inline int CopyToBlob(Library& lib, const std::string& bytes, PKIBlob* out)
{
    return CopyToLibraryBlob(lib, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), out);
}

class KeyIdentifier final : public Object<IPKIKeyIdentifier> {
public:
    KeyIdentifier(Library& lib, std::string bytes) : Object(lib, 4867), bytes_(std::move(bytes)) {}
    int GetIdentifier(std::uint8_t* identifier, std::uint32_t* length) override
    {
        int c = lib_.Enter(4867, 5, std::to_string(*length));
        if (c >= 0) return c;
        if (bytes_.size() > *length) return PKI_E_INVALID_ARGUMENT;
        std::memcpy(identifier, bytes_.data(), bytes_.size());
        *length = static_cast<std::uint32_t>(bytes_.size());
        return 0;
    }

private:
    std::string bytes_;
};

class KeyUsage final : public Object<IPKIKeyUsage> {
public:
    KeyUsage(Library& lib, std::uint32_t bits) : Object(lib, 4871), bits_(bits) {}
    int GetBits(std::uint32_t* bits) override
    {
        int c = lib_.Enter(4871, 3, "");
        if (c >= 0) return c;
        *bits = bits_;
        return 0;
    }

private:
    std::uint32_t bits_;
};

inline int KeyCertificate::GetSubjectKeyId(void** out)
{
    int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 95, "");
    if (c >= 0) return c;
    if (keyId.empty()) return PKI_E_ABSENT;
    *out = static_cast<IPKIKeyIdentifier*>(
        new KeyIdentifier(lib_, std::string(reinterpret_cast<const char*>(keyId.data()), keyId.size())));
    return 0;
}

inline int ProfileCertificate::GetKeyUsage(void** out)
{
    int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 83, "", 0, this);
    if (c >= 0) return c;
    if (!p.keyUsage) return PKI_E_ABSENT;
    *out = static_cast<IPKIKeyUsage*>(new KeyUsage(lib_, p.keyUsageBits));
    return 0;
}

// An object that encodes to fixed bytes (class 1 in the log).
class Encoded final : public Object<IPKIEncoded> {
public:
    Encoded(Library& lib, std::string bytes) : Object(lib, 1), bytes_(std::move(bytes)) {}
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(1, 3, "");
        return c >= 0 ? c : CopyToBlob(lib_, bytes_, out);
    }
    int Decode(const PKIBlob*) override
    {
        int c = lib_.Enter(1, 4, "");
        return c >= 0 ? c : 0;
    }
    void Retain() { ++refs_; }

private:
    std::string bytes_;
};

// A certificate whose fields the test sets. Its key cache (view 4233) and
// extension-flag view (4268) are tables of their own.
class ScriptedCertificate final : public Object<IPKICertificate> {
public:
    explicit ScriptedCertificate(Library& lib) : Object(lib, PKI_CLASS_CERTIFICATE)
    {
        offers.insert(PKI_IID_CERTIFICATE);
        auto* cache = new Cache(*this);
        OfferView(PKI_IID_KEY_SET, cache, [cache] { delete cache; });
        auto* flags = new Flags(*this);
        OfferView(4268, flags, [flags] { delete flags; });
        auto* pairs = new Pairs(*this);
        OfferView(4244, pairs, [pairs] { delete pairs; });
    }
    std::uint32_t kind = 1;
    bool hasKeyUsage = true;
    std::uint32_t keyUsage = 0;
    std::string keyId = std::string(32, '\x11');
    std::wstring issuer = L"CN=Issuer";
    std::string serial = std::string("\x02\x01\x05", 3);  // encoded INTEGER 5
    std::wstring commonName = L"Holder", country = L"UA";
    std::string encoding = "certificate";
    int agreementAnswer = PKI_E_ABSENT;
    std::map<std::uint32_t, std::string> cache;
    bool hasFlagExtension = true;
    std::uint32_t flag = 0;
    std::uint32_t pairFirst = 0, pairSecond = 0;
    int basicConstraintsAnswer = 0;
    std::uint32_t ca = 1, pathLength = 3;
    // QC statements: absent unless set; flags A and B, the text flag and text.
    bool hasStatements = false;
    std::uint32_t flagA = 0, flagB = 0, textFlag = 0;
    std::string statementText;
    // Distribution-point locations; the freshest-CRL list is absent unless set.
    std::vector<std::string> crlPoints = {"ldap://ca/crl", "http://ca/full.crl", "HTTPS://ca/second.crl"};
    std::vector<std::string> freshestPoints;
    bool hasCrlPoints = true, hasFreshest = false;

    void Retain() { ++refs_; }
    int GetCRLDistributionPoints(void** points) override;
    int GetFreshestCRLPoints(void** points) override;
    // The public key: DSTU 4145 (76 bytes and its length) or RSA (two fields).
    std::string publicKey = std::string(76, '\x31');
    std::uint32_t publicKeyLength = 33;
    std::string rsaFields = std::string(2 * PKI_KEY_FIELD_BYTES, '\x41');
    std::uint32_t rsaBits = 2048;
    int GetDSTU4145PublicKey(std::uint8_t* key, std::uint32_t* length, void** parameters) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 25, "");
        if (c >= 0) return c;
        std::memcpy(key, publicKey.data(), 76);
        *length = publicKeyLength;
        if (parameters) *parameters = static_cast<IPKIEncoded*>(new Encoded(lib_, "parameters"));
        return 0;
    }
    // Validity and the private-key usage period (absent unless set).
    SYSTEMTIME validFrom{2024, 1, 1, 1, 0, 0, 0, 0}, validTo{2026, 1, 4, 1, 0, 0, 0, 0};
    bool hasKeyUsagePeriod = false;
    SYSTEMTIME usableFrom{2024, 2, 4, 1, 0, 0, 0, 0}, usableTo{2025, 2, 6, 1, 0, 0, 0, 0};
    int GetValidity(SYSTEMTIME* start, SYSTEMTIME* end) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 15, "");
        if (c >= 0) return c;
        if (start) *start = validFrom;
        if (end) *end = validTo;
        return 0;
    }
    int GetKeyUsagePeriod(void** period) override;
    int GetRSAPublicKey(std::uint8_t* fields, std::uint32_t* bits) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 29, "");
        if (c >= 0) return c;
        std::memcpy(fields, rsaFields.data(), rsaFields.size());
        *bits = rsaBits;
        return 0;
    }
    int GetBasicConstraints(void** constraints) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 53, "");
        if (c >= 0) return c;
        if (basicConstraintsAnswer != 0) return basicConstraintsAnswer;
        *constraints = static_cast<IPKIBasicConstraints*>(new BasicConstraints(lib_, ca, pathLength));
        return 0;
    }
    int GetQCStatements(void** statements) override;
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 3, "");
        return c >= 0 ? c : CopyToBlob(lib_, encoding, out);
    }
    int GetSerial(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 7, "");
        return c >= 0 ? c : CopyToBlob(lib_, serial, out);
    }
    int GetIssuerText(wchar_t* text, std::uint32_t* length) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 9, std::to_string(*length));
        if (c >= 0) return c;
        if (issuer.size() + 1 > *length) return PKI_E_INVALID_ARGUMENT;
        wcscpy(text, issuer.c_str());
        *length = static_cast<std::uint32_t>(issuer.size());
        return 0;
    }
    int GetSubjectRecord(PKINameRecord* record) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 17, "");
        if (c >= 0) return c;
        wcscpy(record->commonName, commonName.c_str());
        wcscpy(record->country, country.c_str());
        return 0;
    }
    int GetKeyKind(std::uint32_t* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 23, "");
        if (c >= 0) return c;
        *out = kind;
        return 0;
    }
    int GetPolicies(void**) override { return PKI_E_ABSENT; }
    int GetAgreementParameters(void** parameters) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 65, "");
        if (c >= 0) return c;
        if (agreementAnswer == 0) *parameters = static_cast<IPKIEncoded*>(new Encoded(lib_, "parameters"));
        return agreementAnswer;
    }
    int GetKeyUsage(void** out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 83, "");
        if (c >= 0) return c;
        if (!hasKeyUsage) return PKI_E_ABSENT;
        *out = static_cast<IPKIKeyUsage*>(new KeyUsage(lib_, keyUsage));
        return 0;
    }
    int GetSubjectKeyId(void** out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 95, "");
        if (c >= 0) return c;
        *out = static_cast<IPKIKeyIdentifier*>(new KeyIdentifier(lib_, keyId));
        return 0;
    }

    std::uint32_t namePair[2] = {0, 0};

private:
    class Pairs final : public IPKICertificateNamePairView {
    public:
        explicit Pairs(ScriptedCertificate& owner) : owner_(owner) {}
        virtual ~Pairs() = default;
        int Release() override { return owner_.Release(); }
        int QueryInterface(std::uint32_t iid, void** object) override { return owner_.QueryInterface(iid, object); }
        int SetNamePair(std::uint32_t first, std::uint32_t second) override
        {
            int c = owner_.lib_.Enter(PKI_CLASS_CERTIFICATE, 109, "", 4244);
            if (c >= 0) return c;
            owner_.namePair[0] = first;
            owner_.namePair[1] = second;
            return 0;
        }
        int SetNamePairSwapped(std::uint32_t second, std::uint32_t first) override
        {
            int c = owner_.lib_.Enter(PKI_CLASS_CERTIFICATE, 110, "", 4244);
            if (c >= 0) return c;
            owner_.namePair[0] = first;
            owner_.namePair[1] = second;
            return 0;
        }

    private:
        ScriptedCertificate& owner_;
    };
    class Cache final : public IPKIKeySet {
    public:
        explicit Cache(ScriptedCertificate& owner) : owner_(owner) {}
        virtual ~Cache() = default;
        int Release() override { return owner_.Release(); }
        int QueryInterface(std::uint32_t iid, void** object) override { return owner_.QueryInterface(iid, object); }
        int GetKeyCount(std::uint32_t*) override { return PKI_E_NOT_IMPLEMENTED; }
        int AddKey(IPKIObject*, const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
        int GetKey(std::uint32_t, void**, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
        int SetValue(std::uint32_t id, const PKIBlob* value) override
        {
            int c = owner_.lib_.Enter(PKI_CLASS_CERTIFICATE, 58, std::to_string(id), PKI_IID_KEY_SET);
            if (c >= 0) return c;
            owner_.cache[id].assign(reinterpret_cast<const char*>(value->data), value->length);
            return 0;
        }
        int GetValue(std::uint32_t id, PKIBlob* value) override
        {
            int c = owner_.lib_.Enter(PKI_CLASS_CERTIFICATE, 59, std::to_string(id), PKI_IID_KEY_SET);
            if (c >= 0) return c;
            auto it = owner_.cache.find(id);
            return it == owner_.cache.end() ? PKI_E_ABSENT : CopyToBlob(owner_.lib_, it->second, value);
        }
        int RemoveValue(std::uint32_t id) override
        {
            int c = owner_.lib_.Enter(PKI_CLASS_CERTIFICATE, 60, std::to_string(id), PKI_IID_KEY_SET);
            if (c >= 0) return c;
            return owner_.cache.erase(id) ? 0 : PKI_E_ABSENT;
        }

    private:
        ScriptedCertificate& owner_;
    };
    class Flags final : public IPKIExtensionFlagView {
    public:
        explicit Flags(ScriptedCertificate& owner) : owner_(owner) {}
        virtual ~Flags() = default;
        int Release() override { return owner_.Release(); }
        int QueryInterface(std::uint32_t iid, void** object) override { return owner_.QueryInterface(iid, object); }
        int SetPair(std::uint32_t second, std::uint32_t first) override
        {
            int c = owner_.lib_.Enter(PKI_CLASS_CERTIFICATE, 117, "", 4268);
            if (c >= 0) return c;
            owner_.pairFirst = first;
            owner_.pairSecond = second;
            return 0;
        }
        int SetFlag(std::uint32_t value) override
        {
            int c = owner_.lib_.Enter(PKI_CLASS_CERTIFICATE, 118, std::to_string(value), 4268);
            if (c >= 0) return c;
            owner_.flag = value;
            return 0;
        }
        int GetFlag(std::uint32_t* value) override
        {
            int c = owner_.lib_.Enter(PKI_CLASS_CERTIFICATE, 119, "", 4268);
            if (c >= 0) return c;
            if (!owner_.hasFlagExtension) return PKI_E_ABSENT;
            *value = owner_.flag;
            return 0;
        }

    private:
        ScriptedCertificate& owner_;
    };
};

// The QC statements of a scripted certificate, offering view 4231.
class Statements final : public Object<IPKIStatements> {
public:
    Statements(Library& lib, ScriptedCertificate& owner) : Object(lib, 4907), owner_(owner) { offers.insert(4231); }
    int GetFlagA(std::uint32_t* value) override { return Read(11, owner_.flagA, value); }
    int GetFlagB(std::uint32_t* value) override { return Read(14, owner_.flagB, value); }
    int GetTextFlag(std::uint32_t* value) override { return Read(17, owner_.textFlag, value); }
    int GetText(PKIBlob* text) override
    {
        int c = lib_.Enter(4907, 18, "", 4231);
        return c >= 0 ? c : CopyToBlob(lib_, owner_.statementText, text);
    }

private:
    int Read(std::uint32_t op, std::uint32_t v, std::uint32_t* out)
    {
        int c = lib_.Enter(4907, op, "", 4231);
        if (c >= 0) return c;
        *out = v;
        return 0;
    }
    ScriptedCertificate& owner_;
};

inline int ScriptedCertificate::GetQCStatements(void** statements)
{
    int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 89, "");
    if (c >= 0) return c;
    if (!hasStatements) return PKI_E_ABSENT;
    *statements = static_cast<IPKIStatements*>(new Statements(lib_, *this));
    return 0;
}

// Distribution points over a list of locations.
class DistributionPoints final : public Object<IPKIDistributionPoints> {
public:
    DistributionPoints(Library& lib, std::vector<std::string> locations)
        : Object(lib, 4915), locations_(std::move(locations))
    {
    }
    int GetCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(4915, 5, "");
        if (c >= 0) return c;
        *count = static_cast<std::uint32_t>(locations_.size());
        return 0;
    }
    int GetLocation(std::uint32_t index, PKIBlob* location) override
    {
        int c = lib_.Enter(4915, 6, std::to_string(index));
        if (c >= 0) return c;
        return index < locations_.size() ? CopyToBlob(lib_, locations_[index], location) : PKI_E_INDEX;
    }

private:
    std::vector<std::string> locations_;
};

inline int ScriptedCertificate::GetCRLDistributionPoints(void** points)
{
    int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 59, "");
    if (c >= 0) return c;
    if (!hasCrlPoints) return PKI_E_ABSENT;
    *points = static_cast<IPKIDistributionPoints*>(new DistributionPoints(lib_, crlPoints));
    return 0;
}

inline int ScriptedCertificate::GetFreshestCRLPoints(void** points)
{
    int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 62, "");
    if (c >= 0) return c;
    if (!hasFreshest) return PKI_E_ABSENT;
    *points = static_cast<IPKIDistributionPoints*>(new DistributionPoints(lib_, freshestPoints));
    return 0;
}

// A statement list that records what it is given (in its owner's list).
class StatementList final : public Object<IPKIStatementList> {
public:
    StatementList(Library& lib, std::vector<std::pair<std::uint32_t, std::uint32_t>>& adds)
        : Object(lib, 4916), adds_(adds)
    {
    }
    int Add(std::uint32_t first, std::uint32_t second) override
    {
        int c = lib_.Enter(4916, 4, std::to_string(first) + "," + std::to_string(second));
        if (c >= 0) return c;
        adds_.push_back({first, second});
        return 0;
    }

private:
    std::vector<std::pair<std::uint32_t, std::uint32_t>>& adds_;
};

inline int ScriptedCertificate::GetKeyUsagePeriod(void** period)
{
    int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 86, "");
    if (c >= 0) return c;
    if (!hasKeyUsagePeriod) return PKI_E_ABSENT;
    *period = static_cast<IPKIKeyUsagePeriod*>(new KeyUsagePeriodValue(lib_, usableFrom, usableTo));
    return 0;
}

// A signed object whose signature matches one DSTU 4145 key.
class VerifiableObject final : public Object<IPKISignedObject> {
public:
    explicit VerifiableObject(Library& lib) : Object(lib, 4910) {}
    std::string signerKey = std::string(76, '\x31');
    std::uint32_t signerLength = 33;
    bool parametersGiven = false;
    int VerifyDSTU4145(const std::uint8_t* key, std::uint32_t length, IPKIObject* parameters) override
    {
        int c = lib_.Enter(4910, 6, std::to_string(length));
        if (c >= 0) return c;
        parametersGiven = parameters != nullptr;
        return length == signerLength && std::memcmp(key, signerKey.data(), 76) == 0 ? 0 : PKI_E_FAILURE;
    }
};

// A content info with a set type and content.
class ContentInfo final : public Object<IPKIContentInfo> {
public:
    explicit ContentInfo(Library& lib) : Object(lib, PKI_CLASS_CONTENT_INFO) {}
    std::string type = "1.2.840.113549.1.7.2";
    std::string content = "signed data";
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 4, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
    int GetContentType(PKIBlob* oid) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 5, "");
        if (c >= 0) return c;
        int rc = CopyToBlob(lib_, type + std::string(1, '\0'), oid);
        if (rc == 0) oid->length = static_cast<std::uint32_t>(type.size());  // the terminator follows
        return rc;
    }
    int GetContent(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 6, "");
        return c >= 0 ? c : CopyToBlob(lib_, content, out);
    }
};

// A request whose key kind, requested key usage and key identifier the test
// sets.
class ScriptedRequest final : public Object<IPKIRequest> {
public:
    explicit ScriptedRequest(Library& lib) : Object(lib, PKI_CLASS_REQUEST) {}
    std::uint32_t kind = 1;
    bool hasUsage = true;
    std::string keyId = std::string(32, '\x22');
    int Encode(PKIBlob* out) override { return CopyToBlob(lib_, "request", out); }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 4, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
    int GetKeyKind(std::uint32_t* out) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 13, "");
        if (c >= 0) return c;
        *out = kind;
        return 0;
    }
    int GetRequestedKeyUsage(void** item) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 67, "");
        if (c >= 0) return c;
        if (!hasUsage) return PKI_E_ABSENT;
        *item = static_cast<IPKIEncoded*>(new Encoded(lib_, "usage"));
        return 0;
    }
    std::string publicKey = std::string(76, '\x31');
    std::uint32_t publicKeyLength = 33;
    std::string rsaFields = std::string(2 * PKI_KEY_FIELD_BYTES, '\x41');
    std::uint32_t rsaBits = 2048;
    int GetDSTU4145PublicKey(std::uint8_t* key, std::uint32_t* length, void** parameters) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 16, "");
        if (c >= 0) return c;
        std::memcpy(key, publicKey.data(), 76);
        *length = publicKeyLength;
        if (parameters && curve)
            *parameters = static_cast<IPKIParameters*>(new CurveParameters(lib_, *curve));
        else if (parameters)
            *parameters = static_cast<IPKIEncoded*>(new Encoded(lib_, "parameters"));
        return 0;
    }
    // When set, slot 16 hands out these curve parameters (IPKIParameters).
    std::optional<Curve> curve;
    int GetRSAPublicKey(std::uint8_t* fields, std::uint32_t* bits) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 15, "");
        if (c >= 0) return c;
        std::memcpy(fields, rsaFields.data(), rsaFields.size());
        *bits = rsaBits;
        return 0;
    }
    int GetKeyIdentifier(void** identifier) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 88, "");
        if (c >= 0) return c;
        *identifier = static_cast<IPKIKeyIdentifier*>(new KeyIdentifier(lib_, keyId));
        return 0;
    }
    // What the statement list (slot 61) was given.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> statementAdds;
    int GetStatementList(void** statements) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 61, "");
        if (c >= 0) return c;
        *statements = static_cast<IPKIStatementList*>(new StatementList(lib_, statementAdds));
        return 0;
    }
};

// A certificate list over entries the test adds (it holds one reference to
// each); its view 4209 hands out the same entries.
class CertificateList final : public Object<IPKICertificateList> {
public:
    explicit CertificateList(Library& lib) : Object(lib, 4909)
    {
        auto* view = new ListView(*this);
        OfferView(4209, view, [view] { delete view; });
    }
    ~CertificateList()
    {
        for (IPKIObject* e : entries) e->Release();
    }
    // Takes the caller's reference.
    void Add(ScriptedCertificate* certificate) { Add(static_cast<IPKICertificate*>(certificate), certificate); }
    void Add(Encoded* other) { Add(static_cast<IPKIEncoded*>(other), other); }
    std::vector<IPKIObject*> entries;
    int GetCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(4909, 5, "");
        if (c >= 0) return c;
        *count = static_cast<std::uint32_t>(entries.size());
        return 0;
    }
    int GetEntry(std::uint32_t index, void** entry) override
    {
        int c = lib_.Enter(4909, 6, std::to_string(index));
        if (c >= 0) return c;
        return Hand(index, entry);
    }

private:
    template <typename T>
    void Add(IPKIObject* entry, T* object)
    {
        entries.push_back(entry);
        retain_.push_back([object] { object->Retain(); });
    }
    int Hand(std::uint32_t index, void** entry)
    {
        if (index >= entries.size()) return PKI_E_INDEX;
        retain_[index]();
        *entry = entries[index];
        return 0;
    }
    class ListView final : public IPKICertificateListView {
    public:
        explicit ListView(CertificateList& owner) : owner_(owner) {}
        virtual ~ListView() = default;
        int Release() override { return owner_.Release(); }
        int QueryInterface(std::uint32_t iid, void** object) override { return owner_.QueryInterface(iid, object); }
        int GetCertificateCount(std::uint32_t kind, std::uint32_t* count) override
        {
            int c = owner_.lib_.Enter(4909, 46, std::to_string(kind), 4209);
            if (c >= 0) return c;
            *count = static_cast<std::uint32_t>(owner_.entries.size());
            return 0;
        }
        int GetCertificate(std::uint32_t index, std::uint32_t kind, void** certificate) override
        {
            int c = owner_.lib_.Enter(4909, 48, std::to_string(index) + "," + std::to_string(kind), 4209);
            if (c >= 0) return c;
            return owner_.Hand(index, certificate);
        }

    private:
        CertificateList& owner_;
    };
    std::vector<std::function<void()>> retain_;
};

// A time-stamp token with a set content type (terminator included) and
// encapsulated content.
class TimeStampToken final : public Object<IPKITimeStampToken> {
public:
    explicit TimeStampToken(Library& lib) : Object(lib, 4906) {}
    std::string contentType = std::string("1.2.840.113549.1.9.16.1.4", 26);
    std::string content = "tst-info";
    std::uint32_t first = 0, second = 0;
    IPKIObject* token = nullptr;
    ~TimeStampToken()
    {
        if (token) token->Release();
    }
    // The words and whether a token was set, as the test reads them back.
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(4906, 3, "");
        if (c >= 0) return c;
        return CopyToBlob(
            lib_, "time-stamp:" + std::to_string(first) + "," + std::to_string(second) + (token ? ":token" : ""), out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(4906, 4, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
    int SetWords(std::uint32_t a, std::uint32_t b) override
    {
        int c = lib_.Enter(4906, 6, std::to_string(a) + "," + std::to_string(b));
        if (c >= 0) return c;
        first = a;
        second = b;
        return 0;
    }
    int SetTokenContentInfo(IPKIObject* info) override
    {
        int c = lib_.Enter(4906, 13, "");
        if (c >= 0) return c;
        if (!info) return PKI_E_INVALID_ARGUMENT;
        // The object keeps its own reference to the content info.
        void* kept = nullptr;
        if (info->QueryInterface(PKI_IID_CONTENT_INFO, &kept) != 0 || !kept) return PKI_E_NO_INTERFACE;
        if (token) token->Release();
        token = static_cast<IPKIObject*>(kept);
        return 0;
    }
    int GetContentType(PKIBlob* oid) override
    {
        int c = lib_.Enter(4906, 16, "");
        return c >= 0 ? c : CopyToBlob(lib_, contentType, oid);
    }
    int GetContent(PKIBlob* out) override
    {
        int c = lib_.Enter(4906, 18, "");
        return c >= 0 ? c : CopyToBlob(lib_, content, out);
    }
};

// A key container whose entries are fake::Encoded objects, each with its
// attributes by OID (the attributes live in the container, keyed by entry).
class AttributeContainer final : public Object<IPKIKeyContainer> {
public:
    explicit AttributeContainer(Library& lib) : Object(lib, PKI_CLASS_KEY_CONTAINER)
    {
        offers.insert(PKI_IID_KEY_CONTAINER_READER);
    }
    ~AttributeContainer()
    {
        for (Encoded* e : entries) e->Release();
    }
    std::vector<Encoded*> entries;
    std::map<std::pair<const void*, std::string>, std::string> attributes;
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetItemCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 5, "");
        if (c >= 0) return c;
        *count = static_cast<std::uint32_t>(entries.size());
        return 0;
    }
    int GetItem(std::uint32_t index, void** entry) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 6, std::to_string(index));
        if (c >= 0) return c;
        if (index >= entries.size()) return PKI_E_INDEX;
        entries[index]->Retain();
        *entry = static_cast<IPKIEncoded*>(entries[index]);
        return 0;
    }
    int AddItem(IPKIObject* entry) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 7, "");
        if (c >= 0) return c;
        auto* e = static_cast<Encoded*>(static_cast<IPKIEncoded*>(entry));
        e->Retain();
        entries.push_back(e);
        return 0;
    }
    int RemoveItem(std::uint32_t index) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 8, std::to_string(index));
        if (c >= 0) return c;
        if (index >= entries.size()) return PKI_E_INDEX;
        entries[index]->Release();
        entries.erase(entries.begin() + index);
        return 0;
    }
    int SetPassword(std::uint32_t, const char*) override { return PKI_E_NOT_IMPLEMENTED; }
    int CheckPassword(const char*) override { return PKI_E_NOT_IMPLEMENTED; }
    int IsProtected(std::uint32_t*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetProtectionValue(std::uint32_t*) override { return PKI_E_NOT_IMPLEMENTED; }
    int SetProtectionValue(std::uint32_t) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetItemAttribute(const char* password, IPKIObject* entry, const char* oid, PKIBlob* value) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 21, std::string(password ? password : "-") + "," + oid);
        if (c >= 0) return c;
        auto it = attributes.find({entry, oid});
        return it == attributes.end() ? PKI_E_ABSENT : CopyToBlob(lib_, it->second, value);
    }
    int AddItemAttribute(const char* password, IPKIObject* entry, const char* oid, const PKIBlob* value) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 22, std::string(password ? password : "-") + "," + oid);
        if (c >= 0) return c;
        attributes[{entry, oid}].assign(reinterpret_cast<const char*>(value->data), value->length);
        return 0;
    }
};

// Typed objects for the classes the certificate and list operations make,
// so that every call reaches a table of the type it is made through.
class ExtensionList final : public Object<IPKIExtensionList> {
public:
    explicit ExtensionList(Library& lib) : Object(lib, 4905) {}
    int added = 0;
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(4905, 3, "", 4146);
        return c >= 0 ? c : CopyToBlob(lib_, "extensions:" + std::to_string(added), out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(4905, 4, std::to_string(in->length), 4146);
        return c >= 0 ? c : 0;
    }
    int Add(IPKIObject*, std::uint32_t type) override
    {
        int c = lib_.Enter(4905, 9, std::to_string(type), 4146);
        if (c >= 0) return c;
        ++added;
        return 0;
    }
};

class KeyUsagePeriod final : public Object<IPKIKeyUsagePeriodExtension> {
public:
    explicit KeyUsagePeriod(Library& lib) : Object(lib, 4905) {}
    std::string set;
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(4905, 3, "", 4259);
        return c >= 0 ? c : CopyToBlob(lib_, "period:" + set, out);
    }
    int SetPeriod(std::uint32_t kind, std::uint32_t value, std::uint32_t flag) override
    {
        set = std::to_string(kind) + "," + std::to_string(value) + "," + std::to_string(flag);
        int c = lib_.Enter(4905, 36, set, 4259);
        return c >= 0 ? c : 0;
    }
};

class TimeStampInfo final : public Object<IPKITimeStampInfo> {
public:
    explicit TimeStampInfo(Library& lib) : Object(lib, 4904) {}
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(4904, 4, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
    // Part A writes the int 12, part B the int 14.
    int GetPartA(void* out) override { return Part(12, out); }
    int GetPartB(void* out) override { return Part(14, out); }

private:
    int Part(std::uint32_t op, void* out)
    {
        int c = lib_.Enter(4904, op, "");
        if (c >= 0) return c;
        *static_cast<int*>(out) = static_cast<int>(op);
        return 0;
    }
};

class SignedData final : public Object<IPKISignedDataCertificates> {
public:
    explicit SignedData(Library& lib) : Object(lib, PKI_CLASS_SIGNED_DATA) {}
    int certificates = 0;
    std::uint32_t versionValue = 0;
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 4, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
    int GetCertificate(std::uint32_t, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int AddCertificate(IPKIObject*) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 7, "");
        if (c >= 0) return c;
        ++certificates;
        return 0;
    }
};

// A signer that takes a version value (slot 99).
class Signer final : public Object<IPKIVersionValue> {
public:
    explicit Signer(Library& lib) : Object(lib, 4902) {}
    std::uint32_t value = 0;
    int SetVersionValue(std::uint32_t v) override
    {
        int c = lib_.Enter(4902, 99, std::to_string(v));
        if (c >= 0) return c;
        value = v;
        return 0;
    }
};

// A key object whose slot 9 hands out its key (a fake::Encoded).
class KeySource final : public Object<IPKIKeySource> {
public:
    explicit KeySource(Library& lib) : Object(lib, 4893) {}
    int GetKey(void** key) override
    {
        int c = lib_.Enter(4893, 9, "");
        if (c >= 0) return c;
        *key = static_cast<IPKIEncoded*>(new Encoded(lib_, "key"));
        return 0;
    }
};

// A signer that takes its key (slot 41) and, when it offers view 4240, a
// policy key and value (slot 51 of that view).
class KeyedSigner final : public Object<IPKISignerKey> {
public:
    KeyedSigner(Library& lib, bool withPolicyView) : Object(lib, 4902)
    {
        if (!withPolicyView) return;
        auto* view = new PolicyView(*this);
        OfferView(4240, view, [view] { delete view; });
    }
    IPKIObject* key = nullptr;  // as given (not held)
    std::uint32_t policyValue = 0;
    int SetKey(IPKIObject* k) override
    {
        int c = lib_.Enter(4902, 41, "");
        if (c >= 0) return c;
        key = k;
        return 0;
    }

private:
    class PolicyView final : public IPKISignerPolicyView {
    public:
        explicit PolicyView(KeyedSigner& owner) : owner_(owner) {}
        virtual ~PolicyView() = default;
        int Release() override { return owner_.Release(); }
        int QueryInterface(std::uint32_t iid, void** object) override { return owner_.QueryInterface(iid, object); }
        int SetPolicyKey(IPKIObject* k, std::uint32_t value) override
        {
            int c = owner_.lib_.Enter(4902, 51, std::to_string(value), 4240);
            if (c >= 0) return c;
            owner_.key = k;
            owner_.policyValue = value;
            return 0;
        }

    private:
        KeyedSigner& owner_;
    };
};

// Makes CreateObject hand out the typed objects above (and fake::Encoded
// for the name and item classes 4869 and 4875, and a time-stamp token).
inline void UseTypedObjects(Library& lib)
{
    lib.makers[{4905, 4146}] = [&lib]() -> void* { return static_cast<IPKIExtensionList*>(new ExtensionList(lib)); };
    lib.makers[{4905, 4259}] = [&lib]() -> void* {
        return static_cast<IPKIKeyUsagePeriodExtension*>(new KeyUsagePeriod(lib));
    };
    lib.makers[{4904, 4141}] = [&lib]() -> void* { return static_cast<IPKITimeStampInfo*>(new TimeStampInfo(lib)); };
    lib.makers[{PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA}] = [&lib]() -> void* {
        return static_cast<IPKISignedDataCertificates*>(new SignedData(lib));
    };
    for (std::uint32_t cls : {4869u, 4875u})
        lib.makers[{cls, cls == 4869u ? 4100u : 4110u}] = [&lib]() -> void* {
            return static_cast<IPKIEncoded*>(new Encoded(lib, "object"));
        };
    lib.makers[{4906, 4143}] = [&lib]() -> void* { return static_cast<IPKITimeStampToken*>(new TimeStampToken(lib)); };
}

// An object whose slot 50 hands out an item (or answers `answer`).
class Item50 final : public Object<IPKIItem50> {
public:
    explicit Item50(Library& lib) : Object(lib, 4900) {}
    int answer = 0;
    int GetItem(void** item) override
    {
        int c = lib_.Enter(4900, 50, "");
        if (c >= 0) return c;
        if (answer == 0) *item = static_cast<IPKIEncoded*>(new Encoded(lib_, "item 50"));
        return answer;
    }
};

// ---- Time stamps, signer signing and signer matching ----

// The encoded INTEGER of a 20-byte serial field (leading zeros dropped).
inline std::string SerialInteger(const std::uint8_t* serial)
{
    std::size_t i = 0;
    while (i < 19 && serial[i] == 0) ++i;
    std::string value(reinterpret_cast<const char*>(serial + i), 20 - i);
    if (static_cast<std::uint8_t>(value[0]) & 0x80) value.insert(value.begin(), '\0');
    return std::string{'\x02', static_cast<char>(value.size())} + value;
}

struct ContextRecord;

// A certificate with an issuer, a 20-byte serial, a key usage, a key
// identifier, and either a DSTU 4145 key on a curve or an RSA key size.
class TSCertificate final : public Object<IPKICertificate> {
public:
    TSCertificate(Library& lib, std::wstring issuerName, std::uint8_t lastSerialByte)
        : Object(lib, PKI_CLASS_CERTIFICATE), issuer(std::move(issuerName))
    {
        serial[0] = 0x11;
        serial[19] = lastSerialByte;
        offers.insert(PKI_IID_CERTIFICATE);
    }
    void Retain() { ++refs_; }
    std::wstring issuer;
    std::uint8_t serial[20] = {};
    std::uint32_t kind = 1;
    std::uint32_t keyUsageBits = 0x01;  // digital signature
    std::string keyIdentifier = std::string(32, '\x5a');
    std::vector<std::uint8_t> dstuPublic = std::vector<std::uint8_t>(76);
    Curve curve;
    std::uint32_t rsaBits = 0;
    TSCertificate* rsaView = nullptr;  // not owned
    TSCertificate* inner = nullptr;    // not owned
    ContextRecord* context = nullptr;  // parameters offer 4215 when set
    int GetInnerCertificate(void** out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 100, "");
        if (c >= 0) return c;
        if (!inner) return PKI_E_ABSENT;
        inner->Retain();
        *out = static_cast<IPKICertificate*>(inner);
        return 0;
    }
    int GetPolicies(void**) override { return PKI_E_ABSENT; }
    int GetSerial(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 7, "");
        return c >= 0 ? c : CopyToBlob(lib_, SerialInteger(serial), out);
    }
    int GetIssuerText(wchar_t* text, std::uint32_t* length) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 9, "");
        if (c >= 0) return c;
        if (issuer.size() + 1 > *length) return PKI_E_FAILURE;
        wcscpy(text, issuer.c_str());
        *length = static_cast<std::uint32_t>(issuer.size());
        return 0;
    }
    int GetKeyKind(std::uint32_t* k) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 23, "");
        return c >= 0 ? c : (*k = kind, 0);
    }
    int GetDSTU4145PublicKey(std::uint8_t* key, std::uint32_t* length, void** parameters) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 25, "");
        if (c >= 0) return c;
        std::memcpy(key, dstuPublic.data(), 76);
        *length = (curve.field.words[DSTU4145_FIELD_M] + 7) / 8;
        *parameters = MakeParameters();
        return 0;
    }
    IPKIParameters* MakeParameters();
    int GetRSAPublicKey(std::uint8_t* fields, std::uint32_t* bits) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 29, "");
        if (c >= 0) return c;
        std::memset(fields, 0, 1200);
        *bits = rsaBits;
        return 0;
    }
    int GetKeyUsage(void** out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 83, "");
        if (c >= 0) return c;
        *out = static_cast<IPKIKeyUsage*>(new KeyUsage(lib_, keyUsageBits));
        return 0;
    }
    int GetSubjectKeyId(void** out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 95, "");
        if (c >= 0) return c;
        *out = static_cast<IPKIKeyIdentifier*>(new KeyIdentifier(lib_, keyIdentifier));
        return 0;
    }
    int GetRSAView(void** out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 103, "");
        if (c >= 0) return c;
        if (!rsaView) return PKI_E_ABSENT;
        rsaView->Retain();
        *out = static_cast<IPKICertificate*>(rsaView);
        return 0;
    }
};

// A signer: its identifier, signature value, key kind, digest OID, tokens,
// and (when `hashKind` is nonzero) a DSTU 7564 view reporting that kind.
// Slot 100 answers `prepared` (32 bytes) as the value to be signed.
class TSSigner final : public Object<IPKISignerInfo> {
public:
    TSSigner(Library& lib, std::uint32_t hashKind = 0) : Object(lib, PKI_CLASS_SIGNER_INFO)
    {
        std::memset(&id, 0, sizeof id);
        id.form = 1;
        if (!hashKind) return;
        class View final : public ViewOf<IPKISignerInfoDSTU7564> {
        public:
            View(TSSigner* owner, std::uint32_t kind) : ViewOf(owner), s_(owner), kind_(kind) {}
            int GetHashKind(std::uint32_t* kind) override
            {
                int c = s_->lib_.Enter(PKI_CLASS_SIGNER_INFO, 123, "", PKI_IID_SIGNER_INFO_DSTU7564);
                return c >= 0 ? c : (*kind = kind_, 0);
            }
            int GetHashBytes(std::uint32_t* bytes) override
            {
                int c = s_->lib_.Enter(PKI_CLASS_SIGNER_INFO, 133, "", PKI_IID_SIGNER_INFO_DSTU7564);
                return c >= 0 ? c : (*bytes = 32, 0);
            }
            int SignWithKeyObject(IPKIObject*, std::uint32_t kind, std::uint32_t size) override
            {
                int c = s_->lib_.Enter(PKI_CLASS_SIGNER_INFO, 130, "", PKI_IID_SIGNER_INFO_DSTU7564);
                return c >= 0 ? c : (s_->signedWith = "130:" + std::to_string(kind) + "," + std::to_string(size), 0);
            }
            int AddRequestHashCertificateDSTU7564(IPKIObject*, std::uint32_t flag, std::uint32_t kind,
                                                  std::uint32_t size) override
            {
                int c = s_->lib_.Enter(PKI_CLASS_SIGNER_INFO, 136, "", PKI_IID_SIGNER_INFO_DSTU7564);
                return c >= 0 ? c
                              : (s_->requestHashes.push_back("136:" + std::to_string(flag) + "," +
                                                             std::to_string(kind) + "," + std::to_string(size)),
                                 0);
            }

        private:
            TSSigner* s_;
            std::uint32_t kind_;
        };
        AddView(this, PKI_IID_SIGNER_INFO_DSTU7564, new View(this, hashKind));
    }
    ~TSSigner()
    {
        for (IPKIObject* t : tokens) t->Release();
    }
    void Retain() { ++refs_; }
    // Identity as issuer and serial (form 1).
    void Identify(const TSCertificate& c)
    {
        id.form = 1;
        wcscpy(id.name, c.issuer.c_str());
        std::memcpy(id.serial, c.serial, 20);
    }
    PKISignerIdentifier id;
    std::vector<std::uint8_t> signature;
    std::uint32_t kind = 1;
    std::string digestOid = std::string("1.2.804.2.1.1.1.1.2.1", 22);
    std::vector<IPKIObject*> tokens;  // owned
    std::uint8_t prepared[32] = {};
    std::vector<std::uint8_t> preparedWith;  // the public key given to slot 100
    int timesWritten = 0;
    int GetIdentifier(PKISignerIdentifier* out) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 3, "");
        return c >= 0 ? c : (*out = id, 0);
    }
    int GetTimeStampTokenAt(std::uint32_t index, void** token) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 11, std::to_string(index));
        if (c >= 0) return c;
        if (index >= tokens.size()) return PKI_E_INDEX;
        return tokens[index]->QueryInterface(PKI_IID_SIGNED_DATA, token);
    }
    int GetDigestOID(PKIBlob* oid) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 22, "");
        return c >= 0 ? c : CopyToBlob(lib_, digestOid, oid);
    }
    int SetSigningTime(const SYSTEMTIME* time) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 42, std::to_string(time->wYear));
        return c >= 0 ? c : (++timesWritten, 0);
    }
    int GetSigningKeyKind(std::uint32_t* k) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 43, "");
        return c >= 0 ? c : (*k = kind, 0);
    }
    // Writes the whole value, as the library does.
    int GetSignatureValue(std::uint8_t* value, std::uint32_t* length) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 70, value ? "buffer" : "length");
        if (c >= 0) return c;
        if (value) std::memcpy(value, signature.data(), signature.size());
        *length = static_cast<std::uint32_t>(signature.size());
        return 0;
    }
    int SetSignatureValue(const std::uint8_t* value, std::uint32_t length) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 71, std::to_string(length));
        if (c >= 0) return c;
        signature.assign(value, value + length);
        return 0;
    }
    std::string signedWith;                                      // how the signer was signed
    std::map<std::string, std::vector<std::string>> attributes;  // values by type
    IPKIObject* certificate = nullptr;                           // as given to slot 5 (not held)
    // Offers the hash-length view (4247), which signs with the key object.
    void OfferHashLengthView()
    {
        class View final : public ViewOf<IPKISignerHashLength> {
        public:
            explicit View(TSSigner* owner) : ViewOf(owner), s_(owner) {}
            int SignRSA(IPKIObject*) override
            {
                int c = s_->lib_.Enter(PKI_CLASS_SIGNER_INFO, 117, "", PKI_IID_SIGNER_HASH_LENGTH);
                return c >= 0 ? c : (s_->signedWith = "117", 0);
            }

        private:
            TSSigner* s_;
        };
        AddView(this, PKI_IID_SIGNER_HASH_LENGTH, new View(this));
    }
    int SetCertificate(IPKIObject* c) override
    {
        int rc = lib_.Enter(PKI_CLASS_SIGNER_INFO, 5, "");
        return rc >= 0 ? rc : (certificate = c, 0);
    }
    int CountSignedAttributes(const char* oid, std::uint32_t* count) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 23, oid);
        return c >= 0 ? c : (*count = static_cast<std::uint32_t>(attributes[oid].size()), 0);
    }
    int GetSignedAttribute(const char* oid, std::uint32_t index, void** attribute) override;
    int AddSignedAttribute(IPKIObject* attribute) override;
    std::vector<std::string> timeStampRequests;  // what each request given to slot 57 was filled with
    IPKIObject* timeStampSource = nullptr;       // as given to slot 68 (not held)
    int AddTimeStampRequest(IPKIObject* request) override;
    int SetTimeStampSource(IPKIObject* source) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 68, source ? "source" : "none");
        return c >= 0 ? c : (timeStampSource = source, 0);
    }
    std::vector<std::string> requestHashes;  // certificates added through slot 53 or view slot 136
    std::uint32_t requestHashCount = 0;      // what slot 55 reports
    int AddRequestHashCertificate(IPKIObject*, std::uint32_t flag, std::uint32_t zero) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 53, "");
        return c >= 0 ? c : (requestHashes.push_back("53:" + std::to_string(flag) + "," + std::to_string(zero)), 0);
    }
    int GetRequestHashCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 55, "");
        return c >= 0 ? c : (*count = requestHashCount, 0);
    }
    std::vector<IPKIObject*> requestCertificates;  // as given to slot 61 (not held)
    int AddRequestCertificate(IPKIObject* certificate) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 61, certificate ? "certificate" : "none");
        return c >= 0 ? c : (requestCertificates.push_back(certificate), 0);
    }
    int SignWithKey(const std::uint8_t* key, std::uint32_t length, IPKIObject* parameters) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 79, std::to_string(length));
        if (c >= 0) return c;
        signedWith = "79:" + Hex(key, length) + (parameters ? ",parameters" : "");
        return 0;
    }
    int SignWithRSAKey(const std::uint8_t* privateKey, const std::uint8_t* profile) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 89, "");
        return c >= 0 ? c : (signedWith = "89:" + Hex(privateKey, 4) + "," + Hex(profile, 8), 0);
    }
    std::uint32_t preparedLength = 32;  // how many bytes slot 100 answers
    int PrepareSignature(const std::uint8_t* publicKey, std::uint32_t length, IPKIObject* parameters,
                         PKIBlob* value) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 100, std::to_string(length));
        if (c >= 0) return c;
        if (!parameters) return PKI_E_INVALID_ARGUMENT;
        preparedWith.assign(publicKey, publicKey + 76);
        return CopyToBlob(lib_, std::string(reinterpret_cast<const char*>(prepared), preparedLength), value);
    }
};

// A signer as the time-stamp request reads it: key kind, digest OID, key.
class TSRequestSource final : public Object<IPKISignerInfoTimeStampSource> {
public:
    explicit TSRequestSource(Library& lib) : Object(lib, PKI_CLASS_SIGNER_INFO) {}
    std::uint32_t kind = 1;
    std::string digestOid = std::string("1.2.804.2.1.1.1.1.2.1", 22);
    int GetDigestOID(PKIBlob* oid) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 22, "");
        return c >= 0 ? c : CopyToBlob(lib_, digestOid, oid);
    }
    int GetKeyKind(std::uint32_t* k) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 43, "");
        return c >= 0 ? c : (*k = kind, 0);
    }
    int GetKey(void** key) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 47, "");
        if (c >= 0) return c;
        *key = static_cast<IPKIEncoded*>(new Encoded(lib_, "signer key"));
        return 0;
    }
    // Offers the hash-code view (4258) reporting `code`.
    void OfferHashCode(std::uint32_t code)
    {
        class View final : public ViewOf<IPKISignerHashCode> {
        public:
            View(TSRequestSource* owner, std::uint32_t code) : ViewOf(owner), s_(owner), code_(code) {}
            int GetHashCode(std::uint32_t* code) override
            {
                int c = s_->lib_.Enter(PKI_CLASS_SIGNER_INFO, 54, "", PKI_IID_SIGNER_HASH_CODE);
                return c >= 0 ? c : (*code = code_, 0);
            }

        private:
            TSRequestSource* s_;
            std::uint32_t code_;
        };
        AddView(this, PKI_IID_SIGNER_HASH_CODE, new View(this, code));
    }
};

// A time-stamp request as interface 4256 builds it: what the facade filled,
// in `filled`.
class TSRequestByHash final : public Object<IPKITimeStampRequestByHash> {
public:
    explicit TSRequestByHash(Library& lib) : Object(lib, PKI_CLASS_TS_REQUEST)
    {
        offers.insert(PKI_IID_TS_REQUEST_BY_HASH);
    }
    std::string filled;
    int SetKeyAlgorithm(IPKIObject*) override { return Note(24, "key"); }
    int BuildImprintGOST(IPKIObject* none, const std::uint8_t* sBox) override
    {
        return Note(25, std::string(none ? "object" : "none") + ",gost:" + Hex(sBox, 4));
    }
    int FillGOST(IPKIObject* source, std::uint32_t code, const char* digestOid) override
    {
        return Note(33, std::string(source ? "source" : "none") + "," + std::to_string(code) + "," + digestOid);
    }
    int BuildImprintCoded(IPKIObject* none, std::uint32_t code, const char* digestOid) override
    {
        return Note(38, std::string(none ? "object" : "none") + "," + std::to_string(code) + "," + digestOid);
    }
    int FillCoded(IPKIObject* source, std::uint32_t code, const char* digestOid) override
    {
        return Note(41, std::string(source ? "source" : "none") + "," + std::to_string(code) + "," + digestOid);
    }

private:
    int Note(std::uint32_t op, const std::string& what)
    {
        int c = lib_.Enter(PKI_CLASS_TS_REQUEST, op, "", PKI_IID_TS_REQUEST_BY_HASH);
        return c >= 0 ? c : (filled += std::to_string(op) + ":" + what + ";", 0);
    }
};

inline int TSSigner::AddTimeStampRequest(IPKIObject* request)
{
    int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 57, "");
    if (c >= 0) return c;
    auto* coded = dynamic_cast<TSRequestByHash*>(request);
    timeStampRequests.push_back(coded ? coded->filled : "other");
    return 0;
}

inline void UseTimeStampRequestsByHash(Library& lib)
{
    lib.makers[{PKI_CLASS_TS_REQUEST, PKI_IID_TS_REQUEST_BY_HASH}] = [&lib]() -> void* {
        return static_cast<IPKITimeStampRequestByHash*>(new TSRequestByHash(lib));
    };
}

// Signed data as a message or a time-stamp token: its signers and
// certificates (both owned). Slot 105 searches every signer from the first
// for the certificate's issuer and serial and answers its index, or -1.
class TSSignedData final : public Object<IPKISignedDataSigners> {
public:
    explicit TSSignedData(Library& lib) : Object(lib, PKI_CLASS_SIGNED_DATA) { offers.insert(PKI_IID_SIGNED_DATA); }
    void Retain() { ++refs_; }
    ~TSSignedData()
    {
        for (TSSigner* s : signers) s->Release();
        for (TSCertificate* c : certificates) c->Release();
    }
    std::vector<TSSigner*> signers;
    std::vector<TSCertificate*> certificates;
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetCertificate(std::uint32_t, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int AddCertificate(IPKIObject*) override { return PKI_E_NOT_IMPLEMENTED; }
    std::string encoding = "token";
    IPKIObject* certificateList = nullptr;  // as given to slot 61 (not held)
    int EncodeInto(std::uint8_t* buffer, std::uint32_t* length) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 32, buffer ? "buffer" : "length");
        if (c >= 0) return c;
        if (buffer) std::memcpy(buffer, encoding.data(), encoding.size());
        *length = static_cast<std::uint32_t>(encoding.size());
        return 0;
    }
    std::uint32_t contentForm = 1, detached = 0;
    int embeddedAnswer = 0;  // 0: an embedded object that encodes to "embedded"
    bool contentInfoSet = false;
    int GetContentForm(std::uint32_t* v) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 40, "");
        return c >= 0 ? c : (*v = contentForm, 0);
    }
    int GetDetached(std::uint32_t* v) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 93, "");
        return c >= 0 ? c : (*v = detached, 0);
    }
    int GetEmbeddedObject(void** object) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 44, "");
        if (c >= 0) return c;
        if (embeddedAnswer) return embeddedAnswer;
        *object = static_cast<IPKIEncoded*>(new Encoded(lib_, "embedded"));
        return 0;
    }
    int SetContentInfo(IPKIObject*) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 45, "");
        return c >= 0 ? c : (contentInfoSet = true, 0);
    }
    int SetCertificates(IPKIObject* list) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 61, "");
        return c >= 0 ? c : (certificateList = list, 0);
    }
    int GetSignerCount(std::uint32_t* count) override { return Count(10, signers.size(), count); }
    int GetTokenSignerCount(std::uint32_t* count) override { return Count(55, signers.size(), count); }
    int GetTokenCertificateCount(std::uint32_t* count) override { return Count(66, certificates.size(), count); }
    int GetSigner(std::uint32_t index, void** signer) override { return HandSigner(11, index, signer); }
    int GetTokenSigner(std::uint32_t index, void** signer) override { return HandSigner(56, index, signer); }
    int GetTokenCertificate(std::uint32_t index, void** certificate) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 67, std::to_string(index));
        if (c >= 0) return c;
        if (index >= certificates.size()) return PKI_E_INDEX;
        certificates[index]->Retain();
        *certificate = static_cast<IPKICertificate*>(certificates[index]);
        return 0;
    }
    int FindSignerIndex(IPKIObject* certificate, std::int32_t* index) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 105, "");
        if (c >= 0) return c;
        auto* cert = static_cast<TSCertificate*>(static_cast<IPKICertificate*>(certificate));
        *index = -1;
        for (std::size_t i = 0; i < signers.size(); ++i)
            if (signers[i]->id.form == 1 && cert->issuer == signers[i]->id.name &&
                std::memcmp(cert->serial, signers[i]->id.serial, 20) == 0) {
                *index = static_cast<std::int32_t>(i);
                break;
            }
        return 0;
    }

private:
    int Count(std::uint32_t op, std::size_t n, std::uint32_t* count)
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, op, "");
        return c >= 0 ? c : (*count = static_cast<std::uint32_t>(n), 0);
    }
    int HandSigner(std::uint32_t op, std::uint32_t index, void** signer)
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, op, std::to_string(index));
        if (c >= 0) return c;
        if (index >= signers.size()) return PKI_E_INDEX;
        signers[index]->Retain();
        *signer = static_cast<IPKISignerInfo*>(signers[index]);
        return 0;
    }
};

// A time-stamp request (4921 / 4198) with its long-imprint view (4259):
// what it reports and what the facade filled, in `filled`.
class TSRequest final : public Object<IPKITimeStampRequest> {
public:
    explicit TSRequest(Library& lib) : Object(lib, PKI_CLASS_TS_REQUEST)
    {
        class Long final : public ViewOf<IPKITimeStampRequestImprint> {
        public:
            explicit Long(TSRequest* owner) : ViewOf(owner), r_(owner) {}
            int GetLongImprint(std::uint8_t* imprint, std::uint32_t* length) override
            {
                int c = r_->lib_.Enter(PKI_CLASS_TS_REQUEST, 35, "", PKI_IID_TS_REQUEST_IMPRINT);
                return c >= 0 ? c : r_->Imprint(imprint, length);
            }

        private:
            TSRequest* r_;
        };
        AddView(this, PKI_IID_TS_REQUEST_IMPRINT, new Long(this));
    }
    std::uint32_t kind = 1, second = 7;
    std::vector<std::uint8_t> imprint = std::vector<std::uint8_t>(32, 0x33);
    std::string nonce;
    std::string filled;
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_TS_REQUEST, 3, "");
        return c >= 0 ? c : CopyToBlob(lib_, "request:" + filled, out);
    }
    int GetImprintKind(std::uint32_t* k) override
    {
        int c = lib_.Enter(PKI_CLASS_TS_REQUEST, 5, "");
        return c >= 0 ? c : (*k = kind, 0);
    }
    int GetImprintGOST(std::uint8_t* out, std::uint32_t* length) override
    {
        int c = lib_.Enter(PKI_CLASS_TS_REQUEST, 6, "");
        return c >= 0 ? c : Imprint(out, length);
    }
    int GetImprintSHA(std::uint8_t* out, std::uint32_t* length) override
    {
        int c = lib_.Enter(PKI_CLASS_TS_REQUEST, 8, "");
        return c >= 0 ? c : Imprint(out, length);
    }
    int GetNonce(std::uint8_t* out, std::uint32_t* length) override
    {
        int c = lib_.Enter(PKI_CLASS_TS_REQUEST, 10, out ? "buffer" : "length");
        if (c >= 0) return c;
        if (out) std::memcpy(out, nonce.data(), nonce.size());
        *length = static_cast<std::uint32_t>(nonce.size());
        return 0;
    }
    int GetSecondValue(std::uint32_t* v) override
    {
        int c = lib_.Enter(PKI_CLASS_TS_REQUEST, 16, "");
        return c >= 0 ? c : (*v = second, 0);
    }
    int SetKeyAlgorithm(IPKIObject*) override { return Fill(24, "key;"); }
    int BuildImprintGOST(const std::uint8_t* sBox) override { return Fill(25, "gost:" + Hex(sBox, 4) + ";"); }
    int BuildImprintSHA() override { return Fill(26, "sha;"); }
    int FillFromSignerDSTU4145Old(IPKIObject*, const char* oid) override
    {
        return Fill(31, "31:" + std::string(oid) + ";");
    }
    int FillFromSignerIntlOld(IPKIObject*, const char* oid) override
    {
        return Fill(32, "32:" + std::string(oid) + ";");
    }
    int FillFromSignerDSTU4145(IPKIObject*, const char* oid) override
    {
        return Fill(33, "33:" + std::string(oid) + ";");
    }
    int FillFromSignerIntl(IPKIObject*, const char* oid) override { return Fill(34, "34:" + std::string(oid) + ";"); }
    int Imprint(std::uint8_t* out, std::uint32_t* length)
    {
        if (imprint.size() > *length) return PKI_E_INVALID_ARGUMENT;
        std::memcpy(out, imprint.data(), imprint.size());
        *length = static_cast<std::uint32_t>(imprint.size());
        return 0;
    }

private:
    int Fill(std::uint32_t op, const std::string& what)
    {
        int c = lib_.Enter(PKI_CLASS_TS_REQUEST, op, "");
        return c >= 0 ? c : (filled += what, 0);
    }
};

// Time-stamp information (4904 / 4141) with its long-imprint view (4260):
// it encodes to "tst:" and what was set, in order.
class TSInfo final : public Object<IPKITimeStampInfo> {
public:
    explicit TSInfo(Library& lib) : Object(lib, PKI_CLASS_TS_INFO)
    {
        class Long final : public ViewOf<IPKITimeStampInfoImprint> {
        public:
            explicit Long(TSInfo* owner) : ViewOf(owner), t_(owner) {}
            int SetLongImprint(std::uint32_t kind, const std::uint8_t* imprint, std::uint32_t length) override
            {
                return t_->Set(40, "long" + std::to_string(kind) + ":" + Hex(imprint, length));
            }

        private:
            TSInfo* t_;
        };
        AddView(this, PKI_IID_TS_INFO_IMPRINT, new Long(this));
    }
    std::string set;
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_TS_INFO, 3, "");
        return c >= 0 ? c : CopyToBlob(lib_, "tst:" + set, out);
    }
    int Decode(const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetPartA(void*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetPartB(void*) override { return PKI_E_NOT_IMPLEMENTED; }
    int SetRequest(IPKIObject*) override { return Set(6, "request"); }
    int SetImprintGOST(const std::uint8_t* i, std::uint32_t n) override { return Set(9, "gost:" + Hex(i, n)); }
    int SetImprintSHA(const std::uint8_t* i, std::uint32_t n) override { return Set(11, "sha:" + Hex(i, n)); }
    int SetFirstValue(std::uint32_t v) override { return Set(13, "first:" + std::to_string(v)); }
    int SetSecondValue(std::uint32_t v) override { return Set(15, "second:" + std::to_string(v)); }
    int SetNonce(const std::uint8_t* n, std::uint32_t length) override { return Set(22, "nonce:" + Hex(n, length)); }
    int Set(std::uint32_t op, const std::string& what)
    {
        int c = lib_.Enter(PKI_CLASS_TS_INFO, op, "");
        if (c >= 0) return c;
        set += what + ";";
        return 0;
    }
};

// Makes CreateObject hand out the time-stamp request and information above.
inline void UseTimeStampObjects(Library& lib)
{
    lib.makers[{PKI_CLASS_TS_REQUEST, PKI_IID_TS_REQUEST}] = [&lib]() -> void* {
        return static_cast<IPKITimeStampRequest*>(new TSRequest(lib));
    };
    lib.makers[{PKI_CLASS_TS_INFO, PKI_IID_TS_INFO}] = [&lib]() -> void* {
        return static_cast<IPKITimeStampInfo*>(new TSInfo(lib));
    };
}

// Content information read as a message of a known format: Open and Load
// take the encoding, the content and type are set by the test.
class TSContent final : public Object<IPKIContentInfoForms> {
public:
    explicit TSContent(Library& lib) : Object(lib, PKI_CLASS_CONTENT_INFO) {}
    std::uint32_t kind = 3;
    std::string content = "content";
    std::string type = std::string("1.2.840.113549.1.7.1", 21);
    std::uint32_t version = 0;
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 4, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
    int GetContentType(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetContent(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetContentBlob(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 13, "");
        return c >= 0 ? c : CopyToBlob(lib_, content, out);
    }
    int GetContentTypeText(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 34, "");
        return c >= 0 ? c : CopyToBlob(lib_, type, out);
    }
    int Open(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 37, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
    int GetFormatKind(std::uint32_t* k) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 57, "");
        return c >= 0 ? c : (*k = kind, 0);
    }
    int Load(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 63, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
    int SetVersionNumber(std::uint32_t v) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 65, std::to_string(v));
        return c >= 0 ? c : (version = v, 0);
    }
};

// Plain data: hands out "plain:" and what it took.
class TSPlainData final : public Object<IPKIDataContent> {
public:
    explicit TSPlainData(Library& lib) : Object(lib, PKI_CLASS_DATA_CONTENT) {}
    std::string data;
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_DATA_CONTENT, 4, std::to_string(in->length));
        return c >= 0 ? c : (data.assign(reinterpret_cast<const char*>(in->data), in->length), 0);
    }
    int GetOctets(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_DATA_CONTENT, 5, "");
        return c >= 0 ? c : CopyToBlob(lib_, "plain:" + data, out);
    }
};

class TSDataContent final : public Object<IPKIEnvelopedContentType> {
public:
    explicit TSDataContent(Library& lib) : Object(lib, PKI_CLASS_ENVELOPED_DATA) {}
    std::string type;
    int SetContentType(const char* oid) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 35, oid);
        return c >= 0 ? c : (type = oid, 0);
    }
};

class TSSignedAttribute final : public Object<IPKISignedAttribute> {
public:
    explicit TSSignedAttribute(Library& lib) : Object(lib, PKI_CLASS_SIGNED_ATTRIBUTE)
    {
        offers.insert(PKI_IID_SIGNED_ATTRIBUTE);
    }
    std::string type, value;
    int GetEncodedValue(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_ATTRIBUTE, 18, "");
        return c >= 0 ? c : CopyToBlob(lib_, value, out);
    }
    int SetType(const char* oid) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_ATTRIBUTE, 13, oid);
        return c >= 0 ? c : (type = oid, 0);
    }
    int SetEncodedValue(const PKIBlob* v) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_ATTRIBUTE, 20, std::to_string(v->length));
        return c >= 0 ? c : (value.assign(reinterpret_cast<const char*>(v->data), v->length), 0);
    }
    int SetValueForm3(const PKIBlob* v) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_ATTRIBUTE, 19, std::to_string(v->length));
        return c >= 0 ? c : (value.assign(reinterpret_cast<const char*>(v->data), v->length), 0);
    }
};

// Takes the attribute's type and value into `attributes`.
inline int TSSigner::AddSignedAttribute(IPKIObject* attribute)
{
    int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 26, "");
    if (c >= 0) return c;
    auto* a = static_cast<TSSignedAttribute*>(static_cast<IPKISignedAttribute*>(attribute));
    attributes[a->type].push_back(a->value);
    return 0;
}

// Makes the signed attributes the facade creates.
inline void UseTimeStampAttributes(Library& lib)
{
    lib.makers[{PKI_CLASS_SIGNED_ATTRIBUTE, PKI_IID_SIGNED_ATTRIBUTE}] = [&lib]() -> void* {
        return static_cast<IPKISignedAttribute*>(new TSSignedAttribute(lib));
    };
}

inline int TSSigner::GetSignedAttribute(const char* oid, std::uint32_t index, void** attribute)
{
    int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, 21, std::string(oid) + "," + std::to_string(index));
    if (c >= 0) return c;
    auto& values = attributes[oid];
    if (index >= values.size()) return PKI_E_INDEX;
    auto* a = new TSSignedAttribute(lib_);
    a->type = oid;
    a->value = values[index];
    *attribute = static_cast<IPKIObject*>(static_cast<IPKISignedAttribute*>(a));
    return 0;
}

// A recipient identifier by issuer and serial (form 1) or key identifier
// (form 2).
inline PKIRecipientIdentifier RecipientOf(const TSCertificate& c, std::uint32_t form)
{
    PKIRecipientIdentifier r;
    std::memset(&r, 0, sizeof r);
    r.form = form;
    wcscpy(r.name, c.issuer.c_str());
    std::memcpy(r.serial, c.serial, 20);
    std::memcpy(r.keyIdentifier, c.keyIdentifier.data(), c.keyIdentifier.size() < 32 ? c.keyIdentifier.size() : 32);
    return r;
}

// A recipient entry: kind 1 with one identifier (handed out through slot
// 54 as an object of its own), kind 2 with its keys; slot 49 keeps what it
// was given.
class TSRecipient final : public Object<IPKIRecipientEntry> {
public:
    TSRecipient(Library& lib, std::uint32_t entryKind) : Object(lib, 4927), kind(entryKind) {}
    void Retain() { ++refs_; }
    std::uint32_t kind;
    std::vector<PKIRecipientIdentifier> keys;  // kind 1: its identifier
    std::string agreement;                     // what slot 49 was given
    int ReadIdentifier(PKIRecipientIdentifier* out) override
    {
        int c = lib_.Enter(4927, 3, "");
        if (c >= 0) return c;
        if (keys.empty()) return PKI_E_ABSENT;
        *out = keys[0];
        return 0;
    }
    int GetKeyCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(4927, 7, "");
        return c >= 0 ? c : (*count = static_cast<std::uint32_t>(keys.size()), 0);
    }
    int GetKey(std::uint32_t index, PKIRecipientIdentifier* out) override
    {
        int c = lib_.Enter(4927, 8, std::to_string(index));
        if (c >= 0) return c;
        if (index >= keys.size()) return PKI_E_INDEX;
        *out = keys[index];
        return 0;
    }
    int RemoveKey(std::uint32_t index) override
    {
        int c = lib_.Enter(4927, 13, std::to_string(index));
        if (c >= 0) return c;
        if (index >= keys.size()) return PKI_E_INDEX;
        keys.erase(keys.begin() + index);
        return 0;
    }
    int SetAgreementKey(const std::uint8_t* value, std::uint32_t size, std::uint32_t k, const wchar_t* issuer,
                        const PKIBlob* serial) override
    {
        int c = lib_.Enter(4927, 49, std::to_string(size) + "," + std::to_string(k));
        if (c >= 0) return c;
        bool zero = true;
        for (int i = 0; i < 76; ++i) zero &= value[i] == 0;
        agreement = std::string(zero ? "zero" : "value") + "," + std::to_string(size) + "," + std::to_string(k) + "," +
                    std::to_string(wcslen(issuer)) + "," + std::to_string(serial->length);
        return 0;
    }
    int GetTransportIdentifier(void** identifier) override
    {
        int c = lib_.Enter(4927, 54, "");
        if (c >= 0) return c;
        auto* copy = new TSRecipient(lib_, 1);
        copy->keys = keys;
        *identifier = static_cast<IPKIRecipientEntry*>(copy);
        return 0;
    }
};

// Enveloped data as its recipient entries (owned); slot 64 records the
// recipients added.
class TSEnveloped final : public Object<IPKIEnvelopedRecipients> {
public:
    explicit TSEnveloped(Library& lib) : Object(lib, 4909) {}
    ~TSEnveloped()
    {
        for (TSRecipient* r : entries) r->Release();
    }
    std::vector<TSRecipient*> entries;
    std::vector<std::string> added;
    int GetRecipientCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(4909, 27, "");
        return c >= 0 ? c : (*count = static_cast<std::uint32_t>(entries.size()), 0);
    }
    int GetAgreementEntry(std::uint32_t index, void** entry) override { return Hand(28, index, nullptr, entry); }
    int GetRecipientEntry(std::uint32_t index, std::uint32_t* kind, void** entry) override
    {
        return Hand(53, index, kind, entry);
    }
    int RemoveRecipient(std::uint32_t index) override
    {
        int c = lib_.Enter(4909, 32, std::to_string(index));
        if (c >= 0) return c;
        if (index >= entries.size()) return PKI_E_INDEX;
        entries[index]->Release();
        entries.erase(entries.begin() + index);
        return 0;
    }
    int AddRecipient(const wchar_t* issuer, const PKIBlob* serial, const std::uint8_t* keyIdentifier,
                     std::uint32_t value) override
    {
        int c = lib_.Enter(4909, 64, std::to_string(value));
        if (c >= 0) return c;
        std::string a = issuer ? std::to_string(wcslen(issuer)) : "-";
        a += serial ? "," + Hex(serial->data, serial->length) : ",-";
        a += keyIdentifier ? "," + Hex(keyIdentifier, 4) : ",-";
        added.push_back(a + "," + std::to_string(value));
        return 0;
    }

private:
    int Hand(std::uint32_t op, std::uint32_t index, std::uint32_t* kind, void** entry)
    {
        int c = lib_.Enter(4909, op, std::to_string(index));
        if (c >= 0) return c;
        if (index >= entries.size()) return PKI_E_INDEX;
        if (kind) *kind = entries[index]->kind;
        entries[index]->Retain();
        *entry = static_cast<IPKIRecipientEntry*>(entries[index]);
        return 0;
    }
};

// Key parameters that offer the key-context interface 4215 as a view of
// their own: its flags, and what slots 3 and 6 were given.
struct ContextRecord {
    std::uint32_t flags = 5;
    std::string given;
};
inline IPKIParameters* ParametersWithContext(Library& lib, const Curve& curve, ContextRecord* record)
{
    auto* p = new CurveParameters(lib, curve);
    class View final : public ViewOf<IPKIKeyContextDSTU4145> {
    public:
        View(IPKIObject* owner, Library& lib, ContextRecord* r) : ViewOf(owner), lib_(lib), r_(r) {}
        int SetContext(const void* context, std::uint32_t flags) override
        {
            int c = lib_.Enter(PKI_CLASS_DSTU4145_PARAMETERS, 3, std::to_string(flags), 4215);
            if (c >= 0) return c;
            r_->given +=
                "context:" + std::to_string(flags) + ":" +
                std::to_string(reinterpret_cast<std::uintptr_t>(static_cast<const CSPContextLike*>(context)->prng)) +
                ";";
            return 0;
        }
        std::uint32_t GetContextFlags() override
        {
            lib_.Enter(PKI_CLASS_DSTU4145_PARAMETERS, 4, "", 4215);
            return r_->flags;
        }
        int GetContext(void*, std::uint32_t) override { return PKI_E_NOT_IMPLEMENTED; }
        int SetContextFlags(std::uint32_t flags) override
        {
            int c = lib_.Enter(PKI_CLASS_DSTU4145_PARAMETERS, 6, std::to_string(flags), 4215);
            if (c >= 0) return c;
            r_->given += "flags:" + std::to_string(flags) + ";";
            return 0;
        }

    private:
        Library& lib_;
        ContextRecord* r_;
    };
    AddView(p, PKI_IID_KEY_CONTEXT_DSTU4145, new View(static_cast<IPKIParameters*>(p), lib, record));
    return p;
}

inline IPKIParameters* TSCertificate::MakeParameters()
{
    return context ? ParametersWithContext(lib_, curve, context)
                   : static_cast<IPKIParameters*>(new CurveParameters(lib_, curve));
}

// A codec that takes any object and decodes any blob into it.
class AnyCodec final : public Object<IPKICodec> {
public:
    explicit AnyCodec(Library& lib) : Object(lib, PKI_CLASS_CODEC) {}
    int Attach(IPKIObject*) override
    {
        int c = lib_.Enter(PKI_CLASS_CODEC, 5, "");
        return c >= 0 ? c : 0;
    }
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_CODEC, 4, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
};

// Makes CreateObject hand out the content-information, plain-data,
// data-content and signed-attribute objects above, and a codec for any
// object.
inline void UseContentObjects(Library& lib)
{
    lib.makers[{PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO}] = [&lib]() -> void* {
        return static_cast<IPKIContentInfo*>(new TSContent(lib));
    };
    lib.makers[{PKI_CLASS_CODEC, PKI_IID_CODEC}] = [&lib]() -> void* {
        return static_cast<IPKICodec*>(new AnyCodec(lib));
    };
    lib.makers[{PKI_CLASS_DATA_CONTENT, PKI_IID_DATA_CONTENT}] = [&lib]() -> void* {
        return static_cast<IPKIDataContent*>(new TSPlainData(lib));
    };
    lib.makers[{PKI_CLASS_ENVELOPED_DATA, PKI_IID_ENVELOPED_DATA}] = [&lib]() -> void* {
        return static_cast<IPKIEnvelopedContentType*>(new TSDataContent(lib));
    };
    lib.makers[{PKI_CLASS_SIGNED_ATTRIBUTE, PKI_IID_SIGNED_ATTRIBUTE}] = [&lib]() -> void* {
        return static_cast<IPKISignedAttribute*>(new TSSignedAttribute(lib));
    };
}

}  // namespace fake

// ---- CMS signers: signed data, signer infos, attributes and identifiers ----
namespace fake {

// A signer info (4918 / 4193) with its ECDSA (4229) and DSTU 7564 (4254)
// views; every slot logs under class 4918 and the view's interface, and
// what it reads or hands out is the test's to set.
class CmsSigner final : public Object<IPKISignerInfoDSTU7564> {
public:
    explicit CmsSigner(Library& lib, bool dstu7564 = true) : Object(lib, PKI_CLASS_SIGNER_INFO)
    {
        offers.insert(PKI_IID_SIGNER_INFO);
        if (dstu7564) offers.insert(PKI_IID_SIGNER_INFO_DSTU7564);
        AddView(this, PKI_IID_SIGNER_INFO_ECDSA, new ECDSA(this));
        AddView(this, 4249, new View4249(this));
    }
    // Signing steps: the time written (slot 42) and the values passed on.
    SYSTEMTIME signingTime{};
    int timesWritten = 0;
    std::vector<void*> passed;
    int SetSigningTime(const SYSTEMTIME* time) override
    {
        int c = Enter(42, "");
        if (c) return c;
        signingTime = *time;
        ++timesWritten;
        return 0;
    }
    int PrepareSignature(const std::uint8_t* publicKey, std::uint32_t, IPKIObject*, PKIBlob* value) override
    {
        int c = Enter(100, std::to_string(publicKey[0]));
        return c ? c : CopyToBlob(lib_, "value to sign", value);
    }
    int SignHash(void* first, void* second, void* third) override
    {
        int c = Enter(135, "", PKI_IID_SIGNER_INFO_DSTU7564);
        if (!c) passed = {first, second, third};
        return c;
    }
    void Retain() { ++refs_; }
    // Identity and key.
    std::uint32_t keyKind = 1;
    std::uint32_t standardAttributes = 1;  // slot 40
    // Slot 32 (feature 4383): the hash and whether the feature is offered.
    bool hasHashFeature = true;
    std::vector<std::uint8_t> valueHash = std::vector<std::uint8_t>(32, 0x5A);
    // Slot 70: the signature value.
    std::vector<std::uint8_t> signatureValue = std::vector<std::uint8_t>(64, 0x33);
    // Signing time (slot 41) and the DSTU extension's (its slot 7).
    int signingTimeAnswer = 0;
    bool hasExtension = false;
    int extensionTimeAnswer = 0;
    bool extensionHasToken = false;
    bool hasToken = false;
    // Attributes by type: how many (slot 10) and what the one holds.
    std::map<std::string, std::uint32_t> attributeCounts;
    std::string attributeValue = "attribute value";
    std::vector<std::string> addedAttributes;  // the types of slot 13's objects, as the log has them
    int tokensAdded = 0;
    std::string contentType;
    // The DSTU 7564 view: hash kind and size (bytes).
    std::uint32_t hashKind = 3, hashBytes = 32;
    std::uint32_t hashBits = 256;  // slot 97
    std::string digestSet;         // "content:<bits>", "hash:<bits>:<hex>", ...
    int verifyAnswer = 0;
    std::string verified;  // what the last verification covered

    int SetIdentifier(std::uint32_t form, IPKIObject*, const wchar_t* issuer, std::uint32_t flags) override
    {
        return Enter(4, std::to_string(form) + "," + Narrow(issuer) + "," + std::to_string(flags));
    }
    int GetAttribute(const char* type, std::uint32_t index, void** attribute) override;
    int HasFeature(std::uint32_t feature, std::uint32_t* present) override
    {
        int c = Enter(9, std::to_string(feature));
        if (c) return c;
        *present = feature == PKI_FEATURE_SIGNATURE_VALUE_HASH && hasHashFeature ? 1 : 0;
        return 0;
    }
    int CountAttributes(const char* type, std::uint32_t* count) override
    {
        int c = Enter(10, type);
        if (c) return c;
        auto it = attributeCounts.find(type);
        *count = it == attributeCounts.end() ? 0 : it->second;
        return 0;
    }
    int AddAttribute(IPKIObject*) override { return Enter(13, ""); }
    int AttachSigningCertificate(IPKIObject*) override { return Enter(36, ""); }
    int EncodeSigner(PKIBlob* out) override
    {
        int c = Enter(95, "");
        return c ? c : CopyToBlob(lib_, "encoded signer", out);
    }
    int VerifyEncapsulated(const std::uint8_t*, std::uint32_t, IPKIObject*) override
    {
        int c = Enter(81, "");
        return c ? c : verifyAnswer;
    }
    int SetContentType(const char* oid) override
    {
        int c = Enter(30, oid);
        if (!c) contentType = oid;
        return c;
    }
    // Writes the whole hash whatever the caller's buffer, as the library does.
    int GetSignatureValueHash(std::uint8_t* hash, std::uint32_t* length) override
    {
        int c = Enter(32, hash ? "fill" : "length");
        if (c) return c;
        if (hash) std::memcpy(hash, valueHash.data(), valueHash.size());
        *length = static_cast<std::uint32_t>(valueHash.size());
        return 0;
    }
    int HasSignerExtension(std::uint32_t* present) override
    {
        int c = Enter(38, "");
        if (c) return c;
        *present = hasExtension ? 1 : 0;
        return 0;
    }
    int GetSignerExtension(void** extension) override;
    int UsesStandardAttributes() override
    {
        int c = Enter(40, "");
        return c ? 0 : static_cast<int>(standardAttributes);
    }
    int GetSigningTime(SYSTEMTIME* time) override
    {
        int c = Enter(41, "");
        if (c) return c;
        if (signingTimeAnswer) return signingTimeAnswer;
        *time = SYSTEMTIME{2026, 12, 5, 11, 10, 0, 0, 0};
        return 0;
    }
    int GetExtensionTimeStampToken(void** token) override;
    int HasTimeStampToken(std::uint32_t* present) override
    {
        int c = Enter(47, "");
        if (c) return c;
        *present = hasToken ? 1 : 0;
        return 0;
    }
    int GetTimeStampToken(void** token) override;
    int AddTimeStampToken(IPKIObject*) override
    {
        int c = Enter(49, "");
        if (!c) ++tokensAdded;
        return c;
    }
    int GetSignatureValue(std::uint8_t* value, std::uint32_t* length) override
    {
        int c = Enter(70, value ? "fill" : "length");
        if (c) return c;
        if (value) std::memcpy(value, signatureValue.data(), signatureValue.size());
        *length = static_cast<std::uint32_t>(signatureValue.size());
        return 0;
    }
    int GetKeyKind(std::uint32_t* kind) override
    {
        int c = Enter(93, "");
        if (c) return c;
        *kind = keyKind;
        return 0;
    }
    int SetValue(const PKIBlob* value) override
    {
        return Enter(96, value ? std::string(reinterpret_cast<const char*>(value->data), value->length) : "");
    }
    int GetHashSize(std::uint32_t* bits) override
    {
        int c = Enter(97, "");
        if (c) return c;
        *bits = hashBits;
        return 0;
    }

    // The DSTU 7564 slots (interface 4254).
    int GetHashKind(std::uint32_t* kind) override
    {
        int c = Enter(123, "", PKI_IID_SIGNER_INFO_DSTU7564);
        if (c) return c;
        *kind = hashKind;
        return 0;
    }
    int SetHashKind(std::uint32_t kind, std::uint32_t bytes) override
    {
        int c = Enter(125, std::to_string(kind) + "," + std::to_string(bytes), PKI_IID_SIGNER_INFO_DSTU7564);
        if (c) return c;
        hashKind = kind;
        hashBytes = bytes;
        return 0;
    }
    int SetContent(std::uint32_t kind, std::uint32_t bytes, const PKIBlob* content) override
    {
        return SetDSTU(126, "content:" + std::to_string(kind) + ":" + std::to_string(bytes) + ":" +
                                std::string(reinterpret_cast<const char*>(content->data), content->length));
    }
    int SetHash(std::uint32_t kind, std::uint32_t bytes, const std::uint8_t* hash) override
    {
        return SetDSTU(127, "hash:" + std::to_string(kind) + ":" + std::to_string(bytes) + ":" + Bytes(hash, bytes));
    }
    int VerifyContent(const std::uint8_t*, IPKIObject*, const PKIBlob* content) override
    {
        return VerifyDSTU(131, std::string(reinterpret_cast<const char*>(content->data), content->length));
    }
    int VerifyHash(const std::uint8_t*, IPKIObject*, const PKIBlob* hash) override
    {
        return VerifyDSTU(132, Bytes(hash->data, hash->length));
    }
    int GetHashBytes(std::uint32_t* bytes) override
    {
        int c = Enter(133, "", PKI_IID_SIGNER_INFO_DSTU7564);
        if (c) return c;
        *bytes = hashBytes;
        return 0;
    }

    static std::string Narrow(const wchar_t* w)
    {
        std::string s;
        for (; w && *w; ++w) s += static_cast<char>(*w);
        return s;
    }

private:
    int Enter(std::uint32_t op, const std::string& args, std::uint32_t iid = PKI_IID_SIGNER_INFO)
    {
        int c = lib_.Enter(PKI_CLASS_SIGNER_INFO, op, args, iid, this);
        return c >= 0 ? c : 0;
    }
    static std::string Bytes(const std::uint8_t* b, std::size_t n)
    {
        static const char* digits = "0123456789abcdef";
        std::string s;
        for (std::size_t i = 0; i < n; ++i) (s += digits[b[i] >> 4]) += digits[b[i] & 15];
        return s;
    }
    int SetDSTU(std::uint32_t op, const std::string& what)
    {
        int c = Enter(op, what, PKI_IID_SIGNER_INFO_DSTU7564);
        if (!c) digestSet = what;
        return c;
    }
    int VerifyDSTU(std::uint32_t op, const std::string& what)
    {
        int c = Enter(op, "", PKI_IID_SIGNER_INFO_DSTU7564);
        if (c) return c;
        verified = what;
        return verifyAnswer;
    }
    class View4249 final : public ViewOf<IPKISignerInfoView4249> {
    public:
        explicit View4249(CmsSigner* s) : ViewOf(s), s_(s) {}
        int SetSigningTime(const SYSTEMTIME* time) override { return s_->SetSigningTime(time); }
        int SignWith(void* first, void* second) override
        {
            int c = s_->Enter(122, "", 4249);
            if (!c) s_->passed = {first, second};
            return c;
        }

    private:
        CmsSigner* s_;
    };
    class ECDSA final : public ViewOf<IPKISignerInfoECDSA> {
    public:
        explicit ECDSA(CmsSigner* s) : ViewOf(s), s_(s) {}
        int GetHashSize(std::uint32_t* bits) override
        {
            int c = s_->Enter(97, "", PKI_IID_SIGNER_INFO_ECDSA);
            if (c) return c;
            *bits = s_->hashBits;
            return 0;
        }
        int SetKeySize(std::uint32_t bits) override { return Set(106, "key:" + std::to_string(bits)); }
        int SetContent(std::uint32_t bits, const PKIBlob* content) override
        {
            return Set(107, "content:" + std::to_string(bits) + ":" +
                                std::string(reinterpret_cast<const char*>(content->data), content->length));
        }
        int SetHash(std::uint32_t bits, const std::uint8_t* hash) override
        {
            return Set(108, "hash:" + std::to_string(bits) + ":" + Bytes(hash, bits / 8));
        }
        int VerifyContent(const std::uint8_t*, const std::uint8_t*, const PKIBlob* content) override
        {
            return Verify(112, std::string(reinterpret_cast<const char*>(content->data), content->length));
        }
        int VerifyHash(const std::uint8_t*, const std::uint8_t*, const PKIBlob* hash) override
        {
            return Verify(114, Bytes(hash->data, hash->length));
        }

    private:
        int Set(std::uint32_t op, const std::string& what)
        {
            int c = s_->Enter(op, what, PKI_IID_SIGNER_INFO_ECDSA);
            if (!c) s_->digestSet = what;
            return c;
        }
        int Verify(std::uint32_t op, const std::string& what)
        {
            int c = s_->Enter(op, "", PKI_IID_SIGNER_INFO_ECDSA);
            if (c) return c;
            s_->verified = what;
            return s_->verifyAnswer;
        }
        CmsSigner* s_;
    };
};

// The DSTU signer extension (signer slot 39).
class SignerExtension final : public Object<IPKISignerExtension> {
public:
    explicit SignerExtension(Library& lib, CmsSigner& signer) : Object(lib, 4918), signer_(signer) {}
    int CheckPublicKey(const std::uint8_t*, std::uint32_t, IPKIObject*) override
    {
        int c = lib_.Enter(4918, 6, "extension");
        return c >= 0 ? c : 0;
    }
    int GetSigningTime(SYSTEMTIME* time) override
    {
        int c = lib_.Enter(4918, 7, "extension");
        if (c >= 0) return c;
        if (signer_.extensionTimeAnswer) return signer_.extensionTimeAnswer;
        *time = SYSTEMTIME{2026, 12, 5, 11, 9, 0, 0, 0};
        return 0;
    }
    int HasTimeStampToken(std::uint32_t* present) override
    {
        int c = lib_.Enter(4918, 9, "extension");
        if (c >= 0) return c;
        *present = signer_.extensionHasToken ? 1 : 0;
        return 0;
    }

private:
    CmsSigner& signer_;
};

// A signed attribute (4866 / 4153) whose value reads back as `value`.
class SignedAttribute final : public Object<IPKISignedAttribute> {
public:
    SignedAttribute(Library& lib, std::string value) : Object(lib, PKI_CLASS_SIGNED_ATTRIBUTE), value_(std::move(value))
    {
        offers.insert(PKI_IID_SIGNED_ATTRIBUTE);
    }
    int GetValueForm1(PKIBlob* out) override { return Read(14, out); }
    int GetValueForm2(PKIBlob* out) override { return Read(16, out); }
    int SetType(const char* oid) override { return Write(13, oid); }
    int SetValueForm1(const PKIBlob* v) override { return Write(15, Text(v)); }
    int SetValueForm2(const PKIBlob* v) override { return Write(17, Text(v)); }
    int SetValueForm3(const PKIBlob* v) override { return Write(19, Text(v)); }

private:
    static std::string Text(const PKIBlob* v) { return std::string(reinterpret_cast<const char*>(v->data), v->length); }
    int Write(std::uint32_t op, const std::string& args)
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_ATTRIBUTE, op, args, PKI_IID_SIGNED_ATTRIBUTE);
        return c >= 0 ? c : 0;
    }
    int Read(std::uint32_t op, PKIBlob* out)
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_ATTRIBUTE, op, "", PKI_IID_SIGNED_ATTRIBUTE);
        return c >= 0 ? c : CopyToBlob(lib_, value_, out);
    }
    std::string value_;
};

inline int CmsSigner::GetAttribute(const char* type, std::uint32_t index, void** attribute)
{
    int c = Enter(8, std::string(type) + "," + std::to_string(index));
    if (c) return c;
    *attribute = static_cast<IPKISignedAttribute*>(new SignedAttribute(lib_, attributeValue));
    return 0;
}

inline int CmsSigner::GetSignerExtension(void** extension)
{
    int c = Enter(39, "");
    if (c) return c;
    if (!hasExtension) return PKI_E_ABSENT;
    *extension = static_cast<IPKISignerExtension*>(new SignerExtension(lib_, *this));
    return 0;
}

inline int CmsSigner::GetTimeStampToken(void** token)
{
    int c = Enter(48, "");
    if (c) return c;
    auto* info = new ContentInfo(lib_);
    info->content = "standard token";
    *token = static_cast<IPKIContentInfo*>(info);
    return 0;
}

inline int CmsSigner::GetExtensionTimeStampToken(void** token)
{
    int c = Enter(44, "");
    if (c) return c;
    auto* info = new ContentInfo(lib_);
    info->content = "extension token";
    *token = static_cast<IPKIContentInfo*>(info);
    return 0;
}

// Signed data (4900 / 4136) holding signers, content and digest OIDs.
class CmsSignedData final : public Object<IPKISignedDataSigners> {
public:
    explicit CmsSignedData(Library& lib) : Object(lib, PKI_CLASS_SIGNED_DATA) { offers.insert(PKI_IID_SIGNED_DATA); }
    ~CmsSignedData()
    {
        for (CmsSigner* s : signers) s->Release();
    }
    std::vector<CmsSigner*> signers;  // one reference each
    bool hasContent = false;
    std::string content;
    std::string contentType = "1.2.840.113549.1.7.1";
    std::vector<std::string> digests;

    int Encode(PKIBlob* out) override
    {
        int c = Enter(3, "");
        return c ? c : CopyToBlob(lib_, "encoded signed data", out);
    }
    int Decode(const PKIBlob* in) override { return Enter(4, std::to_string(in->length)); }
    int GetCertificate(std::uint32_t, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int AddCertificate(IPKIObject*) override { return Enter(7, ""); }
    int GetSignerCount(std::uint32_t* count) override
    {
        int c = Enter(10, "");
        if (c) return c;
        *count = static_cast<std::uint32_t>(signers.size());
        return 0;
    }
    int GetSigner(std::uint32_t index, void** signer) override
    {
        int c = Enter(11, std::to_string(index));
        if (c) return c;
        if (index >= signers.size()) return PKI_E_INDEX;
        signers[index]->Retain();
        *signer = static_cast<IPKISignerInfo*>(signers[index]);
        return 0;
    }
    int AddSigner(IPKIObject* signer) override
    {
        int c = Enter(12, "");
        if (c) return c;
        auto* s = dynamic_cast<CmsSigner*>(static_cast<IPKISignerInfo*>(signer));
        if (!s) return PKI_E_INVALID_ARGUMENT;
        s->Retain();
        signers.push_back(s);
        return 0;
    }
    int HasContent(std::uint32_t* present) override
    {
        int c = Enter(15, "");
        if (c) return c;
        *present = hasContent ? 1 : 0;
        return 0;
    }
    int GetContentType(char* oid, std::uint32_t* length) override
    {
        int c = Enter(16, std::to_string(*length));
        if (c) return c;
        if (contentType.size() + 1 > *length) return PKI_E_INVALID_ARGUMENT;
        std::memcpy(oid, contentType.c_str(), contentType.size() + 1);
        *length = static_cast<std::uint32_t>(contentType.size());
        return 0;
    }
    int SetContentType(const char* oid) override
    {
        int c = Enter(17, oid);
        if (!c) contentType = oid;
        return c;
    }
    int GetContent(PKIBlob* out) override
    {
        int c = Enter(18, "");
        if (c) return c;
        return hasContent ? CopyToBlob(lib_, content, out) : PKI_E_ABSENT;
    }
    int SetContent(const PKIBlob* in) override
    {
        int c = Enter(19, std::to_string(in->length));
        if (c) return c;
        content.assign(reinterpret_cast<const char*>(in->data), in->length);
        hasContent = true;
        return 0;
    }
    int GetDigestAlgorithmCount(std::uint32_t* count) override
    {
        int c = Enter(21, "");
        if (c) return c;
        *count = static_cast<std::uint32_t>(digests.size());
        return 0;
    }
    int GetDigestAlgorithm(std::uint32_t index, char* oid, std::uint32_t* length) override
    {
        int c = Enter(22, std::to_string(index));
        if (c) return c;
        if (index >= digests.size()) return PKI_E_INDEX;
        if (digests[index].size() + 1 > *length) return PKI_E_INVALID_ARGUMENT;
        std::memcpy(oid, digests[index].c_str(), digests[index].size() + 1);
        *length = static_cast<std::uint32_t>(digests[index].size());
        return 0;
    }
    int AddDigestAlgorithm(const char* oid) override
    {
        int c = Enter(23, oid);
        if (!c) digests.push_back(oid);
        return c;
    }

private:
    int Enter(std::uint32_t op, const std::string& args)
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, op, args, PKI_IID_SIGNED_DATA, this);
        return c >= 0 ? c : 0;
    }
};

// A signing-certificate attribute (4919 / 4192) with one entry in the
// general form. The certificate's hash it computes is byte i = 0xC0 + i.
class SigningCertificate final : public Object<IPKISigningCertificate> {
public:
    explicit SigningCertificate(Library& lib) : Object(lib, PKI_CLASS_SIGNING_CERTIFICATE)
    {
        for (std::uint32_t i = 0; i < 64; ++i) hash[i] = static_cast<std::uint8_t>(0xC0 + i);
    }
    std::uint32_t entries = 1;
    std::uint32_t bits = 256;
    std::uint8_t hash[64];
    std::wstring issuer = L"CN=Issuer";
    std::uint8_t serial[20] = {5};
    std::uint32_t hashedBits = 0;  // the size the last HashCertificate was asked for

    int GetEntryCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNING_CERTIFICATE, 3, "");
        if (c >= 0) return c;
        *count = entries;
        return 0;
    }
    // Copies the whole 64-byte hash, whatever the size it reports.
    int GetEntry(std::uint32_t, std::uint32_t* b, std::uint8_t* h, wchar_t* i, std::uint8_t* s) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNING_CERTIFICATE, 5, "");
        if (c >= 0) return c;
        *b = bits;
        std::memcpy(h, hash, 64);
        wcscpy(i, issuer.c_str());
        std::memcpy(s, serial, 20);
        return 0;
    }
    int HashCertificate(IPKIObject*, std::uint32_t b, std::uint8_t* h) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNING_CERTIFICATE, 11, std::to_string(b));
        if (c >= 0) return c;
        hashedBits = b;
        for (std::uint32_t i = 0; i < b / 8; ++i) h[i] = static_cast<std::uint8_t>(0xC0 + i);
        return 0;
    }
    int SetEntry(const std::uint8_t* h, std::uint32_t b, std::uint32_t withIdentity, IPKIObject*,
                 const wchar_t* i) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNING_CERTIFICATE, 13,
                           std::to_string(h[0]) + "," + std::to_string(b) + "," + std::to_string(withIdentity) + "," +
                               CmsSigner::Narrow(i));
        return c >= 0 ? c : 0;
    }
};

// A certificate-identifier list or entry with its 4256 view: the code and
// hash it reads and the hashes it computes are the test's.
class Identifiers final : public Object<IPKICertificateIdentifiers> {
public:
    explicit Identifiers(Library& lib) : Object(lib, 4921)
    {
        AddView(this, PKI_IID_IDENTIFIERS_DSTU7564, new View(this));
    }
    std::uint32_t code = 4;
    std::uint32_t count = 2;
    std::vector<std::uint8_t> stored = std::vector<std::uint8_t>(64, 0x77);    // what the readers give
    std::vector<std::uint8_t> computed = std::vector<std::uint8_t>(64, 0x77);  // what the hashes give
    std::vector<std::uint8_t> computedEx = std::vector<std::uint8_t>(64, 0x77);
    std::string identity;  // "index:issuer:serial bytes"

    int GetCount(std::uint32_t* n) override { return Word(3, count, n); }
    int GetEntryCode(std::uint32_t* c) override { return Word(4, code, c); }
    int GetEntryHashGOST34311(std::uint8_t* h) override { return Copy(5, stored, h); }
    int GetEntryHashSHA(std::uint8_t* h) override { return Copy(6, stored, h); }
    int SetIdentity(std::uint32_t index, const wchar_t* issuer, IPKIObject*) override
    {
        int c = Enter(11, std::to_string(index));
        if (c) return c;
        identity = std::to_string(index) + ":" + CmsSigner::Narrow(issuer);
        return 0;
    }
    int GetCode(std::uint32_t, std::uint32_t* c) override { return Word(18, code, c); }
    int GetHashGOST34311(std::uint32_t, std::uint8_t* h) override { return Copy(19, stored, h); }
    int GetHashSHA(std::uint32_t, std::uint8_t* h) override { return Copy(20, stored, h); }
    int HashEntryGOST34311(IPKIObject*, const std::uint8_t*, std::uint8_t* h) override { return Copy(29, computed, h); }
    int HashEntrySHA(IPKIObject*, std::uint32_t, std::uint8_t* h) override { return Copy(30, computed, h); }
    int HashGOST34311(IPKIObject*, const std::uint8_t*, std::uint8_t* h) override { return Copy(31, computed, h); }
    int HashSHA(IPKIObject*, std::uint32_t, std::uint8_t* h) override { return Copy(32, computed, h); }
    int HashGOST34311Ex(IPKIObject*, const std::uint8_t*, std::uint8_t* h) override { return Copy(33, computedEx, h); }
    int HashSHAEx(IPKIObject*, std::uint32_t, std::uint8_t* h) override { return Copy(34, computedEx, h); }

private:
    int Enter(std::uint32_t op, const std::string& args, std::uint32_t iid = 0)
    {
        int c = lib_.Enter(4921, op, args, iid, this);
        return c >= 0 ? c : 0;
    }
    int Word(std::uint32_t op, std::uint32_t v, std::uint32_t* out, std::uint32_t iid = 0)
    {
        int c = Enter(op, "", iid);
        if (!c) *out = v;
        return c;
    }
    int Copy(std::uint32_t op, const std::vector<std::uint8_t>& v, std::uint8_t* out, std::uint32_t iid = 0)
    {
        int c = Enter(op, "", iid);
        if (!c) std::memcpy(out, v.data(), v.size());
        return c;
    }
    class View final : public ViewOf<IPKICertificateIdentifiersDSTU7564> {
    public:
        explicit View(Identifiers* o) : ViewOf(o), o_(o) {}
        int GetEntryHash(std::uint8_t* h) override { return o_->Copy(35, o_->stored, h, 4256); }
        int GetHash(std::uint32_t, std::uint8_t* h) override { return o_->Copy(37, o_->stored, h, 4256); }
        int HashEntry(IPKIObject*, std::uint32_t, std::uint8_t* h) override
        {
            return o_->Copy(39, o_->computed, h, 4256);
        }
        int Hash(IPKIObject*, std::uint32_t, std::uint8_t* h) override { return o_->Copy(41, o_->computed, h, 4256); }

    private:
        Identifiers* o_;
    };
};

// A signed object's signing-certificate list (its interface 4255): the
// certificate hash of code c is 64 bytes of c; entries are kept as
// "code:first hash byte".
class SigningCertificateList final : public Object<IPKISigningCertificateList> {
public:
    explicit SigningCertificateList(Library& lib) : Object(lib, 4900)
    {
        offers.insert(PKI_IID_SIGNING_CERTIFICATE_LIST);
    }
    std::vector<std::string> entries;
    std::string identity;
    int GetCount(std::uint32_t* n) override
    {
        int c = Enter(3, "");
        if (!c) *n = static_cast<std::uint32_t>(entries.size());
        return c;
    }
    int SetIdentity(std::uint32_t index, const wchar_t* issuer, IPKIObject*) override
    {
        int c = Enter(11, std::to_string(index));
        if (!c) identity = std::to_string(index) + ":" + CmsSigner::Narrow(issuer);
        return c;
    }
    int AddEntry(std::uint32_t code, const std::uint8_t* hash) override
    {
        int c = Enter(18, std::to_string(code));
        if (!c) entries.push_back(std::to_string(code) + ":" + std::to_string(hash[0]));
        return c;
    }
    int HashCertificate(IPKIObject*, std::uint32_t code, std::uint8_t* hash) override
    {
        int c = Enter(19, std::to_string(code));
        if (!c) std::memset(hash, static_cast<int>(code), 64);
        return c;
    }

private:
    int Enter(std::uint32_t op, const std::string& args)
    {
        int c = lib_.Enter(4900, op, args, PKI_IID_SIGNING_CERTIFICATE_LIST, this);
        return c >= 0 ? c : 0;
    }
};

// A certificate as the signer operations read it: decoded from any bytes,
// with its key kind, issuer text and serial.
class CmsCertificate final : public Object<IPKICertificate> {
public:
    CmsCertificate(Library& lib, std::uint32_t kind, bool ecView = false)
        : Object(lib, PKI_CLASS_CERTIFICATE), kind_(kind)
    {
        offers.insert(PKI_IID_CERTIFICATE);
        // A certificate of kind 4, or one given an EC view, answers the EC
        // reads itself and is its own EC certificate.
        if (kind == 4 || ecView) AddView(this, PKI_IID_CERTIFICATE_EX, new EC(this));
    }
    ECValues ec;
    std::wstring issuer = L"CN=Issuer";
    int Decode(const PKIBlob* in) override { return Enter(4, std::to_string(in->length)); }
    int GetSerial(PKIBlob* out) override
    {
        int c = Enter(7, "");
        return c ? c : CopyToBlob(lib_, std::string("\x02\x01\x05", 3), out);
    }
    int GetIssuerText(wchar_t* text, std::uint32_t* length) override
    {
        int c = Enter(9, std::to_string(*length));
        if (c) return c;
        if (issuer.size() + 1 > *length) return PKI_E_INVALID_ARGUMENT;
        wcscpy(text, issuer.c_str());
        *length = static_cast<std::uint32_t>(issuer.size());
        return 0;
    }
    int GetKeyKind(std::uint32_t* kind) override
    {
        int c = Enter(23, "");
        if (!c) *kind = kind_;
        return c;
    }
    int GetPolicies(void**) override { return PKI_E_ABSENT; }
    std::uint32_t usage = 0x03;  // digital signature and non-repudiation
    int GetKeyUsage(void** out) override
    {
        int c = Enter(83, "");
        if (!c) *out = static_cast<IPKIKeyUsage*>(new KeyUsage(lib_, usage));
        return c;
    }
    // A DSTU 4145 public key of 0x31 bytes, without a parameters object.
    int GetDSTU4145PublicKey(std::uint8_t* key, std::uint32_t* length, void** parameters) override
    {
        int c = Enter(25, "");
        if (c) return c;
        std::memset(key, 0x31, 76);
        *length = 33;
        *parameters = nullptr;
        return 0;
    }

private:
    int Enter(std::uint32_t op, const std::string& args)
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, op, args);
        return c >= 0 ? c : 0;
    }
    std::uint32_t kind_;
    class EC final : public ViewOf<IPKICertificateECKeys> {
    public:
        explicit EC(CmsCertificate* c) : ViewOf(c), c_(c) {}
        int GetECPublicKey(PKIBlob*, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
        int GetECValue(std::uint32_t index, std::uint8_t* value) override
        {
            int c = c_->lib_.Enter(PKI_CLASS_CERTIFICATE, 106, std::to_string(index), PKI_IID_CERTIFICATE_EX);
            return c >= 0 ? c : c_->ec.Read(index, value);
        }
        int GetInnerECCertificate(void** certificate) override
        {
            int c = c_->lib_.Enter(PKI_CLASS_CERTIFICATE, 112, "", PKI_IID_CERTIFICATE_EX);
            return c >= 0 ? c : c_->QueryInterface(PKI_IID_CERTIFICATE, certificate);
        }

    private:
        CmsCertificate* c_;
    };
};

// A content info (4879 / 4113) as the CMS operations fill it.
class CmsContentInfo final : public Object<IPKICMSContentInfo> {
public:
    explicit CmsContentInfo(Library& lib) : Object(lib, PKI_CLASS_CONTENT_INFO) {}
    std::string type;
    IPKIObject* inner = nullptr;  // as given (not held)
    int Encode(PKIBlob* out) override
    {
        int c = Enter(3, "");
        return c ? c : CopyToBlob(lib_, "content info of " + type, out);
    }
    int SetContentType(const char* oid) override
    {
        int c = Enter(6, oid);
        if (!c) type = oid;
        return c;
    }
    int SetContentObject(IPKIObject* object) override
    {
        int c = Enter(8, "");
        if (!c) inner = object;
        return c;
    }

private:
    int Enter(std::uint32_t op, const std::string& args)
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, op, args);
        return c >= 0 ? c : 0;
    }
};

// An integer (4877 / 4111) that loads any encoding; CreateObject makes it
// once UseCmsInteger is called.
class CmsInteger final : public Object<IPKIInteger> {
public:
    explicit CmsInteger(Library& lib) : Object(lib, PKI_CLASS_INTEGER) {}
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob*) override
    {
        int c = lib_.Enter(PKI_CLASS_INTEGER, 4, "");
        return c >= 0 ? c : 0;
    }
};

inline void UseCmsInteger(Library& lib)
{
    lib.makers[{PKI_CLASS_INTEGER, PKI_IID_INTEGER}] = [&lib]() -> void* {
        return static_cast<IPKIInteger*>(new CmsInteger(lib));
    };
}

// The DSTU 7564 signing-certificate attribute (4919 / 4253): it hashes and
// keeps its entry by rule only.
class SigningCertificateDSTU7564 final : public Object<IPKISigningCertificateDSTU7564> {
public:
    explicit SigningCertificateDSTU7564(Library& lib) : Object(lib, PKI_CLASS_SIGNING_CERTIFICATE) {}
    int SetEntryDSTU7564(std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint32_t, IPKIObject*,
                         const wchar_t*) override
    {
        return Enter(16);
    }
    int HashCertificateDSTU7564(IPKIObject*, std::uint32_t, std::uint32_t, std::uint8_t*) override { return Enter(17); }

private:
    int Enter(std::uint32_t op)
    {
        int c = lib_.Enter(PKI_CLASS_SIGNING_CERTIFICATE, op, "", PKI_IID_SIGNING_CERTIFICATE_DSTU7564);
        return c >= 0 ? c : 0;
    }
};

}  // namespace fake

// ---- CMS enveloped data, key transport and streamed encodings ----
namespace fake {

inline std::string Narrowed(const wchar_t* wide)
{
    std::string s;
    for (; wide && *wide; ++wide) s += static_cast<char>(*wide);
    return s;
}

// The double's streamed header: "SH", the header offset and the end offset
// (8 bytes each, little-endian), the inner value (4 bytes). A shorter input
// is incomplete: the end seen is its length and the rest is needed.
inline int ParseStreamHeader(const PKIBlob* data, PKIStreamParse* parse)
{
    constexpr std::uint32_t kWhole = 22;
    *parse = PKIStreamParse{};
    if (!data || data->length < kWhole) {
        std::uint32_t have = data ? data->length : 0;
        parse->end[0] = have;
        parse->needed[0] = kWhole - have;
        return PKI_E_INCOMPLETE;
    }
    if (data->data[0] != 'S' || data->data[1] != 'H') return PKI_E_BAD_ENCODING;
    auto word = [&](std::uint32_t at) {
        return std::uint32_t{data->data[at]} | std::uint32_t{data->data[at + 1]} << 8 |
               std::uint32_t{data->data[at + 2]} << 16 | std::uint32_t{data->data[at + 3]} << 24;
    };
    parse->headerOffset[0] = word(2);
    parse->headerOffset[1] = word(6);
    parse->end[0] = word(10);
    parse->end[1] = word(14);
    parse->value = word(18);
    return 0;
}

inline std::vector<std::uint8_t> StreamHeader(std::uint64_t offset, std::uint64_t end, std::uint32_t value)
{
    std::vector<std::uint8_t> h = {'S', 'H'};
    for (std::uint64_t v : {offset, end})
        for (int i = 0; i < 8; ++i) h.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    for (int i = 0; i < 4; ++i) h.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return h;
}

// A content info as the enveloped-data and streamed operations drive it.
class CMSContentInfo final : public Object<IPKICMSContentInfo> {
public:
    explicit CMSContentInfo(Library& lib) : Object(lib, PKI_CLASS_CONTENT_INFO) {}
    std::string type = "1.2.840.113549.1.7.3";
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 3, "");
        return c >= 0 ? c : CopyToBlob(lib_, "content info:" + type, out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 4, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
    int GetContentType(PKIBlob* oid) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 5, "");
        if (c >= 0) return c;
        int rc = CopyToBlob(lib_, type + std::string(1, '\0'), oid);
        if (rc == 0) oid->length = static_cast<std::uint32_t>(type.size());
        return rc;
    }
    int SetContentType(const char* oid) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 6, oid);
        if (c >= 0) return c;
        type = oid;
        return 0;
    }
    int GetContentObject(std::uint32_t classId, std::uint32_t interfaceId, void** object) override;
    int SetContentObject(IPKIObject*) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 8, "");
        return c >= 0 ? c : 0;
    }
    // Its own header record, then the inner object's (each 22 bytes).
    int EncodeHeader(PKIBlob* header) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 9, "");
        if (c >= 0) return c;
        std::vector<std::uint8_t> h = StreamHeader(22, 22, 0), inner = StreamHeader(22, 22, 0);
        h.insert(h.end(), inner.begin(), inner.end());
        return CopyToLibraryBlob(lib_, h, header);
    }
    int CompleteParse() override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 10, "");
        return c >= 0 ? c : 0;
    }
    int SetStreamedContent(IPKIObject*) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 11, "");
        return c >= 0 ? c : 0;
    }
    int SetHeaderOffset(std::uint32_t low, std::uint32_t high) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 12, std::to_string(low) + "," + std::to_string(high));
        return c >= 0 ? c : 0;
    }
    int ParseHeader(const PKIBlob* data, PKIStreamParse* parse) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 13, std::to_string(data->length));
        return c >= 0 ? c : ParseStreamHeader(data, parse);
    }
};

// Signed data as the streamed encodings drive it.
class SignedDataStream final : public Object<IPKISignedDataStream> {
public:
    explicit SignedDataStream(Library& lib) : Object(lib, PKI_CLASS_SIGNED_DATA) {}
    // Only the streamed slots are scripted.
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetCertificate(std::uint32_t, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int AddCertificate(IPKIObject*) override { return PKI_E_NOT_IMPLEMENTED; }
    int EncodeHeader(PKIBlob* header) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 26, "");
        return c >= 0 ? c : CopyToLibraryBlob(lib_, StreamHeader(22, 22, 0), header);
    }
    int ParseStreamed(const PKIBlob* data, PKIStreamParse* parse) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 27, std::to_string(data->length));
        return c >= 0 ? c : ParseStreamHeader(data, parse);
    }
    int SetStreamedContentLength(std::uint32_t low, std::uint32_t high) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 28, std::to_string(low) + "," + std::to_string(high));
        return c >= 0 ? c : 0;
    }
    int ParseHeader(const PKIBlob* data, PKIStreamParse* parse) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 29, std::to_string(data->length));
        return c >= 0 ? c : ParseStreamHeader(data, parse);
    }
};

// Identifiers of a recipient or an originator.
struct RecipientId {
    std::uint32_t kind = 1;  // 1 issuer and serial, 2 key identifier, 3 key
    std::wstring issuer = L"CN=Issuer";
    std::string serial = std::string(20, '\x05');
    std::string keyId = std::string(32, '\x22');
    std::uint32_t entryKind = 1;  // key-transport entries: 1 key transport
};

inline int FillIssuer(const std::wstring& issuer, wchar_t* text, std::uint32_t* length)
{
    if (issuer.size() + 1 > *length) return PKI_E_INVALID_ARGUMENT;
    wcscpy(text, issuer.c_str());
    *length = static_cast<std::uint32_t>(issuer.size());
    return 0;
}

class AgreementGroup final : public Object<IPKIAgreementGroup> {
public:
    AgreementGroup(Library& lib, RecipientId originator, std::vector<RecipientId> entries)
        : Object(lib, 4884), originator_(std::move(originator)), entries_(std::move(entries))
    {
    }
    void Retain() { ++refs_; }
    std::uint32_t originatorKeyLength = 33;
    int GetOriginator(std::uint32_t* kind, wchar_t* issuer, std::uint32_t* issuerLength, std::uint8_t* serial,
                      std::uint8_t* keyIdentifier, std::uint8_t* key, std::uint32_t* keyLength) override
    {
        int c = lib_.Enter(4884, 3, "");
        if (c >= 0) return c;
        *kind = originator_.kind;
        std::memcpy(serial, originator_.serial.data(), 20);
        std::memcpy(keyIdentifier, originator_.keyId.data(), 32);
        std::memset(key, 0x3C, 76);
        *keyLength = originatorKeyLength;
        return FillIssuer(originator_.issuer, issuer, issuerLength);
    }
    int GetEntryCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(4884, 7, "");
        if (c >= 0) return c;
        *count = static_cast<std::uint32_t>(entries_.size());
        return 0;
    }
    int GetEntry(std::uint32_t index, std::uint32_t* kind, wchar_t* issuer, std::uint32_t* issuerLength,
                 std::uint8_t* serial, std::uint8_t* keyIdentifier) override
    {
        int c = lib_.Enter(4884, 8, std::to_string(index));
        if (c >= 0) return c;
        if (index >= entries_.size()) return PKI_E_INDEX;
        const RecipientId& e = entries_[index];
        *kind = e.kind;
        std::memcpy(serial, e.serial.data(), 20);
        std::memcpy(keyIdentifier, e.keyId.data(), 32);
        return FillIssuer(e.issuer, issuer, issuerLength);
    }

    std::uint32_t extra = 0x2A;
    int GetOriginatorExtra(std::uint32_t* out) override
    {
        int c = lib_.Enter(4884, 16, "");
        return c >= 0 ? c : (*out = extra, 0);
    }

private:
    RecipientId originator_;
    std::vector<RecipientId> entries_;
};

class TransportEntry final : public Object<IPKIKeyTransportEntry> {
public:
    TransportEntry(Library& lib, RecipientId id) : Object(lib, 4886), id_(std::move(id)) {}
    int GetIdentifier(std::uint32_t* kind, wchar_t* issuer, std::uint32_t* issuerLength, std::uint8_t* serial,
                      std::uint8_t* keyIdentifier) override
    {
        int c = lib_.Enter(4886, 3, "");
        if (c >= 0) return c;
        *kind = id_.kind;
        std::memcpy(serial, id_.serial.data(), 20);
        std::memcpy(keyIdentifier, id_.keyId.data(), 32);
        return FillIssuer(id_.issuer, issuer, issuerLength);
    }

private:
    RecipientId id_;
};

// Enveloped data: keeps what the facade sets, hands out its scripted
// recipients, and "decrypts" to `decrypted`. Its views: 4264 (the cipher
// of kinds 8 and 9) always, 4246 (key transport) when offered.
class EnvelopedData final : public Object<IPKIEnvelopedData> {
public:
    explicit EnvelopedData(Library& lib) : Object(lib, PKI_CLASS_ENVELOPED_DATA)
    {
        class Cipher final : public ViewOf<IPKIEnvelopedCipher> {
        public:
            Cipher(EnvelopedData* owner) : ViewOf(owner), e_(owner) {}
            int SetCipher(std::uint32_t kind, std::uint32_t a, std::uint32_t b) override
            {
                int c = e_->lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 67,
                                       std::to_string(kind) + "," + std::to_string(a) + "," + std::to_string(b),
                                       PKI_IID_ENVELOPED_CIPHER);
                return c >= 0 ? c : 0;
            }

        private:
            EnvelopedData* e_;
        };
        AddView(this, PKI_IID_ENVELOPED_CIPHER, new Cipher(this));
    }
    void OfferKeyTransportView()
    {
        class Transport final : public ViewOf<IPKIEnvelopedKeyTransport> {
        public:
            Transport(EnvelopedData* owner) : ViewOf(owner), e_(owner) {}
            int DecryptKeyTransport(const PKIBlob* key, const wchar_t* issuer, const std::uint8_t* id,
                                    std::uint8_t* work) override
            {
                int c = e_->lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 66, std::to_string(key->length),
                                       PKI_IID_ENVELOPED_KEY_TRANSPORT);
                return c >= 0 ? c : e_->Decrypting(key, issuer, id, work);
            }

        private:
            EnvelopedData* e_;
        };
        AddView(this, PKI_IID_ENVELOPED_KEY_TRANSPORT, new Transport(this));
    }
    // What the facade set.
    std::string innerType = "1.2.840.113549.1.7.1";
    std::vector<std::uint8_t> content;
    std::vector<std::uint32_t> parameters;  // the block given to slot 7
    std::uint32_t flag = 0xFFFFFFFF;
    std::vector<std::string> added;  // "<slot>:<kind>:<issuer>:<key length>"
    std::vector<std::uint8_t> addedKey;
    std::string decryptedWith;  // "<issuer>:<key length>"
    // What it hands out.
    std::vector<std::uint8_t> decrypted = {'d', 'a', 't', 'a', 2, 2};
    std::vector<AgreementGroup*> groups;  // owned
    std::vector<RecipientId> transport;
    ~EnvelopedData() override
    {
        for (auto* g : groups) g->Release();
    }
    int Decrypting(const PKIBlob* key, const wchar_t* issuer, const std::uint8_t*, std::uint8_t* work)
    {
        std::memset(work, 0x77, 4796);  // the facade wipes its work area
        decryptedWith = Narrowed(issuer) + ":" + std::to_string(key->length);
        return 0;
    }

    int SetOriginatorMaterial(const wchar_t* issuer, const PKIBlob*, const std::uint8_t* key, std::uint32_t length,
                              IPKIObject*, const std::uint32_t*) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 5, std::to_string(length));
        if (c >= 0) return c;
        added.push_back("5:" + Narrowed(issuer) + ":" + std::to_string(length));
        addedKey.assign(key, key + 76);
        return 0;
    }
    int SetParameters(const std::uint32_t* block, std::uint32_t zero) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 6, std::to_string(zero));
        if (c >= 0) return c;
        parameters.assign(block, block + 16);
        return 0;
    }
    int SetContentCipher(std::uint32_t kind, const std::uint32_t* block, std::uint32_t zero) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 7, std::to_string(kind) + "," + std::to_string(zero));
        if (c >= 0) return c;
        parameters.assign(block, block + 16);
        return 0;
    }
    int SetContent(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 8, std::to_string(in->length));
        if (c >= 0) return c;
        content.assign(in->data, in->data + in->length);
        return 0;
    }
    int Encrypt() override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 9, "");
        return c >= 0 ? c : 0;
    }
    int SetUpStaticDecryption(const PKIBlob* encrypted, const std::uint8_t* key, std::uint32_t length, IPKIObject*,
                              const std::uint8_t* peer, std::uint32_t peerLength, const std::uint32_t*) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 10, std::to_string(length) + "," + std::to_string(peerLength));
        return c >= 0 ? c : SettingUp(encrypted, key, peer);
    }
    int SetUpDecryption(const PKIBlob* encrypted, const std::uint8_t* key, std::uint32_t length, IPKIObject*,
                        const std::uint8_t* peer, std::uint32_t peerLength, const std::uint32_t*) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 11, std::to_string(length) + "," + std::to_string(peerLength));
        return c >= 0 ? c : SettingUp(encrypted, key, peer);
    }
    // The keys it was set up with (76 bytes each).
    std::vector<std::uint8_t> setUpKey, setUpPeer;
    int SettingUp(const PKIBlob* encrypted, const std::uint8_t* key, const std::uint8_t* peer)
    {
        if (!encrypted || !encrypted->data) return PKI_E_INVALID_ARGUMENT;
        setUpKey.assign(key, key + 76);
        setUpPeer.assign(peer, peer + 76);
        return 0;
    }
    int DecryptContent(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 13, "");
        if (c >= 0) return c;
        // Replaces the encrypted content the facade read before (slot 37).
        if (out->data) {
            std::memset(out->data, 0, out->length);
            lib_.FreeBlob(out);
        }
        return CopyToLibraryBlob(lib_, decrypted, out);
    }
    int FinishDecryption() override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 14, "");
        return c >= 0 ? c : 0;
    }
    // The content-cipher kind it answers (slot 57).
    std::uint32_t cipherKind = 1;
    int GetCipherKind(std::uint32_t* kind) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 57, "");
        return c >= 0 ? c : (*kind = cipherKind, 0);
    }
    int GetAgreementGroupCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 27, "");
        if (c >= 0) return c;
        *count = static_cast<std::uint32_t>(groups.empty() ? transport.size() : groups.size());
        return 0;
    }
    int GetAgreementGroup(std::uint32_t index, void** group) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 28, std::to_string(index));
        if (c >= 0) return c;
        if (index >= groups.size()) return PKI_E_INDEX;
        groups[index]->Retain();  // a reference for the caller
        *group = static_cast<IPKIAgreementGroup*>(groups[index]);
        return 0;
    }
    int AddRecipientFromKey(const wchar_t* issuer, const PKIBlob*, const std::uint8_t* key, std::uint32_t length,
                            IPKIObject*, const std::uint32_t* block) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 31, std::to_string(length));
        if (c >= 0) return c;
        added.push_back("31:" + Narrowed(issuer) + ":" + std::to_string(length));
        addedKey.assign(key, key + 76);
        parameters.assign(block, block + 16);
        return 0;
    }
    // The type with its terminator, when it fits the caller's capacity.
    int GetInnerContentType(char* oid, std::uint32_t capacity) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 34, std::to_string(capacity));
        if (c >= 0) return c;
        if (innerType.size() + 1 > capacity) return PKI_E_INVALID_ARGUMENT;
        std::memcpy(oid, innerType.c_str(), innerType.size() + 1);
        return 0;
    }
    int SetInnerContentType(const char* oid) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 35, oid);
        if (c >= 0) return c;
        innerType = oid;
        return 0;
    }
    int GetEncryptedContent(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 37, "");
        return c >= 0 ? c : CopyToBlob(lib_, "encrypted", out);
    }
    int FinishContent() override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 39, "");
        return c >= 0 ? c : 0;
    }
    int SetPreparationFlag(std::uint32_t value) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 42, std::to_string(value));
        if (c >= 0) return c;
        flag = value;
        return 0;
    }
    int ParseStreamed(const PKIBlob* data, PKIStreamParse* parse) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 44, std::to_string(data->length));
        return c >= 0 ? c : ParseStreamHeader(data, parse);
    }
    int SetStreamedContentLength(std::uint32_t low, std::uint32_t high) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 45, std::to_string(low) + "," + std::to_string(high));
        return c >= 0 ? c : 0;
    }
    int ParseHeader(const PKIBlob* data, PKIStreamParse* parse) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 46, std::to_string(data->length));
        return c >= 0 ? c : ParseStreamHeader(data, parse);
    }
    int AddRecipientByIdentifier(std::uint32_t kind, const wchar_t* issuer, const PKIBlob*, const std::uint8_t*,
                                 const std::uint8_t* key, std::uint32_t length, IPKIObject*,
                                 std::uint32_t last) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 47, std::to_string(kind) + "," + std::to_string(last));
        if (c >= 0) return c;
        added.push_back("47:" + std::to_string(kind) + ":" + Narrowed(issuer) + ":" + std::to_string(length));
        addedKey.assign(key, key + 76);
        return 0;
    }
    int Operation48() override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 48, "");
        return c >= 0 ? c : 0;
    }
    int AddAgreementRecipient(const std::uint8_t* key, std::uint32_t length, std::uint32_t kind, const PKIBlob*,
                              const wchar_t* issuer, IPKIObject*) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 49, std::to_string(kind));
        if (c >= 0) return c;
        added.push_back("49:" + std::to_string(kind) + ":" + Narrowed(issuer) + ":" + std::to_string(length));
        addedKey.assign(key, key + 76);
        return 0;
    }
    int SetCipher(std::uint32_t kind, std::uint32_t zero) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 51, std::to_string(kind) + "," + std::to_string(zero));
        return c >= 0 ? c : 0;
    }
    int AddKeyTransportRecipient(std::uint32_t kind, const wchar_t* issuer, const PKIBlob*, const std::uint8_t*,
                                 const std::uint8_t*, std::uint32_t bits) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 52, std::to_string(kind));
        if (c >= 0) return c;
        added.push_back("52:" + std::to_string(kind) + ":" + Narrowed(issuer) + ":" + std::to_string(bits));
        return 0;
    }
    int GetRecipientEntryKind(std::uint32_t index, std::uint32_t* kind) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 53, std::to_string(index));
        if (c >= 0) return c;
        if (index >= transport.size()) return PKI_E_INDEX;
        *kind = transport[index].entryKind;
        return 0;
    }
    int GetRecipientEntry(std::uint32_t index, void** entry) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 54, std::to_string(index));
        if (c >= 0) return c;
        if (index >= transport.size()) return PKI_E_INDEX;
        *entry = static_cast<IPKIKeyTransportEntry*>(new TransportEntry(lib_, transport[index]));
        return 0;
    }
    int DecryptKeyTransport(const PKIBlob* key, const wchar_t* issuer, const std::uint8_t* id,
                            std::uint8_t* work) override
    {
        int c = lib_.Enter(PKI_CLASS_ENVELOPED_DATA, 55, std::to_string(key->length));
        return c >= 0 ? c : Decrypting(key, issuer, id, work);
    }
};

inline int CMSContentInfo::GetContentObject(std::uint32_t classId, std::uint32_t interfaceId, void** object)
{
    int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 7, std::to_string(classId) + "," + std::to_string(interfaceId));
    if (c >= 0) return c;
    if (classId != PKI_CLASS_ENVELOPED_DATA) return PKI_E_INVALID_ARGUMENT;
    *object = static_cast<IPKIEnvelopedData*>(new EnvelopedData(lib_));
    return 0;
}

// A DSTU 4145 certificate with usage bits, a public key on a curve, and an
// issuer, serial and key identifier (no parameters of its own).
class AgreementCertificate final : public Object<IPKICertificate> {
public:
    AgreementCertificate(Library& lib, std::uint32_t kind, std::uint32_t usage)
        : Object(lib, PKI_CLASS_CERTIFICATE), kind_(kind), usage_(usage)
    {
    }
    std::vector<std::uint8_t> publicKey = std::vector<std::uint8_t>(76);
    Curve curve;
    std::wstring issuer = L"CN=Agreement CA";
    std::string keyId = std::string(32, '\x66');
    int GetPolicies(void**) override { return PKI_E_ABSENT; }
    int GetSubjectKeyId(void** out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 95, "");
        if (c >= 0) return c;
        *out = static_cast<IPKIKeyIdentifier*>(new KeyIdentifier(lib_, keyId));
        return 0;
    }
    int GetKeyKind(std::uint32_t* kind) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 23, "");
        return c >= 0 ? c : (*kind = kind_, 0);
    }
    int GetKeyUsage(void** out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 83, "");
        if (c >= 0) return c;
        *out = static_cast<IPKIKeyUsage*>(new KeyUsage(lib_, usage_));
        return 0;
    }
    int GetAgreementParameters(void**) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 65, "");
        return c >= 0 ? c : PKI_E_ABSENT;
    }
    int GetDSTU4145PublicKey(std::uint8_t* key, std::uint32_t* length, void** parameters) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 25, "");
        if (c >= 0) return c;
        std::memcpy(key, publicKey.data(), 76);
        *length = (curve.field.words[DSTU4145_FIELD_M] + 7) / 8;
        *parameters = static_cast<IPKIParameters*>(new CurveParameters(lib_, curve));
        return 0;
    }
    int GetIssuerText(wchar_t* text, std::uint32_t* length) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 9, "");
        return c >= 0 ? c : FillIssuer(issuer, text, length);
    }
    int GetSerial(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 7, "");
        return c >= 0 ? c : CopyToBlob(lib_, std::string("\x02\x01\x07", 3), out);
    }

private:
    std::uint32_t kind_, usage_;
};

// A collection of certificates (slots 15 and 17), each handed out with a
// reference of its own.
class CertificateCollection final : public Object<IPKICertificateCollection> {
public:
    explicit CertificateCollection(Library& lib) : Object(lib, 4887) {}
    ~CertificateCollection() override
    {
        for (auto* c : certificates) c->Release();
    }
    std::vector<ScriptedCertificate*> certificates;  // owned
    int GetObjectCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(4887, 15, "");
        return c >= 0 ? c : (*count = static_cast<std::uint32_t>(certificates.size()), 0);
    }
    int GetObject(std::uint32_t index, void** object) override
    {
        int c = lib_.Enter(4887, 17, std::to_string(index));
        if (c >= 0) return c;
        if (index >= certificates.size()) return PKI_E_INDEX;
        certificates[index]->Retain();
        *object = static_cast<IPKICertificate*>(certificates[index]);
        return 0;
    }
};

// Data content: encodes its octets as "DATA:" and the octets; decodes only
// that form.
class DataContent final : public Object<IPKIDataContent> {
public:
    explicit DataContent(Library& lib) : Object(lib, PKI_CLASS_DATA_CONTENT) {}
    std::string octets;
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_DATA_CONTENT, 3, "");
        return c >= 0 ? c : CopyToBlob(lib_, "DATA:" + octets, out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_DATA_CONTENT, 4, std::to_string(in->length));
        if (c >= 0) return c;
        std::string bytes(reinterpret_cast<const char*>(in->data), in->length);
        if (bytes.rfind("DATA:", 0) != 0) return PKI_E_BAD_ENCODING;
        octets = bytes.substr(5);
        return 0;
    }
    int GetOctets(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_DATA_CONTENT, 5, "");
        return c >= 0 ? c : CopyToBlob(lib_, octets, out);
    }
    int SetOctets(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_DATA_CONTENT, 6, std::to_string(in->length));
        if (c >= 0) return c;
        octets.assign(reinterpret_cast<const char*>(in->data), in->length);
        return 0;
    }
};

// Makes CreateObject hand out the enveloped-data, content-info, data and
// streamed signed-data objects above.
inline void UseEnvelopedObjects(Library& lib)
{
    lib.makers[{PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO}] = [&lib]() -> void* {
        return static_cast<IPKICMSContentInfo*>(new CMSContentInfo(lib));
    };
    lib.makers[{PKI_CLASS_ENVELOPED_DATA, PKI_IID_ENVELOPED_DATA}] = [&lib]() -> void* {
        return static_cast<IPKIEnvelopedData*>(new EnvelopedData(lib));
    };
    lib.makers[{PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA}] = [&lib]() -> void* {
        return static_cast<IPKISignedDataStream*>(new SignedDataStream(lib));
    };
    lib.makers[{PKI_CLASS_DATA_CONTENT, PKI_IID_DATA_CONTENT}] = [&lib]() -> void* {
        return static_cast<IPKIDataContent*>(new DataContent(lib));
    };
}

}  // namespace fake

// ---- OCSP requests and responses, DVCS requests and responses ----
// The OCSP objects keep what the facade sets and encode it in a small format
// of their own; a response is signed and checked for real: with the CSP
// (DSTU 4145 over GOST 34.311 or DSTU 7564) and the CSPI (RSA, ECDSA over
// SHA-256) that the test hands to OCSPLibrary. A response changed after
// signing, or checked with another certificate's key, fails.
#include "csp/CSP.h"
#include "csp/CSPI.h"

namespace fake {

using OCSPBytes = std::vector<std::uint8_t>;

inline OCSPBytes BytesOf(const PKIBlob* b)
{
    return b && b->data ? OCSPBytes(b->data, b->data + b->length) : OCSPBytes{};
}

// The small encoding: u32 words and length-prefixed byte strings.
struct OCSPWriter {
    OCSPBytes out;
    void Word(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void Bytes(const OCSPBytes& b)
    {
        Word(static_cast<std::uint32_t>(b.size()));
        out.insert(out.end(), b.begin(), b.end());
    }
    void Time(const SYSTEMTIME& t)
    {
        Bytes(
            OCSPBytes(reinterpret_cast<const std::uint8_t*>(&t), reinterpret_cast<const std::uint8_t*>(&t) + sizeof t));
    }
    void Text(const std::wstring& w)
    {
        Word(static_cast<std::uint32_t>(w.size()));
        for (wchar_t c : w) Word(static_cast<std::uint32_t>(c));
    }
};

struct OCSPReader {
    const OCSPBytes& in;
    std::size_t at = 0;
    bool ok = true;
    std::uint32_t Word()
    {
        if (in.size() - at < 4 || at > in.size()) return ok = false, 0;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(in[at + i]) << (8 * i);
        at += 4;
        return v;
    }
    OCSPBytes Bytes()
    {
        std::uint32_t n = Word();
        if (!ok || in.size() - at < n) return ok = false, OCSPBytes{};
        OCSPBytes b(in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(at + n));
        at += n;
        return b;
    }
    SYSTEMTIME Time()
    {
        SYSTEMTIME t{};
        OCSPBytes b = Bytes();
        if (b.size() == sizeof t)
            std::memcpy(&t, b.data(), sizeof t);
        else
            ok = false;
        return t;
    }
    std::wstring Text()
    {
        std::uint32_t n = Word();
        std::wstring w;
        for (std::uint32_t i = 0; ok && i < n && i < 4096; ++i) w.push_back(static_cast<wchar_t>(Word()));
        return w;
    }
};

// A name object: its text, encoded as the text's UTF-32 words.
class OCSPName final : public Object<IPKIName> {
public:
    OCSPName(Library& lib, std::wstring text) : Object(lib, 4869), text(std::move(text)) {}
    std::wstring text;
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(4869, 3, "");
        if (c >= 0) return c;
        OCSPWriter w;
        w.Text(text);
        return CopyToLibraryBlob(lib_, w.out, out);
    }
};

struct CertIDData {
    std::uint32_t kind = 0;
    OCSPBytes name, key, serial;
    void Write(OCSPWriter& w) const
    {
        w.Word(kind);
        w.Bytes(name);
        w.Bytes(key);
        w.Bytes(serial);
    }
    void Read(OCSPReader& r)
    {
        kind = r.Word();
        name = r.Bytes();
        key = r.Bytes();
        serial = r.Bytes();
    }
};

inline std::uint32_t OCSPHashBytes(std::uint32_t kind)
{
    static const std::uint32_t lengths[10] = {0, 32, 20, 28, 32, 48, 64, 32, 48, 64};
    return kind < 10 ? lengths[kind] : 0;
}

class CertID final : public Object<IPKICertID> {
public:
    explicit CertID(Library& lib, CertIDData d = {}) : Object(lib, PKI_CLASS_CERT_ID), data(std::move(d))
    {
        class DSTU final : public ViewOf<IPKICertIDDSTU7564> {
        public:
            DSTU(CertID* owner) : ViewOf(owner), o_(owner) {}
            int SetHashesDSTU7564(std::uint32_t kind, const std::uint8_t* n, const std::uint8_t* k) override
            {
                int c = o_->lib_.Enter(PKI_CLASS_CERT_ID, 3, std::to_string(kind), PKI_IID_CERT_ID_DSTU7564);
                if (c >= 0) return c;
                if (kind < 7 || kind > 9) return PKI_E_INVALID_ARGUMENT;
                return o_->Set(kind, n, k, OCSPHashBytes(kind));
            }
            int GetHashesDSTU7564(PKIBlob* n, PKIBlob* k) override
            {
                int c = o_->lib_.Enter(PKI_CLASS_CERT_ID, 4, "", PKI_IID_CERT_ID_DSTU7564);
                return c >= 0 ? c : o_->Get(n, k);
            }

        private:
            CertID* o_;
        };
        AddView(this, PKI_IID_CERT_ID_DSTU7564, new DSTU(this));
        offers.insert(PKI_IID_CERT_ID);
    }
    CertIDData data;
    int GetHashKind(std::uint32_t* kind) override
    {
        int c = lib_.Enter(PKI_CLASS_CERT_ID, 5, "");
        if (c >= 0) return c;
        *kind = data.kind;
        return 0;
    }
    int SetHashesGOST34311(const std::uint8_t* n, const std::uint8_t* k) override
    {
        int c = lib_.Enter(PKI_CLASS_CERT_ID, 6, "");
        return c >= 0 ? c : Set(1, n, k, 32);
    }
    int GetHashesGOST34311(PKIBlob* n, PKIBlob* k) override
    {
        int c = lib_.Enter(PKI_CLASS_CERT_ID, 7, "");
        return c >= 0 ? c : Get(n, k);
    }
    int SetHashesSHA1(const std::uint8_t* n, const std::uint8_t* k) override
    {
        int c = lib_.Enter(PKI_CLASS_CERT_ID, 8, "");
        return c >= 0 ? c : Set(2, n, k, 20);
    }
    int SetHashesSHA(std::uint32_t kind, const std::uint8_t* n, const std::uint8_t* k) override
    {
        int c = lib_.Enter(PKI_CLASS_CERT_ID, 9, std::to_string(kind));
        if (c >= 0) return c;
        if (kind < 2 || kind > 6) return PKI_E_INVALID_ARGUMENT;
        return Set(kind, n, k, OCSPHashBytes(kind));
    }
    int GetHashesSHA(PKIBlob* n, PKIBlob* k) override
    {
        int c = lib_.Enter(PKI_CLASS_CERT_ID, 10, "");
        return c >= 0 ? c : Get(n, k);
    }
    int SetSerial(const std::uint8_t* serial) override
    {
        int c = lib_.Enter(PKI_CLASS_CERT_ID, 11, "");
        if (c >= 0) return c;
        data.serial.assign(serial, serial + 20);
        return 0;
    }
    int GetSerial(PKIBlob* serial) override
    {
        int c = lib_.Enter(PKI_CLASS_CERT_ID, 12, "");
        return c >= 0 ? c : CopyToLibraryBlob(lib_, data.serial, serial);
    }

private:
    int Set(std::uint32_t kind, const std::uint8_t* n, const std::uint8_t* k, std::uint32_t length)
    {
        data.kind = kind;
        data.name.assign(n, n + length);
        data.key.assign(k, k + length);
        return 0;
    }
    int Get(PKIBlob* n, PKIBlob* k)
    {
        if (CopyToLibraryBlob(lib_, data.name, n) != 0) return PKI_E_OUT_OF_MEMORY;
        if (CopyToLibraryBlob(lib_, data.key, k) != 0) {
            std::memset(n->data, 0, n->length);
            lib_.FreeBlob(n);
            return PKI_E_OUT_OF_MEMORY;
        }
        return 0;
    }
};

class OCSPNonce final : public Object<IPKIOCSPNonce> {
public:
    explicit OCSPNonce(Library& lib) : Object(lib, PKI_CLASS_OCSP_NONCE) {}
    OCSPBytes value;
    int SetValue(const PKIBlob* v) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_NONCE, 5, std::to_string(v ? v->length : 0));
        if (c >= 0) return c;
        value = BytesOf(v);
        return 0;
    }
};

inline int NonceOf(IPKIObject* object, OCSPBytes* out)
{
    auto* nonce = dynamic_cast<OCSPNonce*>(object);
    if (!nonce) return PKI_E_INVALID_ARGUMENT;
    *out = nonce->value;
    return 0;
}

class OCSPRequest final : public Object<IPKIOCSPRequest> {
public:
    explicit OCSPRequest(Library& lib) : Object(lib, PKI_CLASS_OCSP_REQUEST) {}
    std::vector<CertIDData> entries;
    bool hasNonce = false;
    OCSPBytes nonce;
    std::string requestor;
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_REQUEST, 3, "");
        if (c >= 0) return c;
        OCSPWriter w;
        w.Word(0x5251434F);  // "OCQR"
        w.Word(static_cast<std::uint32_t>(entries.size()));
        for (const auto& e : entries) e.Write(w);
        w.Word(hasNonce);
        w.Bytes(nonce);
        w.Bytes(OCSPBytes(requestor.begin(), requestor.end()));
        return CopyToLibraryBlob(lib_, w.out, out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_REQUEST, 4, std::to_string(in->length));
        if (c >= 0) return c;
        OCSPBytes bytes = BytesOf(in);
        OCSPReader r{bytes};
        if (r.Word() != 0x5251434F) return PKI_E_BAD_ENCODING;
        std::uint32_t n = r.Word();
        std::vector<CertIDData> read;
        for (std::uint32_t i = 0; r.ok && i < n && i < 1024; ++i) read.emplace_back().Read(r);
        bool present = r.Word() != 0;
        OCSPBytes value = r.Bytes();
        OCSPBytes name = r.Bytes();
        if (!r.ok || r.at != bytes.size()) return PKI_E_BAD_ENCODING;
        entries = read;
        hasNonce = present;
        nonce = value;
        requestor.assign(name.begin(), name.end());
        return 0;
    }
    int AddEntry(IPKIObject* id) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_REQUEST, 5, "");
        if (c >= 0) return c;
        auto* certId = dynamic_cast<CertID*>(id);
        if (!certId) return PKI_E_INVALID_ARGUMENT;
        entries.push_back(certId->data);
        return 0;
    }
    int GetEntryCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_REQUEST, 6, "");
        if (c >= 0) return c;
        *count = static_cast<std::uint32_t>(entries.size());
        return 0;
    }
    int GetEntry(std::uint32_t index, void** id) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_REQUEST, 7, std::to_string(index));
        if (c >= 0) return c;
        if (index >= entries.size()) return PKI_E_INDEX;
        *id = static_cast<IPKICertID*>(new CertID(lib_, entries[index]));
        return 0;
    }
    int AddNonce(IPKIObject* object) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_REQUEST, 8, "");
        if (c >= 0) return c;
        if (int rc = NonceOf(object, &nonce)) return rc;
        hasNonce = true;
        return 0;
    }
    int GetNonce(PKIBlob* value) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_REQUEST, 9, "");
        if (c >= 0) return c;
        return hasNonce ? CopyToLibraryBlob(lib_, nonce, value) : PKI_E_ABSENT;
    }
    int SetRequestorName(const char* name) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_REQUEST, 10, name);
        if (c >= 0) return c;
        requestor = name;
        return 0;
    }
    // The request holds against a value equal to its nonce.
    int CheckValue(const PKIBlob* value) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_REQUEST, 11, "");
        if (c >= 0) return c;
        return hasNonce && BytesOf(value) == nonce ? 0 : PKI_E_FAILURE;
    }
};

struct SingleData {
    CertIDData id;
    SYSTEMTIME thisUpdate{}, nextUpdate{}, revocationTime{};
    std::uint32_t hasNext = 0, status = 0, hasRevocation = 0, reason = 0;
    OCSPBytes extension;
    std::wstring issuerName, nameItem;  // the matcher's items
    OCSPBytes hashItem;
    void Write(OCSPWriter& w) const
    {
        id.Write(w);
        w.Time(thisUpdate);
        w.Word(hasNext);
        w.Time(nextUpdate);
        w.Word(status);
        w.Word(hasRevocation);
        w.Time(revocationTime);
        w.Word(reason);
        w.Bytes(extension);
        w.Text(issuerName);
        w.Text(nameItem);
        w.Bytes(hashItem);
    }
    void Read(OCSPReader& r)
    {
        id.Read(r);
        thisUpdate = r.Time();
        hasNext = r.Word();
        nextUpdate = r.Time();
        status = r.Word();
        hasRevocation = r.Word();
        revocationTime = r.Time();
        reason = r.Word();
        extension = r.Bytes();
        issuerName = r.Text();
        nameItem = r.Text();
        hashItem = r.Bytes();
    }
};

class OCSPSingle final : public Object<IPKIOCSPSingleResponse> {
public:
    OCSPSingle(Library& lib, SingleData d) : Object(lib, 4892), data(std::move(d)) {}
    SingleData data;
    int GetCertID(void** id) override
    {
        int c = lib_.Enter(4892, 3, "");
        if (c >= 0) return c;
        *id = static_cast<IPKICertID*>(new CertID(lib_, data.id));
        return 0;
    }
    int GetStatus(std::uint32_t* status) override
    {
        int c = lib_.Enter(4892, 4, "");
        if (c >= 0) return c;
        *status = data.status;
        return 0;
    }
    int GetRevocation(SYSTEMTIME* time, std::uint32_t* reason) override
    {
        int c = lib_.Enter(4892, 5, "");
        if (c >= 0) return c;
        if (!data.hasRevocation) return PKI_E_ABSENT;
        *time = data.revocationTime;
        *reason = data.reason;
        return 0;
    }
    int GetIssuerNameEncoded(PKIBlob* name) override
    {
        int c = lib_.Enter(4892, 6, "");
        if (c >= 0) return c;
        OCSPWriter w;
        w.Text(data.issuerName);
        return CopyToLibraryBlob(lib_, w.out, name);
    }
    int GetIssuerName(void** name) override
    {
        int c = lib_.Enter(4892, 7, "");
        if (c >= 0) return c;
        *name = static_cast<IPKIName*>(new OCSPName(lib_, data.issuerName));
        return 0;
    }
    int GetNameItem(void** name) override
    {
        int c = lib_.Enter(4892, 8, "");
        if (c >= 0) return c;
        *name = static_cast<IPKIName*>(new OCSPName(lib_, data.nameItem));
        return 0;
    }
    int GetHashItem(PKIBlob* value) override
    {
        int c = lib_.Enter(4892, 9, "");
        return c >= 0 ? c : CopyToLibraryBlob(lib_, data.hashItem, value);
    }
};

// The library with the providers, the name hashes over them and the OCSP
// and DVCS classes.
class OCSPLibrary final : public Library {
public:
    CSP* csp = nullptr;
    CSPI* cspi = nullptr;
    std::uint8_t sBox[64] = {};  // the GOST 34.311 S-box of the name hashes

    // The bytes a name hash covers: a name's encoding, a certificate's
    // subject.
    static bool NameBytes(IPKIObject* object, const PKIBlob* encoded, OCSPBytes* out);
    int HashObjectGOST34311(IPKIObject* object, const PKIBlob* encoded, std::uint8_t* hash) override
    {
        int c = Enter(0, 21, object ? "object" : "encoded");
        if (c >= 0) return c;
        OCSPBytes data;
        if (!csp || !NameBytes(object, encoded, &data)) return PKI_E_INVALID_ARGUMENT;
        const std::uint8_t zero[32] = {};
        return csp->HashGOST34311(data.data(), static_cast<std::uint32_t>(data.size()),
                                  reinterpret_cast<const GOST28147PackedSBox*>(sBox), zero, hash) == CSP_OK
                   ? 0
                   : PKI_E_FAILURE;
    }
    int HashObjectSHA(IPKIObject* object, const PKIBlob* encoded, std::uint32_t bits, std::uint8_t* hash) override
    {
        int c = Enter(0, 22, std::string(object ? "object," : "encoded,") + std::to_string(bits));
        if (c >= 0) return c;
        OCSPBytes data;
        if (!cspi || !NameBytes(object, encoded, &data)) return PKI_E_INVALID_ARGUMENT;
        return cspi->HashSHA(data.data(), static_cast<std::uint32_t>(data.size()), bits, hash) == CSP_OK
                   ? 0
                   : PKI_E_FAILURE;
    }
    int HashObjectDSTU7564(IPKIObject* object, std::uint32_t mode, std::uint32_t bits, std::uint8_t* hash) override
    {
        int c = Enter(0, 23, std::to_string(mode) + "," + std::to_string(bits));
        if (c >= 0) return c;
        OCSPBytes data;
        if (!csp || !NameBytes(object, nullptr, &data)) return PKI_E_INVALID_ARGUMENT;
        return csp->HashDSTU7564(data.data(), static_cast<std::uint32_t>(data.size()), nullptr, bits / 8, hash) ==
                       CSP_OK
                   ? 0
                   : PKI_E_FAILURE;
    }
    // Mode m hashes the name's bytes preceded by the byte m.
    int HashNameGOST34311Mode(IPKIObject* name, std::uint32_t mode, std::uint8_t* hash) override
    {
        int c = Enter(0, 24, std::to_string(mode));
        if (c >= 0) return c;
        OCSPBytes data;
        if (!csp || !NameBytes(name, nullptr, &data)) return PKI_E_INVALID_ARGUMENT;
        data.insert(data.begin(), static_cast<std::uint8_t>(mode));
        const std::uint8_t zero[32] = {};
        return csp->HashGOST34311(data.data(), static_cast<std::uint32_t>(data.size()),
                                  reinterpret_cast<const GOST28147PackedSBox*>(sBox), zero, hash) == CSP_OK
                   ? 0
                   : PKI_E_FAILURE;
    }
    int NameToText(IPKIObject* name, wchar_t* text, std::uint32_t capacity) override
    {
        int c = Enter(0, 25, std::to_string(capacity));
        if (c >= 0) return c;
        auto* n = dynamic_cast<OCSPName*>(name);
        if (!n) return PKI_E_INVALID_ARGUMENT;
        if (n->text.size() + 1 > capacity) return PKI_E_FAILURE;
        wcscpy(text, n->text.c_str());
        return 0;
    }
};

// A certificate with a real key of its kind (1 DSTU 4145, 2 RSA, 4 ECDSA)
// that checks signatures with it: slot 6 a DSTU 4145 signature value (its
// first byte the hash kind: 1 GOST 34.311, 7 to 9 DSTU 7564), slot 42 an
// RSA signature over SHA of the profile's hash size; its EC view hands out
// the point and curve record.
class OCSPCertificate final : public Object<IPKICertificate> {
public:
    OCSPCertificate(OCSPLibrary& lib, std::uint32_t kind) : Object(lib, PKI_CLASS_CERTIFICATE), kind(kind), ocsp_(lib)
    {
        class EC final : public ViewOf<IPKICertificateECKeys> {
        public:
            EC(OCSPCertificate* owner) : ViewOf(owner), c_(owner) {}
            int GetECPublicKey(PKIBlob*, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
            int GetECValue(std::uint32_t index, std::uint8_t* value) override
            {
                int c = c_->lib_.Enter(PKI_CLASS_CERTIFICATE, 106, std::to_string(index), PKI_IID_CERTIFICATE_EX);
                if (c >= 0) return c;
                if (index == PKI_EC_VALUE_PUBLIC_KEY) {
                    std::memcpy(value, c_->ecPoint.data(), 152);
                } else if (index == PKI_EC_VALUE_RECORD) {
                    std::memcpy(value, c_->ecRecord.data(), 536);
                } else {
                    return PKI_E_INDEX;
                }
                return 0;
            }
            int GetInnerECCertificate(void**) override
            {
                int c = c_->lib_.Enter(PKI_CLASS_CERTIFICATE, 112, "", PKI_IID_CERTIFICATE_EX);
                return c >= 0 ? c : PKI_E_ABSENT;
            }

        private:
            OCSPCertificate* c_;
        };
        class Hash final : public ViewOf<IPKISignedHash> {
        public:
            Hash(OCSPCertificate* owner) : ViewOf(owner), c_(owner) {}
            int GetHashCode(std::uint32_t* code) override
            {
                int c = c_->lib_.Enter(PKI_CLASS_CERTIFICATE, 114, "", PKI_IID_SIGNED_HASH);
                if (c >= 0) return c;
                *code = c_->hashCode;
                return 0;
            }

        private:
            OCSPCertificate* c_;
        };
        AddView(this, PKI_IID_CERTIFICATE_EX, new EC(this));
        AddView(this, PKI_IID_SIGNED_HASH, new Hash(this));
        offers.insert(PKI_IID_CERTIFICATE);
    }
    std::uint32_t kind;
    std::uint32_t hashCode = 1;  // of its own signature
    OCSPBytes dstuPublic = OCSPBytes(76);
    Curve curve;
    OCSPBytes rsaPublic = OCSPBytes(600);
    std::uint8_t rsaProfile[8] = {};
    OCSPBytes ecPoint = OCSPBytes(152), ecRecord = OCSPBytes(536);
    bool hasKeyUsage = true;
    std::uint32_t keyUsage = 1;
    std::wstring subject = L"CN=Responder", issuer = L"CN=Issuing CA";
    OCSPBytes serial = {0x01, 0x02, 0x03};
    OCSPBytes authorityKeyId;  // empty: no extension
    bool keyIdView = false;    // the identifier answers through view 4261

    int Decode(const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int VerifySignatureValue(const PKIBlob* data, const PKIBlob* value) override;
    int GetSerialBytes(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 8, "");
        return c >= 0 ? c : CopyToLibraryBlob(lib_, serial, out);
    }
    int GetIssuer(void** name) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 13, "");
        if (c >= 0) return c;
        *name = static_cast<IPKIName*>(new OCSPName(lib_, issuer));
        return 0;
    }
    int GetSubjectRecord(PKINameRecord* record) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 17, "");
        if (c >= 0) return c;
        *record = PKINameRecord{};
        std::wcsncpy(record->commonName, subject.c_str(), PKI_NAME_COMMON_NAME_CHARS - 1);
        return 0;
    }
    int GetSubject(void** name) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 19, "");
        if (c >= 0) return c;
        *name = static_cast<IPKIName*>(new OCSPName(lib_, subject));
        return 0;
    }
    int GetKeyKind(std::uint32_t* k) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 23, "");
        if (c >= 0) return c;
        *k = kind;
        return 0;
    }
    int VerifySignedBytes(const PKIBlob* data, const PKIBlob* signature) override;
    int GetPolicies(void**) override { return PKI_E_ABSENT; }
    int GetKeyUsage(void** out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 83, "");
        if (c >= 0) return c;
        if (!hasKeyUsage) return PKI_E_ABSENT;
        *out = static_cast<IPKIKeyUsage*>(new KeyUsage(lib_, keyUsage));
        return 0;
    }
    int GetAuthorityKeyId(void** out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 96, "");
        if (c >= 0) return c;
        if (authorityKeyId.empty()) return PKI_E_ABSENT;
        auto* id = new KeyId(lib_, authorityKeyId);
        if (keyIdView) {
            // Its first table answers nothing useful: only the view does.
            id->own = false;
            AddView(id, PKI_IID_KEY_IDENTIFIER_EX, new KeyIdView(id));
        }
        *out = static_cast<IPKIKeyIdentifier*>(id);
        return 0;
    }
    int GetInnerCertificate(void**) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 100, "");
        return c >= 0 ? c : PKI_E_ABSENT;
    }
    int GetRSAView(void**) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 103, "");
        return c >= 0 ? c : PKI_E_ABSENT;
    }

private:
    class KeyId final : public Object<IPKIKeyIdentifier> {
    public:
        KeyId(Library& lib, OCSPBytes v) : Object(lib, 4867), value(std::move(v)) {}
        OCSPBytes value;
        bool own = true;
        int GetIdentifier(std::uint8_t* out, std::uint32_t* length) override
        {
            int c = lib_.Enter(4867, 5, "");
            if (c >= 0) return c;
            if (!own) return PKI_E_NOT_IMPLEMENTED;
            return Copy(out, length);
        }
        int Copy(std::uint8_t* out, std::uint32_t* length)
        {
            if (value.size() > *length) return PKI_E_FAILURE;
            std::memcpy(out, value.data(), value.size());
            *length = static_cast<std::uint32_t>(value.size());
            return 0;
        }
    };
    class KeyIdView final : public ViewOf<IPKIKeyIdentifier> {
    public:
        KeyIdView(KeyId* owner) : ViewOf(owner), o_(owner) {}
        int GetIdentifier(std::uint8_t* out, std::uint32_t* length) override { return o_->Copy(out, length); }

    private:
        KeyId* o_;
    };
    OCSPLibrary& ocsp_;
};

inline bool OCSPLibrary::NameBytes(IPKIObject* object, const PKIBlob* encoded, OCSPBytes* out)
{
    OCSPWriter w;
    if (auto* name = dynamic_cast<OCSPName*>(object)) {
        w.Text(name->text);
    } else if (auto* cert = dynamic_cast<OCSPCertificate*>(object)) {
        w.Text(cert->subject);
    } else if (!object && encoded && encoded->data) {
        *out = BytesOf(encoded);
        return true;
    } else {
        return false;
    }
    *out = w.out;
    return true;
}

// The signatures of the double: DSTU 4145 values carry their hash kind in a
// first byte; RSA and ECDSA values are the provider's.
inline int SignDSTU4145Value(OCSPLibrary& lib, const KeyObject& key, std::uint32_t hashKind, const OCSPBytes& data,
                             OCSPBytes* value)
{
    if (!lib.csp) return PKI_E_FAILURE;
    std::uint8_t hash[64] = {};
    DSTU4145FieldRecord field = key.curve.field;
    DSTU4145PointRecord point = key.curve.point;
    std::uint8_t privateKey[76] = {};
    std::memcpy(privateKey, key.dstuPrivate.data(), key.dstuPrivate.size());
    std::uint8_t signature[256] = {};
    int rc;
    if (hashKind == 1) {
        const std::uint8_t zero[32] = {};
        rc = lib.csp->HashGOST34311(data.data(), static_cast<std::uint32_t>(data.size()),
                                    reinterpret_cast<const GOST28147PackedSBox*>(key.curve.sBox), zero, hash);
        if (rc == CSP_OK) rc = lib.csp->SignHashDSTU4145(hash, &field, &point, privateKey, signature);
    } else {
        const std::uint32_t length = OCSPHashBytes(hashKind);
        rc = lib.csp->HashDSTU7564(data.data(), static_cast<std::uint32_t>(data.size()), nullptr, length, hash);
        if (rc == CSP_OK) rc = lib.csp->SignHashDSTU4145Ex(length, hash, &field, &point, privateKey, signature);
    }
    std::memset(privateKey, 0, sizeof privateKey);
    if (rc != CSP_OK) return PKI_E_FAILURE;
    const std::uint32_t half = (point.words[DSTU4145_POINT_BITS] + 7) / 8;
    value->assign(1, static_cast<std::uint8_t>(hashKind));
    value->insert(value->end(), signature, signature + 2 * half);
    return 0;
}

inline int OCSPCertificate::VerifySignatureValue(const PKIBlob* data, const PKIBlob* value)
{
    int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 6, "");
    if (c >= 0) return c;
    OCSPBytes bytes = BytesOf(data), v = BytesOf(value);
    if (kind != 1 || !ocsp_.csp || v.size() < 2 || v.size() > 1 + 152) return PKI_E_FAILURE;
    const std::uint32_t hashKind = v[0];
    std::uint8_t hash[64] = {}, signature[152] = {};
    std::memcpy(signature, v.data() + 1, v.size() - 1);
    DSTU4145FieldRecord field = curve.field;
    DSTU4145PointRecord point = curve.point;
    int rc;
    if (hashKind == 1) {
        const std::uint8_t zero[32] = {};
        rc = ocsp_.csp->HashGOST34311(bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                      reinterpret_cast<const GOST28147PackedSBox*>(curve.sBox), zero, hash);
        if (rc == CSP_OK)
            rc = ocsp_.csp->VerifyHashSignatureDSTU4145(hash, &field, &point, dstuPublic.data(), signature);
    } else if (hashKind >= 7 && hashKind <= 9) {
        const std::uint32_t length = OCSPHashBytes(hashKind);
        rc = ocsp_.csp->HashDSTU7564(bytes.data(), static_cast<std::uint32_t>(bytes.size()), nullptr, length, hash);
        if (rc == CSP_OK)
            rc = ocsp_.csp->VerifySignatureDSTU4145(length, hash, &field, &point, dstuPublic.data(), signature);
    } else {
        return PKI_E_FAILURE;
    }
    return rc == CSP_OK ? 0 : PKI_E_FAILURE;
}

inline int OCSPCertificate::VerifySignedBytes(const PKIBlob* data, const PKIBlob* signature)
{
    int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 42, "");
    if (c >= 0) return c;
    OCSPBytes bytes = BytesOf(data), s = BytesOf(signature);
    std::uint32_t bits = 0, hashBits = 0;
    std::memcpy(&bits, rsaProfile, 4);
    std::memcpy(&hashBits, rsaProfile + 4, 4);
    if (kind != 2 || !ocsp_.cspi || s.size() != bits / 8) return PKI_E_FAILURE;
    std::uint8_t hash[64] = {};
    if (ocsp_.cspi->HashSHA(bytes.data(), static_cast<std::uint32_t>(bytes.size()), hashBits, hash) != CSP_OK)
        return PKI_E_FAILURE;
    return ocsp_.cspi->VerifySignatureRSA(hash, rsaProfile, rsaPublic.data(), s.data()) == CSP_OK ? 0 : PKI_E_FAILURE;
}

// OCSP response (4891 / 4149) with its views 4240 (the signer's key by
// policy or named curve), 4228 (the EC key written, or the signature checked
// with a certificate's EC key through slot 49), 4258 (DSTU 7564 signing)
// and, when asked for, 4235 (the responder by name object).
class OCSPResponse final : public Object<IPKIOCSPResponse> {
public:
    explicit OCSPResponse(OCSPLibrary& lib) : Object(lib, PKI_CLASS_OCSP_RESPONSE), ocsp_(lib)
    {
        AddView(this, PKI_IID_NAMED_CURVE, new Policy(this));
        AddView(this, PKI_IID_EC_FORM4, new Form4(this));
        AddView(this, PKI_IID_OCSP_SIGN_DSTU7564, new Sign7564(this));
    }
    void OfferResponder() { AddView(this, PKI_IID_OCSP_RESPONDER, new Responder(this)); }

    std::uint32_t status = 0;
    SYSTEMTIME producedAt{};
    bool hasNonce = false;
    OCSPBytes nonce;
    std::vector<SingleData> singles;
    std::uint32_t responderType = 0;  // 1 by name, 2 by key
    std::wstring responderName;
    OCSPBytes responderKeyHash;
    bool hasOptional = false;
    std::uint32_t optional = 0;
    bool signerCheck = false;  // carries item 4621
    // The signature: its family, and the key that signs at encoding.
    std::uint32_t family = 0;
    OCSPBytes signature;
    KeyObject* pendingKey = nullptr;  // RSA or ECDSA, not held
    std::uint32_t pendingFamily = 0;

    // What the signature covers: everything but the signature itself.
    OCSPBytes Signed() const
    {
        OCSPWriter w;
        w.Word(0x5253434F);  // "OCSR"
        w.Word(status);
        w.Time(producedAt);
        w.Word(hasNonce);
        w.Bytes(nonce);
        w.Word(static_cast<std::uint32_t>(singles.size()));
        for (const auto& s : singles) s.Write(w);
        w.Word(responderType);
        w.Text(responderName);
        w.Bytes(responderKeyHash);
        w.Word(hasOptional);
        w.Word(optional);
        w.Word(signerCheck);
        w.Word(family);
        return w.out;
    }
    int SignNow()
    {
        if (!pendingKey) return 0;
        KeyObject& key = *pendingKey;
        const std::uint32_t signing = pendingFamily;
        pendingKey = nullptr;
        family = signing;
        const OCSPBytes data = Signed();
        std::uint8_t hash[64] = {};
        if (signing == 2) {
            std::uint32_t bits = 0, hashBits = 0;
            std::memcpy(&bits, key.rsaProfile, 4);
            std::memcpy(&hashBits, key.rsaProfile + 4, 4);
            OCSPBytes value(bits / 8);
            if (!ocsp_.cspi ||
                ocsp_.cspi->HashSHA(data.data(), static_cast<std::uint32_t>(data.size()), hashBits, hash) != CSP_OK ||
                ocsp_.cspi->SignHashRSA(hash, key.rsaProfile, key.rsaPrivate.data(), value.data()) != CSP_OK)
                return PKI_E_FAILURE;
            signature = value;
            return 0;
        }
        std::uint8_t record[540] = {};
        std::memcpy(record, key.ecRecord.data(), 536);
        const std::uint32_t hashBits = 256;
        std::memcpy(record + 536, &hashBits, 4);
        OCSPBytes value(152);
        if (!ocsp_.cspi ||
            ocsp_.cspi->HashSHA(data.data(), static_cast<std::uint32_t>(data.size()), 256, hash) != CSP_OK ||
            ocsp_.cspi->SignHashECDSA(32, hash, record, key.ecPrivate.data(), value.data()) != CSP_OK)
            return PKI_E_FAILURE;
        signature = value;
        return 0;
    }
    int SignDSTU(KeyObject& key, std::uint32_t hashKind)
    {
        family = 1;
        return SignDSTU4145Value(ocsp_, key, hashKind, Signed(), &signature);
    }

    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 3, "");
        if (c >= 0) return c;
        if (int rc = SignNow()) return rc;
        OCSPWriter w;
        w.out = Signed();
        w.Bytes(signature);
        return CopyToLibraryBlob(lib_, w.out, out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 4, std::to_string(in->length));
        if (c >= 0) return c;
        OCSPBytes bytes = BytesOf(in);
        OCSPReader r{bytes};
        if (r.Word() != 0x5253434F) return PKI_E_BAD_ENCODING;
        status = r.Word();
        producedAt = r.Time();
        hasNonce = r.Word() != 0;
        nonce = r.Bytes();
        std::uint32_t n = r.Word();
        singles.clear();
        for (std::uint32_t i = 0; r.ok && i < n && i < 1024; ++i) singles.emplace_back().Read(r);
        responderType = r.Word();
        responderName = r.Text();
        responderKeyHash = r.Bytes();
        hasOptional = r.Word() != 0;
        optional = r.Word();
        signerCheck = r.Word() != 0;
        family = r.Word();
        signature = r.Bytes();
        return r.ok && r.at == bytes.size() ? 0 : PKI_E_BAD_ENCODING;
    }
    int SetStatus(std::uint32_t s) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 5, std::to_string(s));
        return c >= 0 ? c : (status = s, 0);
    }
    int GetStatus(std::uint32_t* s) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 6, "");
        return c >= 0 ? c : (*s = status, 0);
    }
    int SetProducedAt(const SYSTEMTIME* t) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 7, "");
        return c >= 0 ? c : (producedAt = *t, 0);
    }
    int GetProducedAt(SYSTEMTIME* t) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 8, "");
        return c >= 0 ? c : (*t = producedAt, 0);
    }
    int AddNonce(IPKIObject* object) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 9, "");
        if (c >= 0) return c;
        if (int rc = NonceOf(object, &nonce)) return rc;
        hasNonce = true;
        return 0;
    }
    int GetNonce(PKIBlob* value) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 10, "");
        if (c >= 0) return c;
        return hasNonce ? CopyToLibraryBlob(lib_, nonce, value) : PKI_E_ABSENT;
    }
    int AddSingleResponse(IPKIObject* id, const SYSTEMTIME* thisUpdate, std::uint32_t hasNext,
                          const SYSTEMTIME* nextUpdate, std::uint32_t s, const SYSTEMTIME* revocationTime,
                          std::uint32_t reason) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 11,
                           std::to_string(hasNext) + "," + std::to_string(s) + "," +
                               (revocationTime ? "time" : "none") + "," + std::to_string(reason));
        if (c >= 0) return c;
        auto* certId = dynamic_cast<CertID*>(id);
        if (!certId || !thisUpdate || (hasNext && !nextUpdate)) return PKI_E_INVALID_ARGUMENT;
        SingleData d;
        d.id = certId->data;
        d.thisUpdate = *thisUpdate;
        d.hasNext = hasNext;
        if (hasNext) d.nextUpdate = *nextUpdate;
        d.status = s;
        d.hasRevocation = revocationTime ? 1 : 0;
        if (revocationTime) d.revocationTime = *revocationTime;
        d.reason = reason;
        singles.push_back(d);
        return 0;
    }
    int AddSingleExtension(const PKIBlob* value) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 12, "");
        if (c >= 0) return c;
        if (singles.empty()) return PKI_E_NOT_SET;
        singles.back().extension = BytesOf(value);
        return 0;
    }
    int GetSingleCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 13, "");
        return c >= 0 ? c : (*count = static_cast<std::uint32_t>(singles.size()), 0);
    }
    int GetSingle(std::uint32_t index, void** entry) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 14, std::to_string(index));
        if (c >= 0) return c;
        if (index >= singles.size()) return PKI_E_INDEX;
        *entry = static_cast<IPKIOCSPSingleResponse*>(new OCSPSingle(lib_, singles[index]));
        return 0;
    }
    int GetResponderIDType(std::uint32_t* type) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 15, "");
        return c >= 0 ? c : (*type = responderType, 0);
    }
    int GetResponderName(void** name) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 16, "");
        if (c >= 0) return c;
        *name = static_cast<IPKIName*>(new OCSPName(lib_, responderName));
        return 0;
    }
    int SetResponderRecord(const PKINameRecord* record) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 17, "");
        if (c >= 0) return c;
        responderType = 1;
        responderName = record->commonName;
        return 0;
    }
    int GetResponderKeyHash(PKIBlob* hash) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 18, "");
        return c >= 0 ? c : CopyToLibraryBlob(lib_, responderKeyHash, hash);
    }
    int GetOptionalValue(std::uint32_t* value) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 19, "");
        if (c >= 0) return c;
        if (!hasOptional) return PKI_E_ABSENT;
        *value = optional;
        return 0;
    }
    int HasItem(std::uint32_t item) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 20, std::to_string(item));
        if (c >= 0) return c;
        return item == PKI_OCSP_SIGNER_CHECK && signerCheck ? 0 : PKI_E_ABSENT;
    }
    int GetSignedBytes(PKIBlob* data) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 21, "");
        return c >= 0 ? c : CopyToLibraryBlob(lib_, Signed(), data);
    }
    int GetSignature(PKIBlob* value) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 22, "");
        if (c >= 0) return c;
        if (signature.empty()) return PKI_E_NOT_SET;
        return CopyToLibraryBlob(lib_, signature, value);
    }
    int GetSignatureFamily(std::uint32_t* f) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 24, "");
        if (c >= 0) return c;
        if (!family) return PKI_E_NOT_SET;
        *f = family;
        return 0;
    }
    // A key object's key (slot 41): RSA by the key's capabilities.
    int SetKey(IPKIObject* key) override
    {
        int c = lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 41, "");
        return c >= 0 ? c : Pending(key, 2);
    }

private:
    int Pending(IPKIObject* key, std::uint32_t f)
    {
        auto* k = dynamic_cast<KeyObject*>(key);
        if (!k) return PKI_E_INVALID_ARGUMENT;
        pendingKey = k;
        pendingFamily = f;
        return 0;
    }
    class Policy final : public ViewOf<IPKISignerPolicyView> {
    public:
        Policy(OCSPResponse* owner) : ViewOf(owner), o_(owner) {}
        int SetPolicyKey(IPKIObject* key, std::uint32_t value) override
        {
            int c = o_->lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 51, std::to_string(value), PKI_IID_NAMED_CURVE);
            return c >= 0 ? c : o_->Pending(key, 2);
        }
        int SelectNamedCurve(IPKIObject* key, std::uint32_t argument) override
        {
            int c = o_->lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 52, std::to_string(argument), PKI_IID_NAMED_CURVE);
            return c >= 0 ? c : o_->Pending(key, 4);
        }

    private:
        OCSPResponse* o_;
    };
    class Form4 final : public ViewOf<IPKIECParametersForm4> {
    public:
        Form4(OCSPResponse* owner) : ViewOf(owner), o_(owner) {}
        // The signature checked with a certificate's EC point and curve.
        int CopyEC(const std::uint8_t* key, const std::uint8_t* record) override
        {
            int c = o_->lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 49, "", PKI_IID_EC_FORM4);
            if (c >= 0) return c;
            if (o_->family != 4 || o_->signature.size() != 152 || !o_->ocsp_.cspi) return PKI_E_FAILURE;
            const OCSPBytes data = o_->Signed();
            std::uint8_t hash[32] = {}, curve[540] = {};
            std::memcpy(curve, record, 536);
            const std::uint32_t hashBits = 256;
            std::memcpy(curve + 536, &hashBits, 4);
            CSPI* cspi = o_->ocsp_.cspi;
            if (cspi->HashSHA(data.data(), static_cast<std::uint32_t>(data.size()), 256, hash) != CSP_OK)
                return PKI_E_FAILURE;
            return cspi->VerifySignatureECDSA(32, hash, curve, key, o_->signature.data()) == CSP_OK ? 0 : PKI_E_FAILURE;
        }

    private:
        OCSPResponse* o_;
    };
    class Sign7564 final : public ViewOf<IPKIOCSPSignDSTU7564> {
    public:
        Sign7564(OCSPResponse* owner) : ViewOf(owner), o_(owner) {}
        int SignWithKey(IPKIObject* key, std::uint32_t kind, std::uint32_t mode) override
        {
            int c = o_->lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 3, std::to_string(kind) + "," + std::to_string(mode),
                                   PKI_IID_OCSP_SIGN_DSTU7564);
            if (c >= 0) return c;
            auto* k = dynamic_cast<KeyObject*>(key);
            if (!k || mode != 7 || kind < 7 || kind > 9) return PKI_E_INVALID_ARGUMENT;
            return o_->SignDSTU(*k, kind);
        }

    private:
        OCSPResponse* o_;
    };
    class Responder final : public ViewOf<IPKIOCSPResponder> {
    public:
        Responder(OCSPResponse* owner) : ViewOf(owner), o_(owner) {}
        int SetResponderName(IPKIObject* name) override
        {
            int c = o_->lib_.Enter(PKI_CLASS_OCSP_RESPONSE, 50, "", PKI_IID_OCSP_RESPONDER);
            if (c >= 0) return c;
            auto* n = dynamic_cast<OCSPName*>(name);
            if (!n) return PKI_E_INVALID_ARGUMENT;
            o_->responderType = 1;
            o_->responderName = n->text;
            return 0;
        }

    private:
        OCSPResponse* o_;
    };
    OCSPLibrary& ocsp_;
};

// A DSTU 4145 key object of the double signs a response with its own key
// (GOST 34.311 hash) through slot 10.
inline void SignsResponses(KeyObject* key, OCSPLibrary&)
{
    key->signsObject = [](KeyObject& self, IPKIObject* object) {
        auto* response = dynamic_cast<OCSPResponse*>(object);
        return response ? response->SignDSTU(self, 1) : PKI_E_INVALID_ARGUMENT;
    };
}

// DVCS request (4910 / 4150): values A and B and an item pair.
class DVCSRequest final : public Object<IPKIDVCSRequest> {
public:
    explicit DVCSRequest(Library& lib) : Object(lib, PKI_CLASS_DVCS_REQUEST) {}
    std::uint32_t a = 0, b = 0, itemFirst = 0, itemSecond = 0;
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_REQUEST, 3, "");
        if (c >= 0) return c;
        OCSPWriter w;
        w.Word(a);
        w.Word(b);
        return CopyToLibraryBlob(lib_, w.out, out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_REQUEST, 4, std::to_string(in->length));
        if (c >= 0) return c;
        OCSPBytes bytes = BytesOf(in);
        OCSPReader r{bytes};
        a = r.Word();
        b = r.Word();
        return r.ok && r.at == bytes.size() ? 0 : PKI_E_BAD_ENCODING;
    }
    int GetValueA(std::uint32_t* v) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_REQUEST, 5, "");
        return c >= 0 ? c : (*v = a, 0);
    }
    int SetValueA(std::uint32_t v) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_REQUEST, 6, std::to_string(v));
        return c >= 0 ? c : (a = v, 0);
    }
    int GetValueB(std::uint32_t* v) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_REQUEST, 7, "");
        return c >= 0 ? c : (*v = b, 0);
    }
    int SetValueB(std::uint32_t v) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_REQUEST, 8, std::to_string(v));
        return c >= 0 ? c : (b = v, 0);
    }
    int SetItem(std::uint32_t first, std::uint32_t second) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_REQUEST, 21, std::to_string(first) + "," + std::to_string(second));
        return c >= 0 ? c : (itemFirst = first, itemSecond = second, 0);
    }
};

// DVCS response (4911 / 4151): five values (the last a pair) kept as set
// and encoded in that order; an item that may be absent.
class DVCSResponse final : public Object<IPKIDVCSResponse> {
public:
    explicit DVCSResponse(Library& lib) : Object(lib, PKI_CLASS_DVCS_RESPONSE) {}
    std::uint32_t values[6] = {};  // 9/10, 11/12, 13/14, 15/16, 17/18 (pair)
    bool hasItem = false;
    std::uint32_t item = 0, itemFirst = 0, itemSecond = 0;
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_RESPONSE, 3, "");
        if (c >= 0) return c;
        OCSPWriter w;
        for (std::uint32_t v : values) w.Word(v);
        w.Word(hasItem);
        w.Word(item);
        return CopyToLibraryBlob(lib_, w.out, out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_RESPONSE, 4, std::to_string(in->length));
        if (c >= 0) return c;
        OCSPBytes bytes = BytesOf(in);
        OCSPReader r{bytes};
        for (std::uint32_t& v : values) v = r.Word();
        hasItem = r.Word() != 0;
        item = r.Word();
        return r.ok && r.at == bytes.size() ? 0 : PKI_E_BAD_ENCODING;
    }
    int GetItem(std::uint32_t* out) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_RESPONSE, 5, "");
        if (c >= 0) return c;
        if (!hasItem) return PKI_E_ABSENT;
        *out = item;
        return 0;
    }
    int SetItemValues(std::uint32_t first, std::uint32_t second) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_RESPONSE, 6, std::to_string(first) + "," + std::to_string(second));
        return c >= 0 ? c : (itemFirst = first, itemSecond = second, 0);
    }
    // The two values given at once (kept apart from the encoded ones).
    std::uint32_t given[2] = {};
    int SetValues(std::uint32_t first, std::uint32_t second) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_RESPONSE, 7, std::to_string(first) + "," + std::to_string(second));
        return c >= 0 ? c : (given[0] = first, given[1] = second, 0);
    }
    int GetValue1(std::uint32_t* v) override { return Get(9, 0, v); }
    int SetValue1(std::uint32_t v) override { return Set(10, 0, v); }
    int GetValue2(std::uint32_t* v) override { return Get(11, 1, v); }
    int SetValue2(std::uint32_t v) override { return Set(12, 1, v); }
    int GetValue3(std::uint32_t* v) override { return Get(13, 2, v); }
    int SetValue3(std::uint32_t v) override { return Set(14, 2, v); }
    int GetValue4(std::uint32_t* v) override { return Get(15, 3, v); }
    int SetValue4(std::uint32_t v) override { return Set(16, 3, v); }
    int GetValuePair(std::uint32_t* first, std::uint32_t* second) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_RESPONSE, 17, "");
        return c >= 0 ? c : (*first = values[4], *second = values[5], 0);
    }
    int SetValuePair(std::uint32_t first, std::uint32_t second) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_RESPONSE, 18, std::to_string(first) + "," + std::to_string(second));
        return c >= 0 ? c : (values[4] = first, values[5] = second, 0);
    }
    // The further value: the sum of the two arguments and the first value.
    int ReadValue(std::uint32_t first, std::uint32_t second, std::uint32_t* out) override
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_RESPONSE, 20, std::to_string(first) + "," + std::to_string(second));
        if (c >= 0) return c;
        if (!out) return PKI_E_INVALID_ARGUMENT;
        *out = first + second + values[0];
        return 0;
    }

private:
    int Get(std::uint32_t op, int i, std::uint32_t* v)
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_RESPONSE, op, "");
        return c >= 0 ? c : (*v = values[i], 0);
    }
    int Set(std::uint32_t op, int i, std::uint32_t v)
    {
        int c = lib_.Enter(PKI_CLASS_DVCS_RESPONSE, op, std::to_string(v));
        return c >= 0 ? c : (values[i] = v, 0);
    }
};

// Signed data that reports its content through the signed-data object's
// slots (15, 16, 18): present or not, its type text and the content bytes.
class ContentSignedData final : public Object<IPKISignedDataSigners> {
public:
    ContentSignedData(Library& lib, std::string type, OCSPBytes content)
        : Object(lib, PKI_CLASS_SIGNED_DATA), type(std::move(type)), content(std::move(content))
    {
    }
    bool hasContent = true;
    std::string type;
    OCSPBytes content;
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetCertificate(std::uint32_t, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int AddCertificate(IPKIObject*) override { return PKI_E_NOT_IMPLEMENTED; }
    int HasContent(std::uint32_t* present) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 15, "");
        return c >= 0 ? c : (*present = hasContent ? 1 : 0, 0);
    }
    int GetContentType(char* oid, std::uint32_t* length) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 16, std::to_string(*length));
        if (c >= 0) return c;
        if (type.size() + 1 > *length) return PKI_E_INVALID_ARGUMENT;
        std::memcpy(oid, type.c_str(), type.size() + 1);
        *length = static_cast<std::uint32_t>(type.size());
        return 0;
    }
    int GetContent(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 18, "");
        return c >= 0 ? c : CopyToLibraryBlob(lib_, content, out);
    }
};

// Makes CreateObject hand out the OCSP and DVCS objects above.
inline void UseOCSPObjects(OCSPLibrary& lib)
{
    lib.makers[{PKI_CLASS_OCSP_REQUEST, PKI_IID_OCSP_REQUEST}] = [&lib]() -> void* {
        return static_cast<IPKIOCSPRequest*>(new OCSPRequest(lib));
    };
    lib.makers[{PKI_CLASS_OCSP_RESPONSE, PKI_IID_OCSP_RESPONSE}] = [&lib]() -> void* {
        return static_cast<IPKIOCSPResponse*>(new OCSPResponse(lib));
    };
    lib.makers[{PKI_CLASS_CERT_ID, PKI_IID_CERT_ID}] = [&lib]() -> void* {
        return static_cast<IPKICertID*>(new CertID(lib));
    };
    lib.makers[{PKI_CLASS_OCSP_NONCE, PKI_IID_OCSP_NONCE}] = [&lib]() -> void* {
        return static_cast<IPKIOCSPNonce*>(new OCSPNonce(lib));
    };
    lib.makers[{PKI_CLASS_DVCS_REQUEST, PKI_IID_DVCS_REQUEST}] = [&lib]() -> void* {
        return static_cast<IPKIDVCSRequest*>(new DVCSRequest(lib));
    };
    lib.makers[{PKI_CLASS_DVCS_RESPONSE, PKI_IID_DVCS_RESPONSE}] = [&lib]() -> void* {
        return static_cast<IPKIDVCSResponse*>(new DVCSResponse(lib));
    };
}

}  // namespace fake

// ---- Key containers: the key list of a container ----
namespace fake {

// A key container (4893 / 4128): no capabilities of its own, its keys and
// certificates behind interface 4209. Entries keep a reference to their key.
class KeyContainer final : public Object<IPKIKeyObject> {
public:
    struct Entry {
        IPKIObject* key;
        std::uint32_t capability, value;
        std::vector<std::uint8_t> bytes;  // 32
    };
    explicit KeyContainer(Library& lib) : Object(lib, 4893)
    {
        class Keys final : public ViewOf<IPKICertificateListView> {
        public:
            Keys(KeyContainer* owner) : ViewOf(owner), c_(owner) {}
            int GetCertificateCount(std::uint32_t kind, std::uint32_t* count) override
            {
                int c = c_->lib_.Enter(4893, 46, std::to_string(kind), PKI_IID_KEY_LIST);
                if (c >= 0) return c;
                *count = static_cast<std::uint32_t>(kind == PKI_KEY_LIST_KEYS ? c_->entries.size()
                                                                              : c_->certificates.size());
                return 0;
            }
            int GetCertificate(std::uint32_t index, std::uint32_t kind, void** certificate) override
            {
                int c = c_->lib_.Enter(4893, 48, std::to_string(index), PKI_IID_KEY_LIST);
                if (c >= 0) return c;
                if (kind != PKI_KEY_LIST_CERTIFICATES || index >= c_->certificates.size()) return PKI_E_INDEX;
                return c_->certificates[index]->QueryInterface(PKI_IID_CERTIFICATE, certificate);
            }
            int AddCertificate(IPKIObject* certificate) override
            {
                int c = c_->lib_.Enter(4893, 47, "", PKI_IID_KEY_LIST);
                if (c >= 0) return c;
                void* kept = nullptr;
                if (!certificate || certificate->QueryInterface(PKI_IID_CERTIFICATE, &kept) != 0)
                    return PKI_E_INVALID_ARGUMENT;
                c_->certificates.push_back(static_cast<IPKIObject*>(kept));
                return 0;
            }
            int SetKeyCertificate(std::uint32_t index, IPKIObject* certificate) override
            {
                int c = c_->lib_.Enter(4893, 50, std::to_string(index), PKI_IID_KEY_LIST);
                if (c >= 0) return c;
                void* kept = nullptr;
                if (index >= c_->entries.size() || !certificate ||
                    certificate->QueryInterface(PKI_IID_CERTIFICATE, &kept) != 0)
                    return PKI_E_INVALID_ARGUMENT;
                c_->attached.push_back({index, static_cast<IPKIObject*>(kept)});
                return 0;
            }
            int GetKeyEntry(std::uint32_t index, void** key, std::uint32_t* capability, std::uint32_t* value,
                            std::uint8_t* bytes) override
            {
                int c = c_->lib_.Enter(4893, 49, std::to_string(index), PKI_IID_KEY_LIST);
                if (c >= 0) return c;
                if (index >= c_->entries.size()) return PKI_E_INDEX;
                const Entry& e = c_->entries[index];
                if (e.key->QueryInterface(PKI_IID_KEY, key) != 0) return PKI_E_FAILURE;
                if (capability) *capability = e.capability;
                if (value) *value = e.value;
                if (bytes) std::memcpy(bytes, e.bytes.data(), 32);
                return 0;
            }

        private:
            KeyContainer* c_;
        };
        AddView(this, PKI_IID_KEY_LIST, new Keys(this));
    }
    ~KeyContainer() override
    {
        for (Entry& e : entries) e.key->Release();
        for (IPKIObject* c : certificates) c->Release();
        for (auto& [index, c] : attached) c->Release();
    }
    // The certificate list (kind 1): takes over the caller's reference.
    std::vector<IPKIObject*> certificates;
    // Certificates set to keys (slot 50 of 4209), by key index, kept referenced.
    std::vector<std::pair<std::uint32_t, IPKIObject*>> attached;
    // Slot 37's word on incomplete keys.
    std::uint32_t acceptsIncomplete = 0;
    int CheckIncompleteKeys(std::uint32_t* accepted) override
    {
        int c = lib_.Enter(4893, 37, "");
        if (c >= 0) return c;
        *accepted = acceptsIncomplete;
        return 0;
    }
    // Takes over the caller's reference to `key`.
    void Add(Object<IPKIKeyObject>* key, std::uint32_t capability, std::uint32_t value = 0,
             std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(32))
    {
        key->offers.insert(PKI_IID_KEY);
        entries.push_back({key, capability, value, std::move(bytes)});
    }
    int GetCapabilities(std::uint32_t* bits) override
    {
        int c = lib_.Enter(4893, 5, "");
        if (c >= 0) return c;
        *bits = 0;
        return 0;
    }
    int SetSBox(const std::uint8_t* s) override
    {
        int c = lib_.Enter(4893, 44, "");
        if (c >= 0) return c;
        sBox.assign(s, s + 64);
        return 0;
    }
    // Slot 8 keeps the value and the parameters' curve, slot 7 reads them
    // back (a key value of this container, as the key media use it); the 76
    // bytes behind the value's pointer are kept too, whatever its length.
    int SetKeyValue(const PKIBlob* value, IPKIObject* parameters) override
    {
        int c = lib_.Enter(4893, 8, std::to_string(value->length));
        if (c >= 0) return c;
        if (!parameters) return PKI_E_INVALID_ARGUMENT;
        Curve curve;
        if (static_cast<IPKIParameters*>(parameters)->GetParameters(&curve.field, &curve.point, curve.sBox) != 0)
            return PKI_E_FAILURE;
        keyCurve = curve;
        keyValue.assign(value->data, value->data + value->length);
        behindValue.assign(value->data, value->data + (value->data ? 76 : 0));
        hasKeyValue = true;
        return 0;
    }
    int GetKeyValue(PKIBlob* value, void** parameters) override
    {
        int c = lib_.Enter(4893, 7, "");
        if (c >= 0) return c;
        if (!hasKeyValue) return PKI_E_NOT_SET;
        if (CopyToLibraryBlob(lib_, keyValue, value) != 0) return PKI_E_OUT_OF_MEMORY;
        *parameters = static_cast<IPKIParameters*>(new CurveParameters(lib_, keyCurve));
        return 0;
    }
    int SetSignatureKeyIdentifier(IPKIObject* identifier) override
    {
        int c = lib_.Enter(4893, 12, "");
        if (c >= 0) return c;
        auto* value = dynamic_cast<BytesValue*>(static_cast<IPKIAttribute*>(identifier));
        if (!value) return PKI_E_INVALID_ARGUMENT;
        signatureId = value->Value();
        return 0;
    }
    // The tests' container encoding: "KC:" and the keys' DSTU 4145 bytes,
    // separated by '|' (at least one key).
    static std::string Encoding(const std::vector<std::string>& keys)
    {
        std::string s = "KC:";
        for (std::size_t i = 0; i < keys.size(); ++i) s += (i ? "|" : "") + keys[i];
        return s;
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(4893, 4, std::to_string(in->length));
        if (c >= 0) return c;
        std::string s(reinterpret_cast<const char*>(in->data), in->length);
        if (s.size() < 4 || s.compare(0, 3, "KC:") != 0 || !entries.empty()) return PKI_E_BAD_ENCODING;
        for (std::size_t at = 3;;) {
            const std::size_t end = s.find('|', at);
            auto* key = new KeyObject(lib_);
            key->capabilities = 1;
            key->dstuPrivate.assign(s.begin() + static_cast<std::ptrdiff_t>(at),
                                    end == std::string::npos ? s.end() : s.begin() + static_cast<std::ptrdiff_t>(end));
            Add(key, 1);
            if (end == std::string::npos) break;
            at = end + 1;
        }
        return 0;
    }
    std::vector<Entry> entries;
    std::vector<std::uint8_t> sBox;
    bool hasKeyValue = false;
    std::vector<std::uint8_t> keyValue, behindValue, signatureId;
    Curve keyCurve;

private:
    // Interface 4233: keys added to the container (kept referenced).
    class KeySet final : public ViewOf<IPKIKeySet> {
    public:
        KeySet(KeyContainer* owner) : ViewOf(owner), c_(owner) {}
        int GetKeyCount(std::uint32_t* count) override
        {
            int c = c_->lib_.Enter(4893, 46, "", PKI_IID_KEY_SET);
            if (c >= 0) return c;
            *count = static_cast<std::uint32_t>(c_->entries.size());
            return 0;
        }
        int AddKey(IPKIObject* key, const PKIBlob*) override
        {
            int c = c_->lib_.Enter(4893, 47, "", PKI_IID_KEY_SET);
            if (c >= 0) return c;
            void* kept = nullptr;
            if (!key || key->QueryInterface(PKI_IID_KEY, &kept) != 0) return PKI_E_INVALID_ARGUMENT;
            c_->entries.push_back({static_cast<IPKIObject*>(kept), 1, 0, std::vector<std::uint8_t>(32)});
            return 0;
        }
        int GetKey(std::uint32_t, void**, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
        int SetValue(std::uint32_t, const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
        int GetValue(std::uint32_t, PKIBlob*) override { return PKI_E_ABSENT; }
        int RemoveValue(std::uint32_t) override { return PKI_E_NOT_IMPLEMENTED; }

    private:
        KeyContainer* c_;
    };

public:
    void OfferKeySet() { AddView(this, PKI_IID_KEY_SET, new KeySet(this)); }
};

// An encrypted private key (4882 / 4116) in the tests' own encoding:
// "EPK", a marker ('A': the key inside carries attribute 4363, '-': not),
// the password, a newline and the key's bytes. Open answers a key object
// (4128) whose DSTU 4145 value is those bytes when the password is the one
// written; OpenConverted when it is that password with "utf8:" before it.
class EncryptedKey final : public Object<IPKIPrivateKey> {
public:
    explicit EncryptedKey(Library& lib) : Object(lib, PKI_CLASS_PRIVATE_KEY) { offers.insert(PKI_IID_PRIVATE_KEY); }
    static std::string Encoding(const std::string& password, const std::string& key, bool marked = false)
    {
        return std::string("EPK") + (marked ? "A" : "-") + password + "\n" + key;
    }
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_PRIVATE_KEY, 3, "");
        if (c >= 0) return c;
        return CopyToLibraryBlob(lib_, std::vector<std::uint8_t>(encoded_.begin(), encoded_.end()), out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_PRIVATE_KEY, 4, std::to_string(in->length));
        if (c >= 0) return c;
        std::string s(reinterpret_cast<const char*>(in->data), in->length);
        if (s.size() < 5 || s.compare(0, 3, "EPK") != 0 || s.find('\n') == std::string::npos) return PKI_E_BAD_ENCODING;
        encoded_ = s;
        return 0;
    }
    int SetKey(IPKIObject*, const char* password) override
    {
        int c = lib_.Enter(PKI_CLASS_PRIVATE_KEY, 5, password);
        if (c >= 0) return c;
        encoded_ = Encoding(password, "wrapped");
        return 0;
    }
    int Open(const char* password, void** key) override
    {
        int c = lib_.Enter(PKI_CLASS_PRIVATE_KEY, 6, "");
        return c >= 0 ? c : OpenWith(password, key);
    }
    int OpenConverted(const char* password, void** key) override
    {
        int c = lib_.Enter(PKI_CLASS_PRIVATE_KEY, 7, "");
        return c >= 0 ? c : OpenWith(std::string("utf8:") + password, key);
    }
    int SetFormat(std::uint32_t format) override
    {
        return lib_.Enter(PKI_CLASS_PRIVATE_KEY, 12, std::to_string(format)) > 0 ? PKI_E_FAILURE : 0;
    }
    int SetProtectionValue(std::uint32_t) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetProtectionValue(std::uint32_t*) override { return PKI_E_NOT_IMPLEMENTED; }
    void Retain() { ++refs_; }
    // The tests' own setting of an encoding, outside the library's calls.
    void Load(const std::string& encoding) { encoded_ = encoding; }

private:
    int OpenWith(const std::string& password, void** out)
    {
        if (encoded_.empty()) return PKI_E_NOT_SET;
        const std::size_t end = encoded_.find('\n');
        if (encoded_.substr(4, end - 4) != password) return PKI_E_WRONG_PASSWORD;
        auto* key = new KeyObject(lib_);
        key->offers.insert(PKI_IID_KEY);
        key->capabilities = 1;
        key->dstuPrivate.assign(encoded_.begin() + static_cast<std::ptrdiff_t>(end) + 1, encoded_.end());
        if (encoded_[3] == 'A') key->cache->values[PKI_KEYSET_KEY_ATTRIBUTE] = {1};
        *out = static_cast<IPKIKeyObject*>(key);
        return 0;
    }
    std::string encoded_;
};

// The objects of the key-file readers: encrypted keys and key containers.
inline void UseKeyFileObjects(Library& lib)
{
    lib.makers[{PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY}] = [&lib]() -> void* {
        return static_cast<IPKIPrivateKey*>(new EncryptedKey(lib));
    };
    lib.makers[{PKI_CLASS_KEY, PKI_IID_KEY}] = [&lib]() -> void* {
        auto* container = new KeyContainer(lib);
        container->OfferKeySet();
        // A container is a key object itself (4128): it may go into another.
        container->offers.insert(PKI_IID_KEY);
        return static_cast<IPKIKeyObject*>(container);
    };
}

}  // namespace fake

// ---- PKCS#12 files: the PFX and its bags ----
namespace fake {

// A bag (4930 / 4201) of encrypted keys, each kept referenced.
class EntryList final : public Object<IPKIEntryList> {
public:
    explicit EntryList(Library& lib) : Object(lib, PKI_CLASS_ENTRY_LIST) {}
    ~EntryList() override
    {
        for (EncryptedKey* k : keys) k->Release();
        for (IPKIObject* c : certificates) c->Release();
    }
    void Retain() { ++refs_; }
    int GetEntryCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(PKI_CLASS_ENTRY_LIST, 5, "");
        if (c >= 0) return c;
        *count = static_cast<std::uint32_t>(keys.size() + certificates.size());
        return 0;
    }
    // Keys first, then certificates (a bag holds one kind); each with the
    // bytes of the attribute it was added with.
    int GetEntry(std::uint32_t index, void** entry, PKIBlob* attribute) override
    {
        int c = lib_.Enter(PKI_CLASS_ENTRY_LIST, 6, std::to_string(index));
        if (c >= 0) return c;
        if (index >= keys.size() + certificates.size()) return PKI_E_INDEX;
        const bool isKey = index < keys.size();
        if (isKey) {
            keys[index]->Retain();
            *entry = static_cast<IPKIPrivateKey*>(keys[index]);
        } else if (certificates[index - keys.size()]->QueryInterface(PKI_IID_CERTIFICATE, entry) != 0) {
            return PKI_E_FAILURE;
        }
        const std::vector<std::uint8_t>& bytes = isKey ? keyIds[index] : certificateIds[index - keys.size()];
        if (attribute) *attribute = PKIBlob{0, nullptr};
        if (attribute && !bytes.empty() && CopyToLibraryBlob(lib_, bytes, attribute) != 0) return PKI_E_OUT_OF_MEMORY;
        return 0;
    }
    // An encrypted key, or any object offering a certificate (kept through
    // that interface); attribute: a BytesValue.
    int AddEntry(IPKIObject* privateKey, IPKIObject* attribute) override
    {
        int c = lib_.Enter(PKI_CLASS_ENTRY_LIST, 7, attribute ? "attribute" : "");
        if (c >= 0) return c;
        std::vector<std::uint8_t> id;
        if (attribute) {
            auto* value = dynamic_cast<BytesValue*>(static_cast<IPKIAttribute*>(attribute));
            if (!value) return PKI_E_INVALID_ARGUMENT;
            id = value->Value();
        }
        if (auto* key = dynamic_cast<EncryptedKey*>(privateKey)) {
            key->Retain();
            keys.push_back(key);
            keyIds.push_back(id);
            return 0;
        }
        void* held = nullptr;
        if (!privateKey || privateKey->QueryInterface(PKI_IID_CERTIFICATE, &held) != 0) return PKI_E_INVALID_ARGUMENT;
        certificates.push_back(static_cast<IPKIObject*>(held));
        certificateIds.push_back(id);
        return 0;
    }
    int RemoveEntry(std::uint32_t) override { return PKI_E_NOT_IMPLEMENTED; }
    std::vector<EncryptedKey*> keys;
    std::vector<IPKIObject*> certificates;
    std::vector<std::vector<std::uint8_t>> keyIds, certificateIds;
};

// A PFX (4931 / 4208) in the tests' encoding: "PFX", then '+' and the
// password of its integrity protection, or '-' for none, then ':' and the
// number of its bags. Bags added are kept referenced.
class PFX final : public Object<IPKIKeyContainer> {
public:
    explicit PFX(Library& lib) : Object(lib, PKI_CLASS_KEY_CONTAINER) {}
    ~PFX() override
    {
        for (EntryList* b : bags) b->Release();
    }
    static std::string Encoding(const char* password, std::size_t bags = 0)
    {
        return std::string("PFX") + (password ? std::string("+") + password : "-") + ":" + std::to_string(bags);
    }
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 3, "");
        if (c >= 0) return c;
        return CopyToBlob(lib_, Encoding(isProtected ? password.c_str() : nullptr, bags.size()), out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 4, std::to_string(in->length));
        if (c >= 0) return c;
        std::string s(reinterpret_cast<const char*>(in->data), in->length);
        const std::size_t colon = s.rfind(':');
        if (s.size() < 5 || s.compare(0, 3, "PFX") != 0 || (s[3] != '+' && s[3] != '-') || colon == std::string::npos)
            return PKI_E_BAD_ENCODING;
        isProtected = s[3] == '+';
        password = isProtected ? s.substr(4, colon - 4) : "";
        return 0;
    }
    int GetItemCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 5, "");
        if (c >= 0) return c;
        *count = static_cast<std::uint32_t>(bags.size());
        return 0;
    }
    int GetItem(std::uint32_t index, void** entryList) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 6, std::to_string(index));
        if (c >= 0) return c;
        if (index >= bags.size()) return PKI_E_INDEX;
        bags[index]->Retain();
        *entryList = static_cast<IPKIEntryList*>(bags[index]);
        return 0;
    }
    int AddItem(IPKIObject* entryList) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 7, "");
        if (c >= 0) return c;
        auto* bag = dynamic_cast<EntryList*>(static_cast<IPKIEntryList*>(entryList));
        if (!bag) return PKI_E_INVALID_ARGUMENT;
        bag->Retain();
        bags.push_back(bag);
        return 0;
    }
    int RemoveItem(std::uint32_t) override { return PKI_E_NOT_IMPLEMENTED; }
    int SetPassword(std::uint32_t flags, const char* given) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 15, std::to_string(flags) + "," + (given ? given : "-"));
        if (c >= 0) return c;
        isProtected = flags == PKI_PROTECT_WITH_PASSWORD && given;
        password = isProtected ? given : "";
        return 0;
    }
    int CheckPassword(const char* given) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 16, given ? given : "-");
        if (c >= 0) return c;
        return !isProtected || (given && password == given) ? 0 : PKI_E_WRONG_PASSWORD;
    }
    int IsProtected(std::uint32_t* flag) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 17, "");
        if (c >= 0) return c;
        *flag = isProtected ? 1 : 0;
        return 0;
    }
    int GetProtectionValue(std::uint32_t*) override { return PKI_E_NOT_IMPLEMENTED; }
    int SetProtectionValue(std::uint32_t v) override
    {
        int c = lib_.Enter(PKI_CLASS_KEY_CONTAINER, 20, std::to_string(v));
        if (c >= 0) return c;
        value = v;
        return 0;
    }
    int GetItemAttribute(const char*, IPKIObject*, const char*, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int AddItemAttribute(const char*, IPKIObject*, const char*, const PKIBlob*) override
    {
        return PKI_E_NOT_IMPLEMENTED;
    }
    std::uint32_t value = 0;
    std::vector<EntryList*> bags;
    bool isProtected = false;
    std::string password;
};

// The PFX and its bags, beside the key-file objects.
inline void UsePFXObjects(Library& lib)
{
    UseKeyFileObjects(lib);
    lib.makers[{PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER}] = [&lib]() -> void* {
        return static_cast<IPKIKeyContainer*>(new PFX(lib));
    };
    lib.makers[{PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST}] = [&lib]() -> void* {
        return static_cast<IPKIEntryList*>(new EntryList(lib));
    };
}

}  // namespace fake

namespace fake {

// ---- Parts, inner objects, key kinds and signers ----
// (certificate, request and message operations that pass objects on)

// An object whose slot 11 hands out an inner object (a fake::Encoded).
class InnerSource final : public Object<IPKIInnerObjectSource> {
public:
    explicit InnerSource(Library& lib) : Object(lib, 4940) {}
    IPKIObject* handedOut = nullptr;
    int GetInnerObject(void** inner) override
    {
        int c = lib_.Enter(4940, 11, "");
        if (c >= 0) return c;
        auto* e = static_cast<IPKIEncoded*>(new Encoded(lib_, "inner"));
        handedOut = e;
        *inner = e;
        return 0;
    }
};

// An object whose slots 17 and 26 each hand out a signature value holding
// one DSTU 4145 form (bytes 17 or 26 repeated), so the codec can encode it.
class PartsObject final : public Object<IPKIObjectParts> {
public:
    explicit PartsObject(Library& lib) : Object(lib, 4941) {}
    int GetPart17(void** part) override { return Part(17, part); }
    int GetPart26(void** part) override { return Part(26, part); }
    static std::vector<std::uint8_t> Bytes(std::uint8_t op) { return std::vector<std::uint8_t>(8, op); }

private:
    int Part(std::uint8_t op, void** part)
    {
        int c = lib_.Enter(4941, op, "");
        if (c >= 0) return c;
        auto* value = new SignatureValue(lib_);
        value->forms[0] = {Bytes(op), 64, true};
        *part = static_cast<IPKISignatureValue*>(value);
        return 0;
    }
};

// An object that reports a key kind in slot 38.
class KeyKindItem final : public Object<IPKIKeyKindItem> {
public:
    KeyKindItem(Library& lib, std::uint32_t kind) : Object(lib, 4876), kind_(kind) {}
    int GetKeyKind(std::uint32_t* kind) override
    {
        int c = lib_.Enter(4876, 38, "");
        if (c >= 0) return c;
        *kind = kind_;
        return 0;
    }

private:
    std::uint32_t kind_;
};

// The EC view (4226) of a profile certificate: its slot 112 hands out the
// inner EC certificate the test sets (a new reference each time).
class ProfileECView final : public ViewOf<IPKICertificateECKeys> {
public:
    ProfileECView(ProfileCertificate* owner, Library& lib) : ViewOf(owner), lib_(lib) {}
    ProfileCertificate* inner = nullptr;  // owned by the test
    int GetECPublicKey(PKIBlob*, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetInnerECCertificate(void** certificate) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 112, "", PKI_IID_CERTIFICATE_EX);
        if (c >= 0) return c;
        if (!inner) return PKI_E_ABSENT;
        inner->AddRef();
        *certificate = static_cast<IPKICertificate*>(inner);
        return 0;
    }

private:
    Library& lib_;
};

// Signed data whose signers (slots 10 and 11) are fake::Encoded objects.
class SignerList final : public Object<IPKISignedDataSigners> {
public:
    SignerList(Library& lib, std::uint32_t count) : Object(lib, PKI_CLASS_SIGNED_DATA), count_(count) {}
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetCertificate(std::uint32_t, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int AddCertificate(IPKIObject*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetSignerCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 10, "");
        if (c >= 0) return c;
        *count = count_;
        return 0;
    }
    int GetSigner(std::uint32_t index, void** signer) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 11, std::to_string(index));
        if (c >= 0) return c;
        if (index >= count_) return PKI_E_INDEX;
        *signer = static_cast<IPKIEncoded*>(new Encoded(lib_, "signer"));
        return 0;
    }

private:
    std::uint32_t count_;
};

}  // namespace fake

namespace fake {

// A request whose signature holds under one DSTU 4145 key or one RSA key
// (the signer's, which the test sets apart from the request's own), with
// the EC view (4225) that the parameter normalisation reads.
class SignedRequest final : public Object<IPKIRequest> {
public:
    SignedRequest(Library& lib, std::uint32_t kind) : Object(lib, PKI_CLASS_REQUEST), kind(kind), family(kind)
    {
        class EC final : public ViewOf<IPKIRequestEC> {
        public:
            EC(SignedRequest* owner) : ViewOf(owner), r_(owner) {}
            int GetECValue(std::uint32_t index, std::uint8_t* value) override
            {
                int c = r_->lib_.Enter(PKI_CLASS_REQUEST, 102, std::to_string(index), PKI_IID_EC_REQUEST);
                return c >= 0 ? c : r_->ec.Read(index, value);
            }
            int NormalizeECRecord(const std::uint8_t* record) override
            {
                int c = r_->lib_.Enter(PKI_CLASS_REQUEST, 105, "", PKI_IID_EC_REQUEST);
                if (c >= 0) return c;
                r_->ec.written.how = "4225:105";
                r_->ec.written.record.assign(record, record + 536);
                return 0;
            }

        private:
            SignedRequest* r_;
        };
        AddView(this, PKI_IID_EC_REQUEST, new EC(this));
        offers.insert(PKI_IID_REQUEST);
    }
    std::uint32_t kind, family;
    std::vector<std::uint8_t> dstuPublic = std::vector<std::uint8_t>(76, 0x31), dstuSigner = dstuPublic;
    std::uint32_t dstuLength = 21;
    std::vector<std::uint8_t> rsaFields = std::vector<std::uint8_t>(2 * PKI_KEY_FIELD_BYTES, 0x41),
                              rsaSigner = rsaFields;
    std::uint32_t rsaBits = 2048;
    ECValues ec;

    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetKeyKind(std::uint32_t* out) override { return Word(13, kind, out); }
    int GetSignatureFamily(std::uint32_t* out) override { return Word(24, family, out); }
    int GetDSTU4145PublicKey(std::uint8_t* key, std::uint32_t* length, void** parameters) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 16, "");
        if (c >= 0) return c;
        std::memcpy(key, dstuPublic.data(), 76);
        *length = dstuLength;
        *parameters = static_cast<IPKIEncoded*>(new Encoded(lib_, "parameters"));
        return 0;
    }
    int VerifyDSTU4145(const std::uint8_t* key, std::uint32_t length, IPKIObject* parameters) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 6, std::to_string(length));
        if (c >= 0) return c;
        return parameters && length == dstuLength && std::memcmp(key, dstuSigner.data(), 76) == 0 ? 0 : PKI_E_FAILURE;
    }
    int GetRSAPublicKey(std::uint8_t* fields, std::uint32_t* bits) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 15, "");
        if (c >= 0) return c;
        std::memcpy(fields, rsaFields.data(), rsaFields.size());
        *bits = rsaBits;
        return 0;
    }
    int VerifyRSA(const std::uint8_t* fields, std::uint32_t bits) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 36, std::to_string(bits));
        if (c >= 0) return c;
        return bits == rsaBits && std::memcmp(fields, rsaSigner.data(), rsaSigner.size()) == 0 ? 0 : PKI_E_FAILURE;
    }

private:
    int Word(std::uint32_t op, std::uint32_t value, std::uint32_t* out)
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, op, "");
        if (c >= 0) return c;
        *out = value;
        return 0;
    }
};

// An encoded INTEGER (4877 / 4111) that keeps what it decodes.
class Integer final : public Object<IPKIInteger> {
public:
    explicit Integer(Library& lib) : Object(lib, 4877) {}
    std::string bytes;
    void Retain() { ++refs_; }
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(4877, 3, "");
        return c >= 0 ? c : CopyToBlob(lib_, bytes, out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(4877, 4, std::to_string(in->length));
        if (c >= 0) return c;
        bytes.assign(reinterpret_cast<const char*>(in->data), in->length);
        return 0;
    }
};

// An object that keeps the integer object it is given in slot 51.
class IntegerHolder final : public Object<IPKIIntegerHolder> {
public:
    explicit IntegerHolder(Library& lib) : Object(lib, 4875) {}
    ~IntegerHolder() override
    {
        if (held) held->Release();
    }
    IPKIObject* held = nullptr;
    int AttachInteger(IPKIObject* integer) override
    {
        int c = lib_.Enter(4875, 51, "");
        if (c >= 0) return c;
        auto* value = dynamic_cast<Integer*>(integer);
        if (!value) return PKI_E_INVALID_ARGUMENT;
        value->Retain();
        if (held) held->Release();
        held = integer;
        return 0;
    }
};

}  // namespace fake

// ---- Holder data and certificate reference records ----

namespace fake {

// A general-names list of (kind, wide text) entries.
class GeneralNames final : public Object<IPKIGeneralNames> {
public:
    GeneralNames(Library& lib, std::vector<std::pair<std::uint32_t, std::wstring>> entries)
        : Object(lib, 4865), entries_(std::move(entries))
    {
    }
    int GetCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(4865, 3, "");
        if (c >= 0) return c;
        *count = static_cast<std::uint32_t>(entries_.size());
        return 0;
    }
    int GetKind(std::uint32_t index, std::uint32_t* kind) override
    {
        int c = lib_.Enter(4865, 4, std::to_string(index));
        if (c >= 0) return c;
        if (index >= entries_.size()) return PKI_E_INVALID_ARGUMENT;
        *kind = entries_[index].first;
        return 0;
    }
    // As the library's wide texts: a text that does not fit is refused and
    // *length tells its length.
    int GetText(std::uint32_t index, wchar_t* text, std::uint32_t* length) override
    {
        int c = lib_.Enter(4865, 5, std::to_string(index) + "," + std::to_string(*length));
        if (c >= 0) return c;
        if (index >= entries_.size()) return PKI_E_INVALID_ARGUMENT;
        const std::wstring& t = entries_[index].second;
        if (t.size() + 1 > *length) {
            *length = static_cast<std::uint32_t>(t.size());
            return PKI_E_INVALID_ARGUMENT;
        }
        std::wmemcpy(text, t.c_str(), t.size() + 1);
        *length = static_cast<std::uint32_t>(t.size());
        return 0;
    }

private:
    std::vector<std::pair<std::uint32_t, std::wstring>> entries_;
};

// What a holder-data request or certificate hands out: its alternative
// names (absent when `hasNames` is false) and, for a request, the answer of
// its content check (slot 99).
struct AltNamesScript {
    bool hasNames = true;
    std::vector<std::pair<std::uint32_t, std::wstring>> names;
    int contentAnswer = 0;
};

inline int HandOutNames(Library& lib, std::uint32_t classId, const AltNamesScript& s, void** names)
{
    int c = lib.Enter(classId, 79, "");
    if (c >= 0) return c;
    if (!s.hasNames) return PKI_E_ABSENT;
    *names = static_cast<IPKIGeneralNames*>(new GeneralNames(lib, s.names));
    return 0;
}

class AltNamesRequest final : public Object<IPKIRequest> {
public:
    AltNamesRequest(Library& lib, const AltNamesScript& s) : Object(lib, PKI_CLASS_REQUEST), s_(s) {}
    int Encode(PKIBlob*) override { return lib_.Enter(PKI_CLASS_REQUEST, 3, ""); }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 4, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
    int GetKeyKind(std::uint32_t* kind) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 13, "");
        if (c >= 0) return c;
        *kind = 1;
        return 0;
    }
    int GetAltNames(void** names) override { return HandOutNames(lib_, PKI_CLASS_REQUEST, s_, names); }
    int CheckContent() override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 99, "");
        return c >= 0 ? c : s_.contentAnswer;
    }

private:
    const AltNamesScript& s_;
};

class AltNamesCertificate final : public Object<IPKICertificate> {
public:
    AltNamesCertificate(Library& lib, const AltNamesScript& s) : Object(lib, PKI_CLASS_CERTIFICATE), s_(s)
    {
        offers.insert(PKI_IID_CERTIFICATE);
    }
    int GetPolicies(void**) override { return PKI_E_ABSENT; }
    int GetAltNames(void** names) override { return HandOutNames(lib_, PKI_CLASS_CERTIFICATE, s_, names); }

private:
    const AltNamesScript& s_;
};

// Decoded requests become AltNamesRequest objects over the script.
inline void UseAltNamesRequests(Library& lib, const AltNamesScript& s)
{
    lib.makers[{PKI_CLASS_REQUEST, PKI_IID_REQUEST}] = [&lib, &s]() -> void* {
        return static_cast<IPKIRequest*>(new AltNamesRequest(lib, s));
    };
}

// A certificate for reference records: issuer text and object, key family,
// serial number and the companions of slots 100 and 103 (the test keeps them
// alive; each hand-out takes a reference).
class ReferenceCertificate final : public Object<IPKICertificate> {
public:
    ReferenceCertificate(Library& lib, std::uint32_t family, std::string serialInteger)
        : Object(lib, PKI_CLASS_CERTIFICATE), kind(family), serial(std::move(serialInteger))
    {
    }
    std::uint32_t kind;
    std::string serial;
    std::wstring issuer = L"CN=Issuer;C=UA";
    ReferenceCertificate* inner = nullptr;
    ReferenceCertificate* rsa = nullptr;
    int GetPolicies(void**) override { return PKI_E_ABSENT; }
    int GetIssuerText(wchar_t* text, std::uint32_t* length) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 9, std::to_string(*length));
        if (c >= 0) return c;
        if (issuer.size() + 1 > *length) return PKI_E_INVALID_ARGUMENT;
        wcscpy(text, issuer.c_str());
        *length = static_cast<std::uint32_t>(issuer.size());
        return 0;
    }
    int GetIssuer(void** name) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 13, "");
        if (c >= 0) return c;
        *name = static_cast<IPKIEncoded*>(new Encoded(lib_, "issuer"));
        return 0;
    }
    int GetKeyKind(std::uint32_t* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 23, "");
        if (c >= 0) return c;
        *out = kind;
        return 0;
    }
    int GetSerial(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 7, "");
        return c >= 0 ? c : CopyToBlob(lib_, serial, out);
    }
    int GetInnerCertificate(void** out) override { return Companion(100, inner, out); }
    int GetRSAView(void** out) override { return Companion(103, rsa, out); }

private:
    int Companion(std::uint32_t op, ReferenceCertificate* c, void** out)
    {
        int code = lib_.Enter(PKI_CLASS_CERTIFICATE, op, "");
        if (code >= 0) return code;
        if (!c) return PKI_E_ABSENT;
        ++c->refs_;
        *out = static_cast<IPKICertificate*>(c);
        return 0;
    }
};

}  // namespace fake

// ---- CMS signed data: messages, signers, signing-certificate attributes ----
namespace fake::families {

// A time-stamp token or message wrapper (class 4879, interface 4113 as the
// signed-data operations use it): its type and inner object are the test's.
class CmsContentInfo final : public Object<IPKICMSContentInfo> {
public:
    explicit CmsContentInfo(Library& lib) : Object(lib, PKI_CLASS_CONTENT_INFO) {}
    ~CmsContentInfo()
    {
        if (inner) inner->Release();
    }
    void Retain() { ++refs_; }
    std::string type;
    IPKIObject* inner = nullptr;             // held
    std::function<IPKIObject*()> makeInner;  // what GetContentObject opens (else `inner`)
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 3, "");
        return c >= 0 ? c : CopyToBlob(lib_, "content-info:" + type, out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 4, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
    int GetContentType(PKIBlob* oid) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 5, "");
        if (c >= 0) return c;
        int rc = CopyToBlob(lib_, type + std::string(1, '\0'), oid);
        if (rc == 0) oid->length = static_cast<std::uint32_t>(type.size());
        return rc;
    }
    int SetContentType(const char* oid) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 6, oid);
        if (c >= 0) return c;
        type = oid;
        return 0;
    }
    int GetContentObject(std::uint32_t classId, std::uint32_t interfaceId, void** object) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 7, std::to_string(classId) + "," + std::to_string(interfaceId));
        if (c >= 0) return c;
        if (!makeInner) return PKI_E_NOT_SET;
        *object = makeInner();
        return 0;
    }
    int SetContentObject(IPKIObject* object) override;
};

// The signing-certificate attribute: one or more entries; the certificate
// hashes it computes are `certificateHash` (its first bits / 8 bytes).
class CmsSigningCertificate final : public Object<IPKISigningCertificate> {
public:
    explicit CmsSigningCertificate(Library& lib) : Object(lib, PKI_CLASS_SIGNING_CERTIFICATE) {}
    struct Entry {
        bool gost = true;
        std::uint32_t bits = 256;
        std::string hash;  // up to 64 bytes
        std::wstring issuer;
        std::string serial = std::string(20, '\0');
        bool given = false;
    };
    std::vector<Entry> entries;
    std::string certificateHash = std::string(64, '\x5A');
    void Retain() { ++refs_; }
    int GetEntryCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNING_CERTIFICATE, 3, "");
        if (c >= 0) return c;
        *count = static_cast<std::uint32_t>(entries.size());
        return 0;
    }
    int GetEntryGOST34311(std::uint32_t index, wchar_t* issuer, std::uint32_t capacity, std::uint8_t* serial,
                          std::uint32_t* given, std::uint8_t* hash) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNING_CERTIFICATE, 4, std::to_string(index));
        if (c >= 0) return c;
        if (index >= entries.size()) return PKI_E_INDEX;
        const Entry& e = entries[index];
        if (!e.gost) return PKI_E_FAILURE;
        if (e.issuer.size() + 1 > capacity) return PKI_E_FAILURE;
        wcscpy(issuer, e.issuer.c_str());
        std::memcpy(serial, e.serial.data(), 20);
        *given = e.given;
        std::memset(hash, 0, 32);
        std::memcpy(hash, e.hash.data(), std::min<std::size_t>(32, e.hash.size()));
        return 0;
    }
    // The general form: an entry that names no issuer and serial gives an
    // empty issuer.
    int GetEntry(std::uint32_t index, std::uint32_t* bits, std::uint8_t* hash, wchar_t* issuer,
                 std::uint8_t* serial) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNING_CERTIFICATE, 5, std::to_string(index));
        if (c >= 0) return c;
        if (index >= entries.size()) return PKI_E_INDEX;
        const Entry& e = entries[index];
        if (e.hash.size() > 64 || e.issuer.size() + 1 > PKI_SIGNER_NAME_BUFFER_CHARS) return PKI_E_FAILURE;
        *bits = e.bits;
        std::memset(hash, 0, 64);
        std::memcpy(hash, e.hash.data(), e.hash.size());
        wcscpy(issuer, e.given ? e.issuer.c_str() : L"");
        std::memcpy(serial, e.serial.data(), 20);
        return 0;
    }
    int HashCertificateGOST34311(IPKIObject*, IPKIObject* parameters, std::uint8_t* hash) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNING_CERTIFICATE, 10, parameters ? "parameters" : "-");
        if (c >= 0) return c;
        std::memcpy(hash, certificateHash.data(), 32);
        return 0;
    }
    int HashCertificate(IPKIObject*, std::uint32_t bits, std::uint8_t* hash) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNING_CERTIFICATE, 11, std::to_string(bits));
        if (c >= 0) return c;
        if (bits % 8 || bits / 8 > certificateHash.size()) return PKI_E_INVALID_ARGUMENT;
        std::memcpy(hash, certificateHash.data(), bits / 8);
        return 0;
    }
    int SetEntryGOST34311(const std::uint8_t* hash, std::uint32_t withIssuer, IPKIObject*,
                          const wchar_t* issuer) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNING_CERTIFICATE, 12, std::to_string(withIssuer));
        if (c >= 0) return c;
        Entry e;
        e.hash.assign(reinterpret_cast<const char*>(hash), 32);
        e.issuer = issuer;
        e.given = withIssuer != 0;
        entries.push_back(e);
        return 0;
    }
    int SetEntry(const std::uint8_t* hash, std::uint32_t bits, std::uint32_t withIssuer, IPKIObject*,
                 const wchar_t* issuer) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNING_CERTIFICATE, 13, std::to_string(bits) + "," + std::to_string(withIssuer));
        if (c >= 0) return c;
        Entry e;
        e.gost = false;
        e.bits = bits;
        e.hash.assign(reinterpret_cast<const char*>(hash), bits / 8);
        e.issuer = issuer;
        e.given = withIssuer != 0;
        entries.push_back(e);
        return 0;
    }
};

// The DSTU signer extension: the public key it names, its times and token.
class CmsSignerExtension final : public Object<IPKISignerExtension> {
public:
    explicit CmsSignerExtension(Library& lib) : Object(lib, 4918) {}
    std::string key = std::string(76, '\x31');
    SYSTEMTIME signingTime{2025, 3, 1, 30, 10, 0, 0, 0}, tokenTime{2025, 3, 1, 30, 10, 5, 0, 0};
    bool hasToken = false;
    std::wstring tokenSigner = L"CN=TSA";
    std::string tokenSerial = std::string(20, '\x07');
    void Retain() { ++refs_; }
    int CheckPublicKey(const std::uint8_t* k, std::uint32_t length, IPKIObject*) override
    {
        int c = lib_.Enter(4918, 6, std::to_string(length), 39);
        if (c >= 0) return c;
        return std::memcmp(k, key.data(), 76) == 0 ? 0 : PKI_E_FAILURE;
    }
    int GetSigningTime(SYSTEMTIME* t) override
    {
        int c = lib_.Enter(4918, 7, "", 39);
        if (c >= 0) return c;
        *t = signingTime;
        return 0;
    }
    int HasTimeStampToken(std::uint32_t* present) override
    {
        int c = lib_.Enter(4918, 9, "", 39);
        if (c >= 0) return c;
        *present = hasToken;
        return 0;
    }
    int GetTimeStampSigner(wchar_t* name, std::uint32_t capacity, std::uint8_t* serial, SYSTEMTIME* time) override
    {
        int c = lib_.Enter(4918, 10, std::to_string(capacity), 39);
        if (c >= 0) return c;
        if (tokenSigner.size() + 1 > capacity) return PKI_E_FAILURE;
        wcscpy(name, tokenSigner.c_str());
        std::memcpy(serial, tokenSerial.data(), 20);
        *time = tokenTime;
        return 0;
    }
};

// A signer: what it was given, and the answers of its reads and
// verifications (a verification holds over `signedContent` or `signedHash`
// with `key`).
class CmsSigner final : public Object<IPKISignerInfo> {
public:
    explicit CmsSigner(Library& lib) : Object(lib, PKI_CLASS_SIGNER_INFO) {}
    ~CmsSigner()
    {
        if (attribute) attribute->Release();
        if (extension) extension->Release();
        if (token) token->Release();
    }
    void Retain() { ++refs_; }
    // Given.
    std::wstring issuer;
    std::string contentType, digestContent, hash, publicKey;
    std::uint32_t value = 0, flag = 0, keyBits = 0, hashBits = 0;
    bool completed = false;
    CmsSigningCertificate* attribute = nullptr;  // held
    // Answers.
    int standard = 1;
    std::uint32_t kind = 1, state = 0;
    bool hasSigningTime = true;
    SYSTEMTIME signingTime{2025, 3, 1, 30, 9, 0, 0, 0};
    CmsSignerExtension* extension = nullptr;  // held; null: absent
    CmsContentInfo* token = nullptr;          // held; null: absent
    std::string key = std::string(76, '\x31');
    std::string signedContent = "content", signedHash = std::string(32, '\x44');
    std::string encoding = "signer";

    int SetIdentifier(std::uint32_t form, IPKIObject* serial, const wchar_t* name, std::uint32_t reserved) override
    {
        int c = lib_.Enter(4918, 4,
                           std::to_string(form) + "," + (serial ? "serial" : "-") + "," + std::to_string(reserved));
        if (c >= 0) return c;
        issuer = name;
        return 0;
    }
    int SetContentType(const char* oid) override
    {
        int c = lib_.Enter(4918, 30, oid);
        if (c >= 0) return c;
        contentType = oid;
        return 0;
    }
    int GetSigningCertificate(void** out) override
    {
        int c = lib_.Enter(4918, 35, "");
        if (c >= 0) return c;
        if (!attribute) return PKI_E_ABSENT;
        attribute->Retain();
        *out = static_cast<IPKISigningCertificate*>(attribute);
        return 0;
    }
    int AttachSigningCertificate(IPKIObject* a) override
    {
        int c = lib_.Enter(4918, 36, "");
        if (c >= 0) return c;
        if (attribute) attribute->Release();
        attribute = static_cast<CmsSigningCertificate*>(static_cast<IPKISigningCertificate*>(a));
        attribute->Retain();
        return 0;
    }
    int HasSignerExtension(std::uint32_t* present) override
    {
        int c = lib_.Enter(4918, 38, "");
        if (c >= 0) return c;
        *present = extension != nullptr;
        return 0;
    }
    int GetSignerExtension(void** out) override
    {
        int c = lib_.Enter(4918, 39, "");
        if (c >= 0) return c;
        if (!extension) return PKI_E_ABSENT;
        extension->Retain();
        *out = static_cast<IPKISignerExtension*>(extension);
        return 0;
    }
    int UsesStandardAttributes() override
    {
        int c = lib_.Enter(4918, 40, "");
        return c >= 0 ? c : standard;
    }
    int GetSigningTime(SYSTEMTIME* t) override
    {
        int c = lib_.Enter(4918, 41, "");
        if (c >= 0) return c;
        if (!hasSigningTime) return PKI_E_ABSENT;
        *t = signingTime;
        return 0;
    }
    int HasTimeStampToken(std::uint32_t* present) override
    {
        int c = lib_.Enter(4918, 47, "");
        if (c >= 0) return c;
        *present = token != nullptr;
        return 0;
    }
    int GetTimeStampToken(void** out) override;
    int SetPublicKey(const std::uint8_t* k, std::uint32_t length, IPKIObject*) override
    {
        int c = lib_.Enter(4918, 72, std::to_string(length));
        if (c >= 0) return c;
        publicKey.assign(reinterpret_cast<const char*>(k), 76);
        return 0;
    }
    int SetNumericValue(std::uint32_t v) override
    {
        int c = lib_.Enter(4918, 73, std::to_string(v));
        if (c >= 0) return c;
        value = v;
        return 0;
    }
    int SetFlag(std::uint32_t f) override
    {
        int c = lib_.Enter(4918, 74, std::to_string(f));
        if (c >= 0) return c;
        flag = f;
        return 0;
    }
    int SetContentDigestGOST34311(const std::uint8_t* k, std::uint32_t length, IPKIObject*,
                                  const PKIBlob* content) override
    {
        int c = lib_.Enter(4918, 75, std::to_string(length) + "," + std::to_string(content->length));
        if (c >= 0) return c;
        publicKey.assign(reinterpret_cast<const char*>(k), 76);
        digestContent.assign(reinterpret_cast<const char*>(content->data), content->length);
        return 0;
    }
    int SetHashGOST34311(const std::uint8_t* h) override
    {
        int c = lib_.Enter(4918, 76, "");
        if (c >= 0) return c;
        hash.assign(reinterpret_cast<const char*>(h), 32);
        return 0;
    }
    int VerifyData(const std::uint8_t* k, std::uint32_t length, IPKIObject*, const PKIBlob* data) override
    {
        int c = lib_.Enter(4918, 80, std::to_string(length) + "," + std::to_string(data ? data->length : 0));
        if (c >= 0) return c;
        return KeyMatches(k) && data && Bytes(*data) == signedContent ? 0 : PKI_E_FAILURE;
    }
    int VerifyEncapsulated(const std::uint8_t* k, std::uint32_t length, IPKIObject*) override
    {
        int c = lib_.Enter(4918, 81, std::to_string(length));
        if (c >= 0) return c;
        return KeyMatches(k) ? 0 : PKI_E_FAILURE;
    }
    // Signing: the time written and the private key the signer signed with.
    std::string signedWith;
    int SetSigningTime(const SYSTEMTIME* t) override
    {
        int c = lib_.Enter(4918, 42, "");
        if (c >= 0) return c;
        signingTime = *t;
        return 0;
    }
    int SignWithKey(const std::uint8_t* k, std::uint32_t length, IPKIObject*) override
    {
        int c = lib_.Enter(4918, 79, std::to_string(length));
        if (c >= 0) return c;
        signedWith.assign(reinterpret_cast<const char*>(k), length);
        return 0;
    }
    int CompleteAfterFlag() override
    {
        int c = lib_.Enter(4918, 82, "");
        if (c >= 0) return c;
        completed = true;
        return 0;
    }
    int VerifyHashGOST34311(const std::uint8_t* k, std::uint32_t length, IPKIObject*, const std::uint8_t* h) override
    {
        int c = lib_.Enter(4918, 83, std::to_string(length));
        if (c >= 0) return c;
        return KeyMatches(k) && std::memcmp(h, signedHash.data(), 32) == 0 ? 0 : PKI_E_FAILURE;
    }
    int SetRSAKeyData(const std::uint8_t* fields, std::uint32_t kb, std::uint32_t hb) override
    {
        int c = lib_.Enter(4918, 84, std::to_string(kb) + "," + std::to_string(hb));
        if (c >= 0) return c;
        publicKey.assign(reinterpret_cast<const char*>(fields), 2 * PKI_KEY_FIELD_BYTES);
        keyBits = kb;
        hashBits = hb;
        return 0;
    }
    int SetContentDigestRSA(const std::uint8_t* fields, std::uint32_t kb, std::uint32_t hb,
                            const PKIBlob* content) override
    {
        int c =
            lib_.Enter(4918, 85, std::to_string(kb) + "," + std::to_string(hb) + "," + std::to_string(content->length));
        if (c >= 0) return c;
        publicKey.assign(reinterpret_cast<const char*>(fields), 2 * PKI_KEY_FIELD_BYTES);
        keyBits = kb;
        hashBits = hb;
        digestContent.assign(reinterpret_cast<const char*>(content->data), content->length);
        return 0;
    }
    int SetHashRSA(const std::uint8_t* fields, std::uint32_t kb, std::uint32_t hb, const std::uint8_t* h) override
    {
        int c = lib_.Enter(4918, 86, std::to_string(kb) + "," + std::to_string(hb));
        if (c >= 0) return c;
        publicKey.assign(reinterpret_cast<const char*>(fields), 2 * PKI_KEY_FIELD_BYTES);
        keyBits = kb;
        hashBits = hb;
        hash.assign(reinterpret_cast<const char*>(h), hb / 8);
        return 0;
    }
    int VerifyDataRSA(const std::uint8_t* fields, std::uint32_t kb, const PKIBlob* data) override
    {
        int c = lib_.Enter(4918, 90, std::to_string(kb) + "," + std::to_string(data ? data->length : 0));
        if (c >= 0) return c;
        return FieldsMatch(fields) && data && Bytes(*data) == signedContent ? 0 : PKI_E_FAILURE;
    }
    std::string verifyHash;
    int VerifyHashRSA(const std::uint8_t* fields, std::uint32_t kb) override
    {
        int c = lib_.Enter(4918, 92, std::to_string(kb));
        if (c >= 0) return c;
        return FieldsMatch(fields) && verifyHash == signedHash ? 0 : PKI_E_FAILURE;
    }
    int GetKeyKind(std::uint32_t* k) override
    {
        int c = lib_.Enter(4918, 93, "");
        if (c >= 0) return c;
        *k = kind;
        return 0;
    }
    int GetState() override
    {
        int c = lib_.Enter(4918, 94, "");
        return c >= 0 ? c : static_cast<int>(state);
    }
    int EncodeSigner(PKIBlob* out) override
    {
        int c = lib_.Enter(4918, 95, "");
        return c >= 0 ? c : CopyToBlob(lib_, encoding, out);
    }
    int SetVerifyHashRSA(const std::uint8_t* h) override
    {
        int c = lib_.Enter(4918, 98, "");
        if (c >= 0) return c;
        verifyHash.assign(reinterpret_cast<const char*>(h), signedHash.size());
        return 0;
    }
    // The RSA key the verifications hold with (the certificate's fields).
    std::string rsaFields = std::string(2 * PKI_KEY_FIELD_BYTES, '\x41');

private:
    static std::string Bytes(const PKIBlob& b) { return std::string(reinterpret_cast<const char*>(b.data), b.length); }
    bool KeyMatches(const std::uint8_t* k) const { return std::memcmp(k, key.data(), 76) == 0; }
    bool FieldsMatch(const std::uint8_t* f) const { return std::memcmp(f, rsaFields.data(), rsaFields.size()) == 0; }
};

// A signed-data message: its signers (held), digest OIDs, type and content.
class CmsSignedData final : public Object<IPKISignedDataSigners> {
public:
    explicit CmsSignedData(Library& lib) : Object(lib, PKI_CLASS_SIGNED_DATA) {}
    ~CmsSignedData()
    {
        for (CmsSigner* s : signers) s->Release();
    }
    void Retain() { ++refs_; }
    std::vector<CmsSigner*> signers;
    std::vector<std::string> digests;
    std::string type = "1.2.840.113549.1.7.1";
    bool hasContent = true;
    std::string content = "content";
    std::string encoding = "signed-data";
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 3, "");
        return c >= 0 ? c : CopyToBlob(lib_, encoding, out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 4, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
    int GetCertificate(std::uint32_t, PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    std::uint32_t certificatesAdded = 0;
    int AddCertificate(IPKIObject* certificate) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 7, "");
        if (c >= 0) return c;
        if (!certificate) return PKI_E_INVALID_ARGUMENT;
        ++certificatesAdded;
        return 0;
    }
    int GetSignerCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 10, "");
        if (c >= 0) return c;
        *count = static_cast<std::uint32_t>(signers.size());
        return 0;
    }
    int GetSigner(std::uint32_t index, void** signer) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 11, std::to_string(index));
        if (c >= 0) return c;
        if (index >= signers.size()) return PKI_E_INDEX;
        signers[index]->Retain();
        *signer = static_cast<IPKISignerInfo*>(signers[index]);
        return 0;
    }
    int AddSigner(IPKIObject* signer) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 12, "");
        if (c >= 0) return c;
        auto* s = static_cast<CmsSigner*>(static_cast<IPKISignerInfo*>(signer));
        s->Retain();
        signers.push_back(s);
        return 0;
    }
    int HasContent(std::uint32_t* present) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 15, "");
        if (c >= 0) return c;
        *present = hasContent;
        return 0;
    }
    int GetContentType(char* oid, std::uint32_t* length) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 16, std::to_string(*length));
        if (c >= 0) return c;
        if (type.size() + 1 > *length) return PKI_E_FAILURE;
        std::memcpy(oid, type.c_str(), type.size() + 1);
        *length = static_cast<std::uint32_t>(type.size());
        return 0;
    }
    int SetContentType(const char* oid) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 17, oid);
        if (c >= 0) return c;
        type = oid;
        return 0;
    }
    int GetContent(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 18, "");
        if (c >= 0) return c;
        return hasContent ? CopyToBlob(lib_, content, out) : PKI_E_ABSENT;
    }
    int SetContent(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 19, std::to_string(in->length));
        if (c >= 0) return c;
        content.assign(reinterpret_cast<const char*>(in->data), in->length);
        hasContent = true;
        return 0;
    }
    int AddDigestAlgorithm(const char* oid) override
    {
        int c = lib_.Enter(PKI_CLASS_SIGNED_DATA, 23, oid);
        if (c >= 0) return c;
        digests.push_back(oid);
        return 0;
    }
};

inline int CmsContentInfo::SetContentObject(IPKIObject* object)
{
    int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 8, "");
    if (c >= 0) return c;
    if (inner) inner->Release();
    static_cast<CmsSignedData*>(static_cast<IPKISignedDataSigners*>(object))->Retain();
    inner = object;
    return 0;
}

inline int CmsSigner::GetTimeStampToken(void** out)
{
    int c = lib_.Enter(4918, 48, "");
    if (c >= 0) return c;
    if (!token) return PKI_E_ABSENT;
    token->Retain();
    *out = static_cast<IPKICMSContentInfo*>(token);
    return 0;
}

// A key object whose public key (slot 6) the test sets.
class CmsKey final : public Object<IPKIKeyObject> {
public:
    explicit CmsKey(Library& lib) : Object(lib, 4893) {}
    std::string publicKey = std::string(76, '\x32');
    std::uint32_t length = 33;
    int GetPublicKey(std::uint8_t* key, std::uint32_t* l, void** parameters) override
    {
        int c = lib_.Enter(4893, 6, "");
        if (c >= 0) return c;
        std::memcpy(key, publicKey.data(), 76);
        *l = length;
        if (parameters) *parameters = static_cast<IPKIEncoded*>(new Encoded(lib_, "key parameters"));
        return 0;
    }
    // The private key a signer signs with (library-allocated), without
    // parameters; a key without one (the default) cannot sign.
    std::string privateKey;
    int GetKeyValue(PKIBlob* value, void** parameters) override
    {
        if (privateKey.empty()) return PKI_E_NOT_IMPLEMENTED;
        int c = lib_.Enter(4893, 7, "");
        if (c >= 0) return c;
        if (parameters) *parameters = nullptr;
        return CopyToBlob(lib_, privateKey, value);
    }
};

// A serial-number object (class 4877, interface 4111).
class CmsInteger final : public Object<IPKIInteger> {
public:
    explicit CmsInteger(Library& lib) : Object(lib, PKI_CLASS_INTEGER) {}
    std::string value;
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_INTEGER, 3, "");
        return c >= 0 ? c : CopyToBlob(lib_, value, out);
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_INTEGER, 4, std::to_string(in->length));
        if (c >= 0) return c;
        value.assign(reinterpret_cast<const char*>(in->data), in->length);
        return 0;
    }
};

// What the signed-data makers created, newest last (valid while held).
struct CmsMade {
    std::vector<CmsSignedData*> messages;
    std::vector<CmsSigner*> signers;
    std::vector<CmsSigningCertificate*> attributes;
    std::vector<CmsContentInfo*> infos;
    // Run on each new object before the operation sees it.
    std::function<void(CmsSignedData&)> prepareMessage;
    std::function<void(CmsContentInfo&)> prepareInfo;
};

// Makes CreateObject hand out the signed-data objects above (and an encoded
// INTEGER for the serial-number objects); `made` records them.
inline void UseSignedDataObjects(Library& lib, CmsMade& made)
{
    lib.makers[{PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA}] = [&lib, &made]() -> void* {
        made.messages.push_back(new CmsSignedData(lib));
        if (made.prepareMessage) made.prepareMessage(*made.messages.back());
        return static_cast<IPKISignedDataSigners*>(made.messages.back());
    };
    lib.makers[{PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO}] = [&lib, &made]() -> void* {
        made.infos.push_back(new CmsContentInfo(lib));
        made.infos.back()->offers.insert(PKI_IID_CONTENT_INFO);
        if (made.prepareInfo) made.prepareInfo(*made.infos.back());
        return static_cast<IPKICMSContentInfo*>(made.infos.back());
    };
    lib.makers[{PKI_CLASS_SIGNER_INFO, PKI_IID_SIGNER_INFO}] = [&lib, &made]() -> void* {
        made.signers.push_back(new CmsSigner(lib));
        return static_cast<IPKISignerInfo*>(made.signers.back());
    };
    lib.makers[{PKI_CLASS_SIGNING_CERTIFICATE, PKI_IID_SIGNING_CERTIFICATE}] = [&lib, &made]() -> void* {
        made.attributes.push_back(new CmsSigningCertificate(lib));
        return static_cast<IPKISigningCertificate*>(made.attributes.back());
    };
    lib.makers[{PKI_CLASS_INTEGER, PKI_IID_INTEGER}] = [&lib]() -> void* {
        return static_cast<IPKIInteger*>(new CmsInteger(lib));
    };
}

}  // namespace fake::families

// Profile requests: the extension values the facade builds for a request.
// Each setter logs its arguments (wide texts as their ASCII bytes), so a test
// reads what was set, in which order, from the call log.
namespace fake::profile {

inline std::string Ascii(const wchar_t* w)
{
    std::string s;
    for (; w && *w; ++w) s += static_cast<char>(*w);
    return s;
}

class AltName final : public Object<IPKIAltNameBuilder> {
public:
    explicit AltName(Library& lib) : Object(lib, PKI_CLASS_ALT_NAME) {}
    int AddName(std::uint32_t kind, const char* value) override
    {
        int c = lib_.Enter(PKI_CLASS_ALT_NAME, 4, std::to_string(kind) + "," + value);
        return c >= 0 ? c : 0;
    }
};

class PolicyQualifier final : public ViewOf<IPKIPolicyQualifier> {
public:
    PolicyQualifier(IPKIObject* owner, Library& lib) : ViewOf(owner), lib_(lib) {}
    int AddQualifiedPolicy(const char* oid, const wchar_t* qualifier) override
    {
        int c =
            lib_.Enter(PKI_CLASS_POLICY_SET, 5, std::string(oid) + "," + Ascii(qualifier), PKI_IID_POLICY_QUALIFIER);
        return c >= 0 ? c : 0;
    }

private:
    Library& lib_;
};

class Policies final : public Object<IPKIPolicySet> {
public:
    explicit Policies(Library& lib) : Object(lib, PKI_CLASS_POLICY_SET)
    {
        AddView(this, PKI_IID_POLICY_QUALIFIER, new PolicyQualifier(this, lib));
    }
    int AddPolicy(const char* oid) override
    {
        int c = lib_.Enter(PKI_CLASS_POLICY_SET, 4, oid);
        return c >= 0 ? c : 0;
    }
};

class BasicConstraints final : public Object<IPKIBasicConstraints> {
public:
    explicit BasicConstraints(Library& lib) : Object(lib, PKI_CLASS_BASIC_CONSTRAINTS) {}
    int GetCA(std::uint32_t* ca) override { return *ca = ca_, 0; }
    int GetPathLength(std::uint32_t* pathLength) override { return *pathLength = pathLength_, 0; }
    int SetCA(std::uint32_t ca) override
    {
        int c = lib_.Enter(PKI_CLASS_BASIC_CONSTRAINTS, 5, std::to_string(ca));
        return c >= 0 ? c : (ca_ = ca, 0);
    }
    int SetPathLength(std::uint32_t pathLength) override
    {
        int c = lib_.Enter(PKI_CLASS_BASIC_CONSTRAINTS, 6, std::to_string(pathLength));
        return c >= 0 ? c : (pathLength_ = pathLength, 0);
    }

private:
    std::uint32_t ca_ = 0, pathLength_ = 0;
};

class QCEuropean final : public ViewOf<IPKIStatements> {
public:
    QCEuropean(IPKIObject* owner, Library& lib) : ViewOf(owner), lib_(lib) {}
    int GetFlagA(std::uint32_t*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetFlagB(std::uint32_t*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetTextFlag(std::uint32_t*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetText(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int AddEuropeanStatement() override { return Log(12, ""); }
    int AddSecureDeviceStatement() override { return Log(15, ""); }
    int SetQCType(const char* oid) override { return Log(19, oid); }
    int SetSemanticsIdentifier(const char* oid) override { return Log(23, oid); }

private:
    int Log(std::uint32_t op, const std::string& args)
    {
        int c = lib_.Enter(PKI_CLASS_QC_STATEMENTS, op, args, PKI_IID_QC_EUROPEAN);
        return c >= 0 ? c : 0;
    }
    Library& lib_;
};

class QCPDSLocation final : public ViewOf<IPKIQCPDSLocation> {
public:
    QCPDSLocation(IPKIObject* owner, Library& lib) : ViewOf(owner), lib_(lib) {}
    int SetLocation(const char* language, const wchar_t* location) override
    {
        int c = lib_.Enter(PKI_CLASS_QC_STATEMENTS, 28, std::string(language) + "," + Ascii(location), PKI_IID_QC_PDS);
        return c >= 0 ? c : 0;
    }

private:
    Library& lib_;
};

class QCLegislation final : public ViewOf<IPKIQCLegislation> {
public:
    QCLegislation(IPKIObject* owner, Library& lib) : ViewOf(owner), lib_(lib) {}
    int SetLegislation(const wchar_t* text) override
    {
        int c = lib_.Enter(PKI_CLASS_QC_STATEMENTS, 33, Ascii(text), PKI_IID_QC_LEGISLATION);
        return c >= 0 ? c : 0;
    }

private:
    Library& lib_;
};

class QCStatements final : public Object<IPKIQCStatements> {
public:
    explicit QCStatements(Library& lib) : Object(lib, PKI_CLASS_QC_STATEMENTS)
    {
        AddView(this, PKI_IID_QC_EUROPEAN, new QCEuropean(this, lib));
        AddView(this, PKI_IID_QC_PDS, new QCPDSLocation(this, lib));
        AddView(this, PKI_IID_QC_LEGISLATION, new QCLegislation(this, lib));
    }
    int AddNationalStatement() override
    {
        int c = lib_.Enter(PKI_CLASS_QC_STATEMENTS, 5, "");
        return c >= 0 ? c : 0;
    }
    int SetLimit(const wchar_t* currency, std::uint32_t amount, std::uint32_t exponent) override
    {
        int c = lib_.Enter(PKI_CLASS_QC_STATEMENTS, 9,
                           Ascii(currency) + "," + std::to_string(amount) + "," + std::to_string(exponent));
        return c >= 0 ? c : 0;
    }
};

class DirectorySetter final : public ViewOf<IPKIDirectoryAttributes> {
public:
    DirectorySetter(IPKIObject* owner, Library& lib) : ViewOf(owner), lib_(lib) {}
    int ReadValues(std::uint32_t, const char* const*, void**) override { return PKI_E_NOT_IMPLEMENTED; }
    // Logs "oid=value" for each attribute, joined by ";".
    int SetValues(std::uint32_t count, const char* const* oids, const wchar_t* const* values) override
    {
        std::string args;
        for (std::uint32_t i = 0; i < count; ++i)
            args += (i ? ";" : "") + std::string(oids[i]) + "=" + Ascii(values[i]);
        int c = lib_.Enter(PKI_CLASS_DIRECTORY_SET, 49, args, PKI_IID_DIRECTORY_ATTRIBUTES);
        return c >= 0 ? c : 0;
    }

private:
    Library& lib_;
};

class DirectorySet final : public Object<IPKIObject> {
public:
    explicit DirectorySet(Library& lib) : Object(lib, PKI_CLASS_DIRECTORY_SET)
    {
        AddView(this, PKI_IID_DIRECTORY_ATTRIBUTES, new DirectorySetter(this, lib));
    }
};

// Interface 4178 of an extension list: logs the usages of the
// extended-key-usage object it is given (fake::ExtKeyUsage).
class RequestedExtensions final : public ViewOf<IPKIRequestedExtensions> {
public:
    RequestedExtensions(IPKIObject* owner, Library& lib) : ViewOf(owner), lib_(lib) {}
    int SetExtKeyUsage(IPKIObject* usage) override
    {
        auto* eku = static_cast<ExtKeyUsage*>(static_cast<IPKIExtKeyUsage*>(usage));
        int c = lib_.Enter(PKI_CLASS_EXTENSION_SET, 5, eku->usages, PKI_IID_REQUESTED_EXTENSIONS);
        return c >= 0 ? c : 0;
    }

private:
    Library& lib_;
};

class ExtensionSet final : public Object<IPKIObject> {
public:
    explicit ExtensionSet(Library& lib) : Object(lib, PKI_CLASS_EXTENSION_SET)
    {
        AddView(this, PKI_IID_REQUESTED_EXTENSIONS, new RequestedExtensions(this, lib));
    }
};

// A request whose requested extensions are a fresh extension list, or absent.
class Request final : public Object<IPKIRequest> {
public:
    explicit Request(Library& lib) : Object(lib, PKI_CLASS_REQUEST) {}
    bool hasExtensions = true;
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetKeyKind(std::uint32_t*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetRequestedExtensions(void** extensions) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 94, "");
        if (c >= 0) return c;
        if (!hasExtensions) return PKI_E_ABSENT;
        *extensions = static_cast<IPKIObject*>(new ExtensionSet(lib_));
        return 0;
    }
    int SetRequestedExtensions(IPKIObject* extensions) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 97, extensions ? "list" : "none");
        return c >= 0 ? c : 0;
    }
};

// Makes CreateObject hand out the extension values above.
inline void UseProfileObjects(Library& lib)
{
    lib.makers[{PKI_CLASS_ALT_NAME, PKI_IID_ALT_NAME}] = [&lib]() -> void* {
        return static_cast<IPKIAltNameBuilder*>(new AltName(lib));
    };
    lib.makers[{PKI_CLASS_POLICY_SET, PKI_IID_POLICY_SET}] = [&lib]() -> void* {
        return static_cast<IPKIPolicySet*>(new Policies(lib));
    };
    lib.makers[{PKI_CLASS_BASIC_CONSTRAINTS, PKI_IID_BASIC_CONSTRAINTS}] = [&lib]() -> void* {
        return static_cast<IPKIBasicConstraints*>(new BasicConstraints(lib));
    };
    lib.makers[{PKI_CLASS_QC_STATEMENTS, PKI_IID_QC_STATEMENTS}] = [&lib]() -> void* {
        return static_cast<IPKIQCStatements*>(new QCStatements(lib));
    };
    lib.makers[{PKI_CLASS_DIRECTORY_SET, PKI_IID_DIRECTORY_SET}] = [&lib]() -> void* {
        return static_cast<IPKIObject*>(new DirectorySet(lib));
    };
    lib.makers[{PKI_CLASS_EXTENSION_SET, PKI_IID_EXTENSION_SET}] = [&lib]() -> void* {
        return static_cast<IPKIObject*>(new ExtensionSet(lib));
    };
    lib.makers[{PKI_CLASS_EXT_KEY_USAGE, PKI_IID_EXT_KEY_USAGE}] = [&lib]() -> void* {
        return static_cast<IPKIExtKeyUsage*>(new ExtKeyUsage(lib));
    };
}

}  // namespace fake::profile

// ---- Request and certificate field texts ----

namespace fake::fields {

// A wide text handed out as the library does: one that does not fit is
// refused and *length tells its length.
inline int HandOutWide(const std::wstring& t, wchar_t* text, std::uint32_t* length)
{
    if (t.size() + 1 > *length) {
        *length = static_cast<std::uint32_t>(t.size());
        return PKI_E_INVALID_ARGUMENT;
    }
    std::wmemcpy(text, t.c_str(), t.size() + 1);
    *length = static_cast<std::uint32_t>(t.size());
    return 0;
}

// A request's list of wide texts (class 4950).
class TextList final : public Object<IPKITextList> {
public:
    TextList(Library& lib, std::vector<std::wstring> texts) : Object(lib, 4950), texts_(std::move(texts)) {}
    int GetCount(std::uint32_t* count) override
    {
        int c = lib_.Enter(4950, 3, "");
        if (c >= 0) return c;
        *count = static_cast<std::uint32_t>(texts_.size());
        return 0;
    }
    int GetText(std::uint32_t index, wchar_t* text, std::uint32_t* length) override
    {
        int c = lib_.Enter(4950, 4, std::to_string(index));
        if (c >= 0) return c;
        if (index >= texts_.size()) return PKI_E_INDEX;
        return HandOutWide(texts_[index], text, length);
    }

private:
    std::vector<std::wstring> texts_;
};

// A request's text-and-value item (class 4951): the values handed back are
// kept in the script.
class TextValue final : public Object<IPKITextValue> {
public:
    TextValue(Library& lib, std::wstring text, std::vector<std::uint32_t>& values)
        : Object(lib, 4951), text_(std::move(text)), values_(values)
    {
    }
    int GetText(wchar_t* text, std::uint32_t* length) override
    {
        int c = lib_.Enter(4951, 3, "");
        if (c >= 0) return c;
        return HandOutWide(text_, text, length);
    }
    int SetValue(std::uint32_t value) override
    {
        int c = lib_.Enter(4951, 5, std::to_string(value));
        if (c >= 0) return c;
        values_.push_back(value);
        return 0;
    }

private:
    std::wstring text_;
    std::vector<std::uint32_t>& values_;
};

// Directory attributes read item by item: items 1 to 7 that the map holds
// are present.
class DirectoryItems final : public Object<IPKIDirectoryAttributes> {
public:
    DirectoryItems(Library& lib, std::map<int, std::wstring> items) : Object(lib, 4918), items_(std::move(items)) {}
#define QVK_FAKE_DIRECTORY_ITEM(n)                                                                                     \
    int HasItem##n(std::uint32_t* present) override                                                                    \
    {                                                                                                                  \
        return Has(n, present);                                                                                        \
    }                                                                                                                  \
    int GetItem##n##Text(wchar_t* text, std::uint32_t* length) override                                                \
    {                                                                                                                  \
        return Text(n, text, length);                                                                                  \
    }
    QVK_FAKE_DIRECTORY_ITEM(1)
    QVK_FAKE_DIRECTORY_ITEM(2)
    QVK_FAKE_DIRECTORY_ITEM(3)
    QVK_FAKE_DIRECTORY_ITEM(4)
    QVK_FAKE_DIRECTORY_ITEM(5)
    QVK_FAKE_DIRECTORY_ITEM(6)
    QVK_FAKE_DIRECTORY_ITEM(7)
#undef QVK_FAKE_DIRECTORY_ITEM
    int ReadValues(std::uint32_t, const char* const*, void**) override
    {
        return PKI_E_NOT_IMPLEMENTED;
    }

private:
    int Has(int n, std::uint32_t* present)
    {
        int c = lib_.Enter(4918, 17 + 4 * (n - 1), "");
        if (c >= 0) return c;
        *present = items_.count(n) ? 1 : 0;
        return 0;
    }
    int Text(int n, wchar_t* text, std::uint32_t* length)
    {
        int c = lib_.Enter(4918, 18 + 4 * (n - 1), "");
        if (c >= 0) return c;
        auto it = items_.find(n);
        return it == items_.end() ? PKI_E_FAILURE : HandOutWide(it->second, text, length);
    }
    std::map<int, std::wstring> items_;
};

// What a field-text request or certificate hands out. A part whose answer is
// not 0 answers that code instead (PKI_E_ABSENT: the part is not there).
struct FieldsScript {
    std::wstring subject = L"CN=Holder;C=UA";  // request slot 7; the certificate's common name
    int subjectNameAnswer = 0;                 // the subject name object (its values: nameValues)
    int namesAnswer = PKI_E_ABSENT;
    std::vector<std::pair<std::uint32_t, std::wstring>> names;
    int itemsAnswer = PKI_E_ABSENT;
    std::map<int, std::wstring> items;
    std::string keyIdentifier;  // the request's own / the certificate's subject key identifier; empty: none
    // Request only.
    int list1Answer = PKI_E_ABSENT, list2Answer = PKI_E_ABSENT;
    std::vector<std::wstring> list1, list2;
    int firstPeriodAnswer = PKI_E_ABSENT, secondPeriodAnswer = PKI_E_ABSENT;
    SYSTEMTIME firstFrom{}, firstTo{}, secondFrom{}, secondTo{};
    int entriesAnswer = PKI_E_ABSENT;
    std::vector<std::string> entries;
    int textValueAnswer = PKI_E_ABSENT;
    std::wstring textValue;
    std::vector<std::uint32_t> valuesSet;
    // Certificate only.
    std::uint32_t keyKind = 1;
    int constraintsAnswer = PKI_E_ABSENT;
    std::uint32_t ca = 0;
    int usagesAnswer = PKI_E_ABSENT;
    std::vector<std::string> usages;
};

inline int HandOut(Library& lib, std::uint32_t classId, std::uint32_t slot, const void* self, int answer,
                   const std::function<IPKIObject*()>& make, void** out)
{
    int c = lib.Enter(classId, slot, "", 0, self);
    if (c >= 0) return c;
    if (answer != 0) return answer;
    *out = make();
    return 0;
}

class Request final : public Object<IPKIRequestKeys> {
public:
    Request(Library& lib, FieldsScript& s) : Object(lib, PKI_CLASS_REQUEST), s_(s) {}
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int GetKeyKind(std::uint32_t* kind) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 13, "", 0, this);
        if (c >= 0) return c;
        *kind = 1;
        return 0;
    }
    int GetSubjectText(wchar_t* text, std::uint32_t* length) override
    {
        int c = lib_.Enter(PKI_CLASS_REQUEST, 7, "", 0, this);
        return c >= 0 ? c : HandOutWide(s_.subject, text, length);
    }
    int GetSubject(void** name) override
    {
        return HandOut(
            lib_, PKI_CLASS_REQUEST, 9, this, s_.subjectNameAnswer,
            [&] { return static_cast<IPKIName*>(new Name(lib_)); }, name);
    }
    int GetAltNames(void** names) override
    {
        return HandOut(
            lib_, PKI_CLASS_REQUEST, 79, this, s_.namesAnswer,
            [&] { return static_cast<IPKIGeneralNames*>(new GeneralNames(lib_, s_.names)); }, names);
    }
    int GetFirstTextList(void** list) override
    {
        return HandOut(
            lib_, PKI_CLASS_REQUEST, 49, this, s_.list1Answer,
            [&] { return static_cast<IPKITextList*>(new TextList(lib_, s_.list1)); }, list);
    }
    int GetSecondTextList(void** list) override
    {
        return HandOut(
            lib_, PKI_CLASS_REQUEST, 52, this, s_.list2Answer,
            [&] { return static_cast<IPKITextList*>(new TextList(lib_, s_.list2)); }, list);
    }
    int GetDirectoryAttributes(void** items) override
    {
        return HandOut(
            lib_, PKI_CLASS_REQUEST, 82, this, s_.itemsAnswer,
            [&] { return static_cast<IPKIDirectoryAttributes*>(new DirectoryItems(lib_, s_.items)); }, items);
    }
    int GetKeyIdentifier(void** identifier) override
    {
        return HandOut(
            lib_, PKI_CLASS_REQUEST, 88, this, s_.keyIdentifier.empty() ? PKI_E_ABSENT : 0,
            [&] {
                return static_cast<IPKIAttribute*>(
                    new BytesValue(lib_, std::vector<std::uint8_t>(s_.keyIdentifier.begin(), s_.keyIdentifier.end())));
            },
            identifier);
    }
    int GetFirstPeriod(void** period) override
    {
        return HandOut(
            lib_, PKI_CLASS_REQUEST, 46, this, s_.firstPeriodAnswer,
            [&] { return static_cast<IPKIKeyUsagePeriod*>(new KeyUsagePeriodValue(lib_, s_.firstFrom, s_.firstTo)); },
            period);
    }
    int GetSecondPeriod(void** period) override
    {
        return HandOut(
            lib_, PKI_CLASS_REQUEST, 70, this, s_.secondPeriodAnswer,
            [&] { return static_cast<IPKIKeyUsagePeriod*>(new KeyUsagePeriodValue(lib_, s_.secondFrom, s_.secondTo)); },
            period);
    }
    // The entry list is read as a list of texts by index.
    int GetStatementList(void** list) override
    {
        return HandOut(
            lib_, PKI_CLASS_REQUEST, 61, this, s_.entriesAnswer,
            [&] { return static_cast<IPKIOIDList*>(new OIDList(lib_, s_.entries)); }, list);
    }
    int GetTextValueItem(void** item) override
    {
        return HandOut(
            lib_, PKI_CLASS_REQUEST, 98, this, s_.textValueAnswer,
            [&] { return static_cast<IPKITextValue*>(new TextValue(lib_, s_.textValue, s_.valuesSet)); }, item);
    }

private:
    FieldsScript& s_;
};

class Certificate final : public Object<IPKICertificate> {
public:
    Certificate(Library& lib, FieldsScript& s) : Object(lib, PKI_CLASS_CERTIFICATE), s_(s)
    {
        offers.insert(PKI_IID_CERTIFICATE);
    }
    int GetPolicies(void**) override { return PKI_E_ABSENT; }
    int GetSubjectRecord(PKINameRecord* record) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 17, "", 0, this);
        if (c >= 0) return c;
        *record = PKINameRecord{};
        std::wcsncpy(record->commonName, s_.subject.c_str(), PKI_NAME_COMMON_NAME_CHARS - 1);
        std::wcscpy(record->country, L"UA");
        return 0;
    }
    int GetSubject(void** name) override
    {
        return HandOut(
            lib_, PKI_CLASS_CERTIFICATE, 19, this, s_.subjectNameAnswer,
            [&] { return static_cast<IPKIName*>(new Name(lib_)); }, name);
    }
    int GetKeyKind(std::uint32_t* kind) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 23, "", 0, this);
        if (c >= 0) return c;
        *kind = s_.keyKind;
        return 0;
    }
    // The modulus is bytes 1, 2, 3, ... of its 600-byte field.
    int GetRSAPublicKey(std::uint8_t* fields, std::uint32_t* bits) override
    {
        int c = lib_.Enter(PKI_CLASS_CERTIFICATE, 29, "", 0, this);
        if (c >= 0) return c;
        for (int i = 0; i < 1200; ++i) fields[i] = i < 600 ? static_cast<std::uint8_t>(i + 1) : 0;
        *bits = 2048;
        return 0;
    }
    int GetBasicConstraints(void** constraints) override
    {
        return HandOut(
            lib_, PKI_CLASS_CERTIFICATE, 53, this, s_.constraintsAnswer,
            [&] { return static_cast<IPKIBasicConstraints*>(new BasicConstraints(lib_, s_.ca)); }, constraints);
    }
    int GetExtKeyUsages(void** list) override
    {
        return HandOut(
            lib_, PKI_CLASS_CERTIFICATE, 71, this, s_.usagesAnswer,
            [&] { return static_cast<IPKIOIDList*>(new OIDList(lib_, s_.usages)); }, list);
    }
    int GetSubjectDirectoryAttributes(void** items) override
    {
        return HandOut(
            lib_, PKI_CLASS_CERTIFICATE, 77, this, s_.itemsAnswer,
            [&] { return static_cast<IPKIDirectoryAttributes*>(new DirectoryItems(lib_, s_.items)); }, items);
    }
    int GetSubjectAltNameList(void** names) override
    {
        return HandOut(
            lib_, PKI_CLASS_CERTIFICATE, 92, this, s_.namesAnswer,
            [&] { return static_cast<IPKIGeneralNames*>(new GeneralNames(lib_, s_.names)); }, names);
    }
    int GetSubjectKeyId(void** identifier) override
    {
        return HandOut(
            lib_, PKI_CLASS_CERTIFICATE, 95, this, s_.keyIdentifier.empty() ? PKI_E_ABSENT : 0,
            [&] { return static_cast<IPKIKeyIdentifier*>(new KeyIdentifier(lib_, s_.keyIdentifier)); }, identifier);
    }

private:
    FieldsScript& s_;
};

}  // namespace fake::fields

// ---- Opening a content info into a content container ----
namespace fake {

// A content container: notes which content it was given (slot 5 data, 6
// signed data, 7 enveloped data); a second one is refused.
class ContentBox final : public Object<IPKIContentContainer> {
public:
    explicit ContentBox(Library& lib) : Object(lib, PKI_CLASS_CONTENT_CONTAINER) {}
    std::uint32_t storedSlot = 0;
    int StoreData(IPKIObject* o) override { return Store(5, o); }
    int StoreSignedData(IPKIObject* o) override { return Store(6, o); }
    int StoreEnvelopedData(IPKIObject* o) override { return Store(7, o); }

private:
    int Store(std::uint32_t slot, IPKIObject* o)
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_CONTAINER, slot, "");
        if (c >= 0) return c;
        if (!o || storedSlot) return PKI_E_INVALID_ARGUMENT;
        storedSlot = slot;
        return 0;
    }
};

// A content info of a scripted content type whose content object (of class
// `contentClass` only) the test makes.
class OpeningContentInfo final : public Object<IPKICMSContentInfo> {
public:
    OpeningContentInfo(Library& lib, std::string type, std::uint32_t contentClass, std::function<void*()> content)
        : Object(lib, PKI_CLASS_CONTENT_INFO), type_(std::move(type)), class_(contentClass),
          content_(std::move(content))
    {
    }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 4, std::to_string(in->length));
        return c >= 0 ? c : 0;
    }
    int GetContentType(PKIBlob* oid) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 5, "");
        if (c >= 0) return c;
        int rc = CopyToBlob(lib_, type_ + std::string(1, '\0'), oid);
        if (rc == 0) oid->length = static_cast<std::uint32_t>(type_.size());
        return rc;
    }
    int GetContentObject(std::uint32_t classId, std::uint32_t interfaceId, void** object) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 7, std::to_string(classId) + "," + std::to_string(interfaceId));
        if (c >= 0) return c;
        if (classId != class_) return PKI_E_INVALID_ARGUMENT;
        *object = content_();
        return 0;
    }

private:
    std::string type_;
    std::uint32_t class_;
    std::function<void*()> content_;
};

// Makes CreateObject hand out a content container (the last one made in
// *box) and a content info of `type` whose content `content` makes.
inline void UseContentOpening(Library& lib, const std::string& type, std::uint32_t contentClass,
                              std::function<void*()> content, ContentBox** box)
{
    lib.makers[{PKI_CLASS_CONTENT_CONTAINER, PKI_IID_CONTENT_CONTAINER}] = [&lib, box]() -> void* {
        auto* b = new ContentBox(lib);
        if (box) *box = b;
        return static_cast<IPKIContentContainer*>(b);
    };
    lib.makers[{PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO}] = [&lib, type, contentClass, content]() -> void* {
        return static_cast<IPKICMSContentInfo*>(new OpeningContentInfo(lib, type, contentClass, content));
    };
}

}  // namespace fake

// Tagged content: the plain content the reader is handed, holding one data
// content (4901 / 4138) that slot 4 gives out.
namespace fake {

class DataContentSource final : public Object<IPKIDataContentSource> {
public:
    DataContentSource(Library& lib, IPKIDataContent* data) : Object(lib, PKI_CLASS_CONTENT_INFO), data_(data) {}
    ~DataContentSource()
    {
        if (data_) data_->Release();
    }
    int GetDataContent(void** data) override
    {
        int c = lib_.Enter(PKI_CLASS_CONTENT_INFO, 4, "");
        if (c >= 0) return c;
        if (!data_) return PKI_E_ABSENT;
        data_->QueryInterface(PKI_IID_DATA_CONTENT, data);
        return 0;
    }

private:
    IPKIDataContent* data_;
};

}  // namespace fake
