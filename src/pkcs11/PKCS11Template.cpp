#include "pkcs11/PKCS11Template.h"

#include <cstring>
#include <memory>
#include <new>

PKCS11Template::~PKCS11Template()
{
    RemoveAll();
}

CK_RV PKCS11Template::CloneItemsInto(PKCS11Template* copy) const
{
    copy->showHidden_ = showHidden_;
    for (CK_ULONG i = 0; i < count_; ++i) {
        // Copying stops at the first attribute that cannot be copied.
        if (!copy->AddAttribute(items_[i].attribute, items_[i].flags | ITEM_COPY)) break;
    }
    return CKR_OK;
}

CK_RV PKCS11Template::Clone(PKCS11Template** out) const
{
    if (out == nullptr) return CKR_ARGUMENTS_BAD;
    auto* copy = new (std::nothrow) PKCS11Template();
    if (copy == nullptr) return CKR_HOST_MEMORY;
    CloneItemsInto(copy);
    *out = copy;
    return CKR_OK;
}

bool PKCS11Template::FindIndex(CK_ATTRIBUTE_TYPE type, CK_ULONG* index) const
{
    for (CK_ULONG i = 0; i < count_; ++i) {
        if (items_[i].attribute->GetType() == type) {
            if (index != nullptr) *index = i;
            return true;
        }
    }
    return false;
}

bool PKCS11Template::GetItem(CK_ULONG index, PKCS11Attribute** attribute, std::uint32_t* flags) const
{
    if (index >= count_) return false;
    if (attribute != nullptr) *attribute = items_[index].attribute;
    if (flags != nullptr) *flags = items_[index].flags;
    return true;
}

PKCS11Attribute* PKCS11Template::FindAttribute(CK_ATTRIBUTE_TYPE type) const
{
    CK_ULONG index = 0;
    return FindIndex(type, &index) ? items_[index].attribute : nullptr;
}

bool PKCS11Template::AddAttribute(PKCS11Attribute* attribute, std::uint32_t flags)
{
    if (attribute == nullptr) return false;
    PKCS11Attribute* stored = attribute;
    if ((flags & ITEM_COPY) != 0 && attribute->Clone(&stored) != CKR_OK) return false;
    if (count_ == capacity_) {
        const CK_ULONG grown = capacity_ == 0 ? 4 : capacity_ * 2;
        auto* more = new (std::nothrow) Item[grown];
        if (more == nullptr) {
            if (stored != attribute) stored->Release();
            return false;
        }
        for (CK_ULONG i = 0; i < count_; ++i) more[i] = items_[i];
        delete[] items_;
        items_ = more;
        capacity_ = grown;
    }
    stored->RebindHookContext(this);
    items_[count_++] = Item{stored, flags & ~std::uint32_t(ITEM_COPY)};
    return true;
}

PKCS11Attribute* PKCS11Template::AddNew(CK_ATTRIBUTE_TYPE type, std::uint32_t flags)
{
    PKCS11Attribute* made = nullptr;
    if (CreateAttributeForType(type, &made) != CKR_OK) throw std::bad_alloc();
    if (!AddAttribute(made, flags)) {
        made->Release();
        throw std::bad_alloc();
    }
    return made;
}

void PKCS11Template::RemoveAt(CK_ULONG index)
{
    if (index >= count_) return;
    items_[index].attribute->Release();
    for (CK_ULONG i = index + 1; i < count_; ++i) items_[i - 1] = items_[i];
    --count_;
}

void PKCS11Template::RemoveAll()
{
    for (CK_ULONG i = 0; i < count_; ++i) items_[i].attribute->Release();
    delete[] items_;
    items_ = nullptr;
    count_ = capacity_ = 0;
}

bool PKCS11Template::IsOptional(CK_ULONG index) const
{
    return index < count_ && (items_[index].flags & ITEM_OPTIONAL) != 0;
}

CK_RV PKCS11Template::Apply(const CK_ATTRIBUTE* entries, CK_ULONG count, bool creationChecks, bool useHooks)
{
    if (count > count_) return CKR_TEMPLATE_INCONSISTENT;
    if (count != 0 && entries == nullptr) return CKR_ARGUMENTS_BAD;
    std::unique_ptr<bool[]> given(new (std::nothrow) bool[count_ == 0 ? 1 : count_]());
    if (!given) return CKR_HOST_MEMORY;
    for (CK_ULONG e = 0; e < count; ++e) {
        CK_ULONG index = 0;
        if (!FindIndex(entries[e].type, &index)) return CKR_ATTRIBUTE_TYPE_INVALID;
        if (given[index]) return CKR_TEMPLATE_INCONSISTENT;
        if (entries[e].ulValueLen == 0 && (items_[index].flags & ITEM_OPTIONAL) == 0)
            return CKR_ATTRIBUTE_VALUE_INVALID;
        PKCS11Attribute* attribute = items_[index].attribute;
        const CK_RV rv = useHooks ? attribute->SetValueChecked(entries[e].pValue, entries[e].ulValueLen)
                                  : attribute->SetValue(entries[e].pValue, entries[e].ulValueLen);
        if (rv != CKR_OK) return rv;
        given[index] = true;
    }
    if (creationChecks) {
        for (CK_ULONG i = 0; i < count_; ++i) {
            PKCS11Attribute* attribute = items_[i].attribute;
            if (given[i] || !attribute->IsEmpty()) continue;
            if (attribute->HasDefault()) {
                const CK_RV rv = attribute->ResetToDefault();
                if (rv != CKR_OK) return rv;
            } else if ((items_[i].flags & ITEM_OPTIONAL) == 0) {
                return CKR_TEMPLATE_INCOMPLETE;
            }
        }
    }
    return CKR_OK;
}

CK_RV PKCS11Template::ApplyNewObjectTemplate(const CK_ATTRIBUTE* entries, CK_ULONG count, bool useHooks)
{
    return Apply(entries, count, true, useHooks);
}

CK_RV PKCS11Template::ApplyTemplate(const CK_ATTRIBUTE* entries, CK_ULONG count, bool useHooks)
{
    return Apply(entries, count, false, useHooks);
}

CK_RV PKCS11Template::CopyFrom(const PKCS11Template& other, bool useHooks)
{
    CK_ATTRIBUTE* entries = nullptr;
    CK_ULONG count = 0;
    CK_RV rv = other.ToCkAttributeArray(&entries, &count);
    if (rv != CKR_OK) return rv;
    rv = ApplyTemplate(entries, count, useHooks);
    FreeCkAttributeArray(entries, count);
    return rv;
}

CK_RV PKCS11Template::GetAttributeValues(CK_ATTRIBUTE* entries, CK_ULONG count)
{
    if (count == 0) return CKR_OK;
    if (entries == nullptr) return CKR_ARGUMENTS_BAD;
    CK_RV first = CKR_OK;
    for (CK_ULONG e = 0; e < count; ++e) {
        PKCS11Attribute* attribute = FindAttribute(entries[e].type);
        CK_RV rv = CKR_ATTRIBUTE_TYPE_INVALID;
        if (attribute == nullptr) {
            entries[e].ulValueLen = CK_UNAVAILABLE_INFORMATION;
        } else {
            rv = attribute->GetAttributeValue(entries[e].pValue, &entries[e].ulValueLen);
            if (rv == CKR_OK) continue;
            if (rv != CKR_ATTRIBUTE_SENSITIVE && rv != CKR_ATTRIBUTE_TYPE_INVALID && rv != CKR_BUFFER_TOO_SMALL)
                return rv;
            if (attribute->GetKind() != ATTR_KIND_TEMPLATE && rv != CKR_BUFFER_TOO_SMALL)
                entries[e].ulValueLen = CK_UNAVAILABLE_INFORMATION;
        }
        if (first == CKR_OK) first = rv;
    }
    return first;
}

bool PKCS11Template::Matches(const CK_ATTRIBUTE* pattern, CK_ULONG count) const
{
    if (count == 0) return true;
    if (pattern == nullptr) return false;
    for (CK_ULONG e = 0; e < count; ++e) {
        CK_ULONG index = 0;
        if (!FindIndex(pattern[e].type, &index)) return false;
        if ((items_[index].flags & ITEM_HIDDEN) != 0 && showHidden_ == 0) continue;
        PKCS11Attribute* probe = nullptr;
        if (items_[index].attribute->Clone(&probe) != CKR_OK) return false;
        const bool same = probe->SetValue(pattern[e].pValue, pattern[e].ulValueLen) == CKR_OK &&
                          items_[index].attribute->Equals(*probe);
        probe->Release();
        if (!same) return false;
    }
    return true;
}

bool PKCS11Template::ContainsTemplate(const PKCS11Template& other) const
{
    for (CK_ULONG i = 0; i < other.count_; ++i) {
        const PKCS11Attribute* theirs = other.items_[i].attribute;
        const PKCS11Attribute* mine = FindAttribute(theirs->GetType());
        if (mine == nullptr || !mine->Equals(*theirs)) return false;
    }
    return true;
}

bool PKCS11Template::AttributeEquals(CK_ATTRIBUTE_TYPE type, const PKCS11Template& other) const
{
    const PKCS11Attribute* mine = FindAttribute(type);
    const PKCS11Attribute* theirs = other.FindAttribute(type);
    return mine != nullptr && theirs != nullptr && mine->Equals(*theirs);
}

CK_RV PKCS11Template::ReconcileAttribute(CK_ATTRIBUTE_TYPE type, PKCS11Template& other)
{
    PKCS11Attribute* mine = FindAttribute(type);
    PKCS11Attribute* theirs = other.FindAttribute(type);
    if (mine == nullptr || theirs == nullptr) return CKR_ATTRIBUTE_TYPE_INVALID;
    if (!mine->IsEmpty() && !theirs->IsEmpty())
        return AttributeEquals(type, other) ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID;
    if (mine->IsEmpty() && theirs->IsEmpty()) return CKR_ATTRIBUTE_VALUE_INVALID;
    PKCS11Attribute* from = mine->IsEmpty() ? theirs : mine;
    PKCS11Template* to = mine->IsEmpty() ? this : &other;
    CK_ATTRIBUTE entry{type, const_cast<std::uint8_t*>(from->GetValue()), from->GetLength()};
    return to->ApplyTemplate(&entry, 1, true);
}

CK_RV PKCS11Template::SetAttributes(const CK_ATTRIBUTE* entries, CK_ULONG count)
{
    if (count == 0) return CKR_OK;
    if (entries == nullptr) return CKR_ARGUMENTS_BAD;
    for (CK_ULONG e = 0; e < count; ++e) {
        PKCS11Attribute* attribute = FindAttribute(entries[e].type);
        const bool made = attribute == nullptr;
        if (made) {
            const CK_RV rv = CreateAttributeForType(entries[e].type, &attribute);
            if (rv != CKR_OK) return rv;
        }
        const CK_RV rv = attribute->SetValue(entries[e].pValue, entries[e].ulValueLen);
        if (rv != CKR_OK) {
            if (made) attribute->Release();
            return rv;
        }
        if (made && !AddAttribute(attribute, 0)) {
            attribute->Release();
            return CKR_HOST_MEMORY;
        }
    }
    return CKR_OK;
}

CK_RV PKCS11Template::Serialize(std::uint8_t* out, CK_ULONG* pulLen) const
{
    if (pulLen == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ULONG total = 0;
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) {
            if (out == nullptr) {
                *pulLen = total;
                return CKR_OK;
            }
            if (*pulLen < total) {
                *pulLen = total;
                return CKR_BUFFER_TOO_SMALL;
            }
        }
        CK_ULONG offset = 0;
        for (CK_ULONG i = 0; i < count_; ++i) {
            const Item& item = items_[i];
            if ((item.flags & ITEM_HIDDEN) != 0 && showHidden_ == 0) continue;
            if (item.attribute->IsEmpty()) {
                if ((item.flags & ITEM_OPTIONAL) == 0) return CKR_ATTRIBUTE_VALUE_INVALID;
                continue;
            }
            if (item.attribute->IsDefault()) continue;
            CK_ULONG length = pass == 0 ? 0 : total - offset;
            const CK_RV rv = item.attribute->Serialize(pass == 0 ? nullptr : out + offset, &length);
            if (rv != CKR_OK) return rv;
            offset += length;
        }
        total = offset;
    }
    *pulLen = total;
    return CKR_OK;
}

CK_RV PKCS11Template::DeserializeInOrder(const std::uint8_t* bytes, CK_ULONG length, CK_ULONG* consumed)
{
    if (bytes == nullptr || length == 0 || consumed == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ULONG offset = 0;
    for (CK_ULONG i = 0; i < count_; ++i) {
        PKCS11Attribute* attribute = items_[i].attribute;
        CK_RV rv = CKR_ATTRIBUTE_TYPE_INVALID;
        CK_ULONG used = 0;
        // Bytes ending early: the remaining items are taken as left out.
        if (offset < length) rv = attribute->Deserialize(bytes + offset, length - offset, &used);
        if (rv == CKR_OK) {
            offset += used;
            continue;
        }
        if (rv != CKR_ATTRIBUTE_TYPE_INVALID) return rv;
        if (attribute->HasDefault()) {
            rv = attribute->ResetToDefault();
            if (rv != CKR_OK) return rv;
        } else if ((items_[i].flags & ITEM_OPTIONAL) == 0) {
            return CKR_ATTRIBUTE_TYPE_INVALID;
        }
    }
    *consumed = offset;
    return CKR_OK;
}

CK_RV PKCS11Template::ToCkAttributeArray(CK_ATTRIBUTE** out, CK_ULONG* count) const
{
    if (out == nullptr || count == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ULONG length = 0;
    CK_RV rv = Serialize(nullptr, &length);
    if (rv != CKR_OK) return rv;
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[length == 0 ? 1 : length]);
    if (!buffer) return CKR_HOST_MEMORY;
    rv = Serialize(buffer.get(), &length);
    if (rv != CKR_OK) return rv;
    return ParseSerializedTemplate(buffer.get(), length, out, count);
}

bool PKCS11Template::HasValue(CK_ATTRIBUTE_TYPE type) const
{
    const PKCS11Attribute* attribute = FindAttribute(type);
    return attribute != nullptr && !attribute->IsEmpty();
}

CK_RV PKCS11Template::GetBool(CK_ATTRIBUTE_TYPE type, bool* out) const
{
    const PKCS11Attribute* attribute = FindAttribute(type);
    if (attribute == nullptr) return CKR_ATTRIBUTE_TYPE_INVALID;
    if (attribute->GetKind() != ATTR_KIND_BOOLEAN) return CKR_ATTRIBUTE_VALUE_INVALID;
    return static_cast<const PKCS11BooleanAttribute*>(attribute)->GetBool(out);
}

CK_RV PKCS11Template::GetBoolOr(CK_ATTRIBUTE_TYPE type, bool fallback, bool* out) const
{
    const PKCS11Attribute* attribute = FindAttribute(type);
    if (attribute == nullptr || attribute->IsEmpty()) {
        *out = fallback;
        return CKR_OK;
    }
    return GetBool(type, out);
}

CK_RV PKCS11Template::GetInteger(CK_ATTRIBUTE_TYPE type, CK_ULONG* out) const
{
    const PKCS11Attribute* attribute = FindAttribute(type);
    if (attribute == nullptr) return CKR_ATTRIBUTE_TYPE_INVALID;
    if (attribute->GetKind() != ATTR_KIND_INTEGER) return CKR_ATTRIBUTE_VALUE_INVALID;
    return static_cast<const PKCS11IntegerAttribute*>(attribute)->GetInteger(out);
}

CK_RV PKCS11Template::GetBytes(CK_ATTRIBUTE_TYPE type, const std::uint8_t** out, CK_ULONG* length) const
{
    const PKCS11Attribute* attribute = FindAttribute(type);
    if (attribute == nullptr) return CKR_ATTRIBUTE_TYPE_INVALID;
    if (attribute->GetKind() != ATTR_KIND_BYTES) return CKR_ATTRIBUTE_VALUE_INVALID;
    *out = attribute->GetValue();
    *length = attribute->GetLength();
    return CKR_OK;
}

CK_RV PKCS11Template::GetValueOf(CK_ATTRIBUTE_TYPE type, const std::uint8_t** out, CK_ULONG* length) const
{
    const PKCS11Attribute* attribute = FindAttribute(type);
    if (attribute == nullptr) return CKR_ATTRIBUTE_TYPE_INVALID;
    *out = attribute->GetValue();
    *length = attribute->GetLength();
    return CKR_OK;
}

CK_RV PKCS11Template::GetNestedTemplateOf(CK_ATTRIBUTE_TYPE type, PKCS11Template** out) const
{
    const PKCS11Attribute* attribute = FindAttribute(type);
    if (attribute == nullptr) return CKR_ATTRIBUTE_TYPE_INVALID;
    if (attribute->GetKind() != ATTR_KIND_TEMPLATE) return CKR_ATTRIBUTE_VALUE_INVALID;
    PKCS11Template* nested = static_cast<const PKCS11TemplateAttribute*>(attribute)->GetNestedTemplate();
    if (nested == nullptr) return CKR_ATTRIBUTE_VALUE_INVALID;
    *out = nested;
    return CKR_OK;
}

CK_RV PKCS11Template::SetBoolAttribute(CK_ATTRIBUTE_TYPE type, bool value, bool asDefault)
{
    PKCS11Attribute* attribute = FindAttribute(type);
    if (attribute == nullptr) return CKR_ATTRIBUTE_TYPE_INVALID;
    if (attribute->GetKind() != ATTR_KIND_BOOLEAN) return CKR_ATTRIBUTE_VALUE_INVALID;
    return static_cast<PKCS11BooleanAttribute*>(attribute)->SetBool(value, asDefault);
}

CK_RV PKCS11Template::SetIntegerAttribute(CK_ATTRIBUTE_TYPE type, CK_ULONG value, bool asDefault)
{
    PKCS11Attribute* attribute = FindAttribute(type);
    if (attribute == nullptr) return CKR_ATTRIBUTE_TYPE_INVALID;
    if (attribute->GetKind() != ATTR_KIND_INTEGER) return CKR_ATTRIBUTE_VALUE_INVALID;
    return static_cast<PKCS11IntegerAttribute*>(attribute)->SetInteger(value, asDefault);
}

CK_RV PKCS11Template::SetAttributeHooks(CK_ATTRIBUTE_TYPE type, AttributeSetHook setHook, AttributeGetHook getHook)
{
    PKCS11Attribute* attribute = FindAttribute(type);
    if (attribute == nullptr) return CKR_HOST_MEMORY;
    attribute->SetHooks(this, setHook, getHook);
    return CKR_OK;
}

CK_RV CreateTemplateFromArray(const CK_ATTRIBUTE* entries, CK_ULONG count, PKCS11Template** out)
{
    if (out == nullptr) return CKR_ARGUMENTS_BAD;
    auto* made = new (std::nothrow) PKCS11Template();
    if (made == nullptr) return CKR_HOST_MEMORY;
    const CK_RV rv = made->SetAttributes(entries, count);
    if (rv != CKR_OK) {
        made->Release();
        return rv;
    }
    *out = made;
    return CKR_OK;
}

CK_RV ParseSerializedTemplate(const std::uint8_t* bytes, CK_ULONG length, CK_ATTRIBUTE** out, CK_ULONG* count,
                              unsigned depth)
{
    if (out == nullptr || count == nullptr) return CKR_ARGUMENTS_BAD;
    *out = nullptr;
    *count = 0;
    if (length == 0) return CKR_OK;
    if (bytes == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ATTRIBUTE* entries = nullptr;
    CK_ULONG used = 0, capacity = 0, offset = 0;
    while (offset < length) {
        if (used == capacity) {
            const CK_ULONG grown = capacity == 0 ? 4 : capacity * 2;
            auto* more = new (std::nothrow) CK_ATTRIBUTE[grown];
            if (more == nullptr) {
                FreeCkAttributeArray(entries, used);
                return CKR_HOST_MEMORY;
            }
            for (CK_ULONG i = 0; i < used; ++i) more[i] = entries[i];
            delete[] entries;
            entries = more;
            capacity = grown;
        }
        CK_ULONG consumed = 0;
        const CK_RV rv = DeserializeToCkAttribute(bytes + offset, length - offset, &entries[used], &consumed, depth);
        if (rv != CKR_OK) {
            FreeCkAttributeArray(entries, used);
            return rv;
        }
        ++used;
        offset += consumed;
    }
    *out = entries;
    *count = used;
    return CKR_OK;
}

void FreeCkAttributeArray(CK_ATTRIBUTE* entries, CK_ULONG count)
{
    if (entries == nullptr) return;
    for (CK_ULONG i = 0; i < count; ++i) {
        if (KindOfAttributeType(entries[i].type) == ATTR_KIND_TEMPLATE)
            FreeCkAttributeArray(static_cast<CK_ATTRIBUTE*>(entries[i].pValue),
                                 entries[i].ulValueLen / sizeof(CK_ATTRIBUTE));
        else
            FreeAttributeValue(&entries[i]);
    }
    delete[] entries;
}
