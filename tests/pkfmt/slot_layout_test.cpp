// Callers reach every operation of the formats library by its slot, so each
// used operation must sit exactly where the callers expect it. Under the
// Itanium C++ ABI a pointer to a virtual member function holds 1 + the byte
// offset of its entry in the virtual table.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "VirtualSlot.h"
#include "support/PKIInterface.h"

namespace {

using qvktest::SlotOf;

#define EXPECT_SLOT(member, slot) EXPECT_EQ(SlotOf(&member), std::ptrdiff_t{slot}) << #member

TEST(PkfmtSlotLayout, EveryObjectStartsWithReleaseAndQuery)
{
    EXPECT_SLOT(IPKIObject::Release, 1);
    EXPECT_SLOT(IPKIObject::QueryInterface, 2);
    // Through each derived interface as well: no interface may shift them.
    EXPECT_SLOT(IPKIInterface::Release, 1);
    EXPECT_SLOT(IPKIKeyContainer::QueryInterface, 2);
    EXPECT_SLOT(IPKIEncodedKey::Release, 1);
}

TEST(PkfmtSlotLayout, InterfaceObject)
{
    EXPECT_SLOT(IPKIInterface::GetVersion, 3);
    EXPECT_SLOT(IPKIInterface::SetCSP, 4);
    EXPECT_SLOT(IPKIInterface::AllocateBlob, 6);
    EXPECT_SLOT(IPKIInterface::FreeBlob, 7);
    EXPECT_SLOT(IPKIInterface::CreateObject, 10);
    EXPECT_SLOT(IPKIInterface::ReadNameRecord, 13);
    EXPECT_SLOT(IPKIInterface::HashNameGOST34311, 15);
    EXPECT_SLOT(IPKIInterface::HashNameSHA, 16);
    EXPECT_SLOT(IPKIInterface::KeyIdentifier, 17);
    EXPECT_SLOT(IPKIInterface::KeyIdentifierWithSBox, 18);
    EXPECT_SLOT(IPKIInterface::PublicKeyIdentifier, 28);
    EXPECT_SLOT(IPKIInterface::HasOptionA, 33);
    EXPECT_SLOT(IPKIInterface::HasOptionB, 34);
    EXPECT_SLOT(IPKIInterface::ConvertThreeNew, 38);
}

TEST(PkfmtSlotLayout, ContainerObjects)
{
    EXPECT_SLOT(IPKIKeyContainer::Encode, 3);
    EXPECT_SLOT(IPKIKeyContainer::Decode, 4);
    EXPECT_SLOT(IPKIKeyContainer::GetItemCount, 5);
    EXPECT_SLOT(IPKIKeyContainer::GetItem, 6);
    EXPECT_SLOT(IPKIKeyContainer::AddItem, 7);
    EXPECT_SLOT(IPKIKeyContainer::RemoveItem, 8);
    EXPECT_SLOT(IPKIKeyContainer::SetPassword, 15);
    EXPECT_SLOT(IPKIKeyContainer::CheckPassword, 16);
    EXPECT_SLOT(IPKIKeyContainer::IsProtected, 17);
    EXPECT_SLOT(IPKIKeyContainer::GetProtectionValue, 19);
    EXPECT_SLOT(IPKIKeyContainer::SetProtectionValue, 20);
    EXPECT_SLOT(IPKIKeyContainer::GetItemAttribute, 21);
    EXPECT_SLOT(IPKIKeyContainer::AddItemAttribute, 22);

    EXPECT_SLOT(IPKIEntryList::GetEntryCount, 5);
    EXPECT_SLOT(IPKIEntryList::GetEntry, 6);
    EXPECT_SLOT(IPKIEntryList::AddEntry, 7);
    EXPECT_SLOT(IPKIEntryList::RemoveEntry, 8);
    EXPECT_SLOT(IPKIItemAttributes::GetAttribute, 20);

    EXPECT_SLOT(IPKIPrivateKey::Encode, 3);
    EXPECT_SLOT(IPKIPrivateKey::Decode, 4);
    EXPECT_SLOT(IPKIPrivateKey::SetKey, 5);
    EXPECT_SLOT(IPKIPrivateKey::Open, 6);
    EXPECT_SLOT(IPKIPrivateKey::OpenConverted, 7);
    EXPECT_SLOT(IPKIPrivateKey::SetFormat, 12);
    EXPECT_SLOT(IPKIPrivateKey::SetProtectionValue, 13);
    EXPECT_SLOT(IPKIPrivateKey::GetProtectionValue, 14);

    EXPECT_SLOT(IPKIAttribute::GetValue, 3);
    EXPECT_SLOT(IPKIAttribute::SetValue32, 4);
    EXPECT_SLOT(IPKIAttribute::GetValueWithLength, 5);
    EXPECT_SLOT(IPKIAttribute::SetValue, 6);
}

TEST(PkfmtSlotLayout, KeyExportAndKeyBlobHeader)
{
    EXPECT_SLOT(IPKIKey::SetKeyData, 10);
    EXPECT_SLOT(IPKIKey::GetUsageWords, 45);
    EXPECT_SLOT(IPKIKeyExport::GetUsage, 3);
    EXPECT_SLOT(IPKIKeyExport::Export, 4);
    EXPECT_SLOT(IPKIKeyExport::SetDSTU4145Part, 5);
    EXPECT_SLOT(IPKIKeyBlobHeader::ReadLengths, 3);
}

TEST(PkfmtSlotLayout, CertificatesAndCmsContent)
{
    EXPECT_SLOT(IPKICertificate::Encode, 3);
    EXPECT_SLOT(IPKICertificate::Decode, 4);
    EXPECT_SLOT(IPKICertificate::GetSerial, 7);
    EXPECT_SLOT(IPKICertificate::GetIssuer, 13);
    EXPECT_SLOT(IPKICertificate::GetValidity, 15);
    EXPECT_SLOT(IPKICertificate::GetSubjectRecord, 17);
    EXPECT_SLOT(IPKICertificate::GetSubject, 19);
    EXPECT_SLOT(IPKICertificate::GetKeyKind, 23);
    EXPECT_SLOT(IPKICertificate::GetKeyParameterKind, 24);
    EXPECT_SLOT(IPKICertificate::GetDSTU4145PublicKey, 25);
    EXPECT_SLOT(IPKICertificate::GetRSAPublicKey, 29);
    EXPECT_SLOT(IPKICertificate::GetPolicies, 76);
    EXPECT_SLOT(IPKICertificate::GetKeyUsage, 83);
    EXPECT_SLOT(IPKICertificate::GetSubjectKeyId, 95);
    EXPECT_SLOT(IPKICertificate::GetDisplayName, 105);
    EXPECT_SLOT(IPKIName::Encode, 3);
    EXPECT_SLOT(IPKIKeyUsage::GetBits, 3);
    EXPECT_SLOT(IPKIKeyIdentifier::GetIdentifier, 5);
    EXPECT_SLOT(IPKIInteger::Encode, 3);
    EXPECT_SLOT(IPKIInteger::Decode, 4);
    EXPECT_SLOT(IPKIContentInfo::GetContentType, 5);
    EXPECT_SLOT(IPKIContentInfo::GetContent, 6);
    EXPECT_SLOT(IPKISignedData::Decode, 4);
    EXPECT_SLOT(IPKISignedData::GetCertificate, 5);
    EXPECT_SLOT(IPKICertificateEC::GetECPublicKey, 3);
}

TEST(PkfmtSlotLayout, KeysAndParameters)
{
    EXPECT_SLOT(IPKIKey::GetKeyValue, 7);
    EXPECT_SLOT(IPKIKey::SetKeyValue, 8);
    EXPECT_SLOT(IPKIKey::GetSBox, 43);
    EXPECT_SLOT(IPKIKey::SetSBox, 44);
    EXPECT_SLOT(IPKIEncodedKey::GetEncodedKeyValue, 61);
    EXPECT_SLOT(IPKIEncodedKey::SetEncodedKeyValue, 62);

    EXPECT_SLOT(IPKIKeySet::GetKeyCount, 46);
    EXPECT_SLOT(IPKIKeySet::AddKey, 47);
    EXPECT_SLOT(IPKIKeySet::GetKey, 48);
    EXPECT_SLOT(IPKIKeySet::SetValue, 58);
    EXPECT_SLOT(IPKIKeySet::GetValue, 59);
    EXPECT_SLOT(IPKIKeySet::RemoveValue, 60);

    EXPECT_SLOT(IPKIParameters::GetParameters, 5);
    EXPECT_SLOT(IPKIParameters::SetExplicit, 7);
    EXPECT_SLOT(IPKIParameters::SetStandard, 8);
    EXPECT_SLOT(IPKIParameters::GetName, 11);
    EXPECT_SLOT(IPKIParameters::SetName, 12);
    EXPECT_SLOT(IPKIParameters::GetBlock, 13);
    EXPECT_SLOT(IPKIParameters::SetBlock, 14);

    EXPECT_SLOT(IPKICodec::Encode, 3);
    EXPECT_SLOT(IPKICodec::Decode, 4);
    EXPECT_SLOT(IPKICodec::Attach, 5);

    EXPECT_SLOT(IPKIGOST28147Parameters::GetParameters, 3);
    EXPECT_SLOT(IPKIGOST28147Parameters::SetParameters, 4);
}

TEST(PkfmtSlotLayout, BlockRecordAndHeaderHelpers)
{
    // {u32 length, pointer}: the pointer follows the length at pointer alignment.
    EXPECT_EQ(offsetof(PKIBlob, length), 0u);
    EXPECT_EQ(offsetof(PKIBlob, data), alignof(void*));

    std::uint8_t block[PKI_BUILTIN_PARAMETER_BLOCK_BYTES];
    PKIBuiltInParameterBlock(block);
    const std::uint32_t head[5] = {1021, 5, 2, 1, 4};
    for (int i = 0; i < 5; ++i) {
        std::uint32_t word;
        std::memcpy(&word, block + 4 * i, 4);
        EXPECT_EQ(word, head[i]) << "word " << i;
    }
}

}  // namespace
