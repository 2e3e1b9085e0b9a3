// Callers reach the facade's operations and the library's objects by their
// positions in the virtual tables, so every position is checked here.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "VirtualSlot.h"
#include "pkiformats/SPKIFormats.h"

using pkif_detail::PositionOf;
using qvktest::SlotOf;

// Positions that callers outside the facade fix, written out here so that a
// moved line in the operation list fails to compile.
// clang-format off
static_assert(PositionOf("ReadFileToBlob") == 0);
static_assert(PositionOf("WriteBlobToFile") == 1);
static_assert(PositionOf("AllocateMemory") == 2);
static_assert(PositionOf("FreeMemory") == 3);
static_assert(PositionOf("AllocateBlob") == 4);
static_assert(PositionOf("ReleaseBlob") == 5);
static_assert(PositionOf("BlobsEqual") == 6);
static_assert(PositionOf("CompareSystemTimes") == 7);
static_assert(PositionOf("UniversalToLocalTime") == 8);
static_assert(PositionOf("LocalToUniversalTime") == 9);
static_assert(PositionOf("GetFormatsInterface") == 10);
static_assert(PositionOf("GetCSP") == 11);
static_assert(PositionOf("ComposeNameText") == 12);
static_assert(PositionOf("ParseNameText") == 13);
static_assert(PositionOf("ConvertNameText") == 14);
static_assert(PositionOf("ConvertNameTextLimited") == 15);
static_assert(PositionOf("CreateKeyContainerObject") == 16);
static_assert(PositionOf("AddSignatureKeyToContainer") == 17);
static_assert(PositionOf("AddAgreementKeyToContainer") == 18);
static_assert(PositionOf("SetContainerKeyIdentifier20") == 19);
static_assert(PositionOf("SaveKeyContainerWithSBox") == 20);
static_assert(PositionOf("BuildDSTU4145KeyContainer") == 21);
static_assert(PositionOf("ForwardToOperation380") == 22);
static_assert(PositionOf("CreateRequestForKeyIdDefault") == 23);
static_assert(PositionOf("CreateHolderRecord") == 24);
static_assert(PositionOf("GetPublicKeyParameters") == 25);
static_assert(PositionOf("GetPublicKeyParameterPair") == 26);
static_assert(PositionOf("BuildCertificate") == 27);
static_assert(PositionOf("GetHolderRecordKey") == 28);
static_assert(PositionOf("ReadHolderRecord") == 29);
static_assert(PositionOf("BuildCertificateFromHolderRecord") == 30);
static_assert(PositionOf("CreateKeyPartsRecord") == 31);
static_assert(PositionOf("SetKeyPartsWords") == 32);
static_assert(PositionOf("AppendKeyPart") == 33);
static_assert(PositionOf("GetKeyPartsWords") == 34);
static_assert(PositionOf("GetKeyPart") == 35);
static_assert(PositionOf("CopyKeyPart") == 36);
static_assert(PositionOf("BuildCertificateFromHolderData") == 37);
static_assert(PositionOf("BuildCertificateEx") == 38);
static_assert(PositionOf("ReadKeyContainer") == 39);
static_assert(PositionOf("SaveKeyContainer") == 40);
static_assert(PositionOf("CheckKeyContextKeyPair") == 41);
static_assert(PositionOf("DecodeCertificate") == 42);
static_assert(PositionOf("ReissueCertificate") == 43);
static_assert(PositionOf("VerifyCertificateSignature") == 44);
static_assert(PositionOf("DecodeObject4873") == 45);
static_assert(PositionOf("VerifyWithCertificateKey") == 46);
static_assert(PositionOf("VerifyRequestSelfSignature") == 47);
static_assert(PositionOf("GetKeysAndExtras") == 48);
static_assert(PositionOf("GetKeyAndExtra") == 49);
static_assert(PositionOf("GetRequestFieldTexts") == 50);
static_assert(PositionOf("GetCertificatePolicyLevel") == 51);
static_assert(PositionOf("ForwardObjectOperation16") == 52);
static_assert(PositionOf("GetObjectValue15") == 53);
static_assert(PositionOf("ForwardToOperation566") == 54);
static_assert(PositionOf("CertificateMatchesRequest") == 55);
static_assert(PositionOf("PrivateKeyMatchesCertificate") == 56);
static_assert(PositionOf("PrivateKeyMatchesRequest") == 57);
static_assert(PositionOf("IsSelfIssuedCertificate") == 58);
static_assert(PositionOf("BuildNameObject") == 59);
static_assert(PositionOf("DecodeObject4869") == 60);
static_assert(PositionOf("GetRequestTexts") == 61);
static_assert(PositionOf("VerifyWithIssuerKey") == 62);
static_assert(PositionOf("VerifyDataSignature") == 63);
static_assert(PositionOf("SetObjectItemAndCheck") == 64);
static_assert(PositionOf("GetCertificateFieldTexts") == 65);
static_assert(PositionOf("GetObjectNameText") == 66);
static_assert(PositionOf("ForwardObjectOperation25") == 67);
static_assert(PositionOf("GetObjectValue29") == 68);
static_assert(PositionOf("GetEffectiveKeyUsage") == 69);
static_assert(PositionOf("SetObjectItem71") == 70);
static_assert(PositionOf("SetObjectItem56") == 71);
static_assert(PositionOf("GetBasicConstraints") == 72);
static_assert(PositionOf("GetDistributionURL") == 73);
static_assert(PositionOf("GetCertificatePolicyQualifier") == 74);
static_assert(PositionOf("GetAuthorityAccessURLs") == 75);
static_assert(PositionOf("HasExtendedKeyUsages") == 76);
static_assert(PositionOf("GetCertificateRole") == 77);
static_assert(PositionOf("Hash32ToText") == 78);
static_assert(PositionOf("TextToHash32") == 79);
static_assert(PositionOf("Serial20ToText") == 80);
static_assert(PositionOf("TextToSerial20") == 81);
static_assert(PositionOf("HexPairToByte") == 82);
static_assert(PositionOf("BytesToText") == 83);
static_assert(PositionOf("KeyUsageToText") == 84);
static_assert(PositionOf("ExtKeyUsagesToText") == 85);
static_assert(PositionOf("PolicyToText") == 86);
static_assert(PositionOf("BuildDataContentInfo") == 87);
static_assert(PositionOf("ForwardToOperation524") == 88);
static_assert(PositionOf("ForwardToOperation484") == 89);
static_assert(PositionOf("VerifySignerByFamily") == 90);
static_assert(PositionOf("OpenAndVerifySigner") == 91);
static_assert(PositionOf("ResultCodeToText") == 92);
static_assert(PositionOf("OrderKindToText") == 93);
static_assert(PositionOf("DecodeObject4875WithItems") == 94);
static_assert(PositionOf("BuildObject4898") == 95);
static_assert(PositionOf("ReturnOne") == 96);
static_assert(PositionOf("LoadObject4876") == 97);
static_assert(PositionOf("GetItemPresent") == 98);
static_assert(PositionOf("AttachObject4877") == 99);
static_assert(PositionOf("GetItemMatches") == 100);
static_assert(PositionOf("AddCertificateItems") == 101);
static_assert(PositionOf("DecodeObject4875") == 102);
static_assert(PositionOf("CheckObjectAgainstCertificate") == 103);
static_assert(PositionOf("GetObjectTexts") == 104);
static_assert(PositionOf("SetObjectEntryItems") == 105);
static_assert(PositionOf("MakeCounterRecord") == 106);
static_assert(PositionOf("BuildObject4905") == 107);
static_assert(PositionOf("ForwardToOperation635") == 108);
static_assert(PositionOf("GetObjectAndSet") == 109);
static_assert(PositionOf("BuildTimeStampContent") == 110);
static_assert(PositionOf("MakeBigEndianPair") == 111);
static_assert(PositionOf("DecodeTimeStampContent") == 112);
static_assert(PositionOf("SetObjectItems") == 113);
static_assert(PositionOf("ForwardToOperation190") == 114);
static_assert(PositionOf("VerifySignerByCertificateKind") == 115);
static_assert(PositionOf("TimeStampPolicyToText") == 116);
static_assert(PositionOf("ReadTimeStampInfo") == 117);
static_assert(PositionOf("CreateSignedDataObject") == 118);
static_assert(PositionOf("AttachCertificate") == 119);
static_assert(PositionOf("WrapSignedData") == 120);
static_assert(PositionOf("DecodeSignedDataContentInfo") == 121);
static_assert(PositionOf("GetListCertificate") == 122);
static_assert(PositionOf("RevocationReasonToText") == 123);
static_assert(PositionOf("GetHolderKeyUsage") == 152);
static_assert(PositionOf("FillCertificateInfo") == 227);
static_assert(PositionOf("FreeCertificateInfo") == 228);
static_assert(PositionOf("MakeReferenceRecordForValue") == 229);
static_assert(PositionOf("CopyAsCertificate") == 232);
static_assert(PositionOf("BigNumber600ToText") == 233);
static_assert(PositionOf("HasOwnAgreementParameters") == 234);
static_assert(PositionOf("MakeDSTU4145ParameterObject") == 246);
static_assert(PositionOf("SetContainerSBox") == 248);
static_assert(PositionOf("FindCertificateByIssuerSerial") == 253);
static_assert(PositionOf("FindCertificateBySubject") == 254);
static_assert(PositionOf("IsCurveSupported") == 255);
static_assert(PositionOf("HolderDataEqual") == 262);
static_assert(PositionOf("ReadHolderDataFromRequest") == 263);
static_assert(PositionOf("GetRequestKindAndItem") == 264);
static_assert(PositionOf("GetEncodedRequestKindAndItem") == 265);
static_assert(PositionOf("KeyMatchesCertificate") == 288);
static_assert(PositionOf("FindCertificateInListByKeyIdentifier") == 289);
static_assert(PositionOf("MakeReferenceRecord") == 290);
static_assert(PositionOf("GetAltNameURI") == 311);
static_assert(PositionOf("HolderDataVersionByLength") == 313);
static_assert(PositionOf("HolderDataSizeByVersion") == 314);
static_assert(PositionOf("EncodedObjectsEqual") == 315);
static_assert(PositionOf("MakeContainerWithDSTU4145Key") == 319);
static_assert(PositionOf("MakeSignatureKeyContainer") == 320);
static_assert(PositionOf("MakeAgreementKeyContainer") == 321);
static_assert(PositionOf("MakeRSAKeyContainer") == 322);
static_assert(PositionOf("PutSignatureKeyIntoContainer") == 323);
static_assert(PositionOf("PutAgreementKeyIntoContainer") == 324);
static_assert(PositionOf("PutRSAKeyIntoContainer") == 325);
static_assert(PositionOf("ReadPKCS12WithFlag") == 335);
static_assert(PositionOf("MakeContainerForIdentifier") == 350);
static_assert(PositionOf("SetKeyContainerMode") == 363);
static_assert(PositionOf("CompleteKeyContainer") == 366);
static_assert(PositionOf("OpenFileHandle") == 367);
static_assert(PositionOf("FindFirstFileEntry") == 368);
static_assert(PositionOf("FindNextFileEntry") == 369);
static_assert(PositionOf("GetNameAttributeMaxLength") == 370);
static_assert(PositionOf("AllocateNameAttributeBuffers") == 371);
static_assert(PositionOf("FreeMemoryArray") == 372);
static_assert(PositionOf("SetSignerVersionByIssuerSerial") == 378);
static_assert(PositionOf("GetObjectItem50") == 379);
static_assert(PositionOf("SignKeyRequest") == 380);
static_assert(PositionOf("ReadPrivateKeyAnyFormat") == 381);
static_assert(PositionOf("ExportPrivateKey") == 383);
static_assert(PositionOf("IsKeyIncomplete") == 384);
static_assert(PositionOf("CreateRequestForKeyId") == 578);
static_assert(PositionOf("GetCertificateMarker") == 592);
static_assert(PositionOf("SetTimeConversionDisabled") == 594);
static_assert(PositionOf("DecodeTimeStampInfo") == 631);
static_assert(PositionOf("GetSingleSignerIdentity") == 632);
// clang-format on

TEST(FacadeSlots, InterfaceHasNoVirtualDestructorAndSlotZeroReadsAFile)
{
    static_assert(!std::has_virtual_destructor_v<ISPKIFormats>);
    static_assert(!std::is_destructible_v<ISPKIFormats>);  // protected
    static_assert(sizeof(ISPKIFormats) == sizeof(void*));
    EXPECT_EQ(SlotOf(&ISPKIFormats::ReadFileToBlob), 0);
    EXPECT_EQ(SlotOf(&ISPKIFormats::WriteBlobToFile), 1);
    EXPECT_EQ(SlotOf(&ISPKIFormats::SetTimeConversionDisabled), 594);
}

TEST(FacadeSlots, EveryOperationSitsAtItsListedPosition)
{
    int checked = 0;
#define QVK_CHECK(pos, name)                                                                                           \
    EXPECT_EQ(SlotOf(&ISPKIFormats::name), pos) << #name;                                                              \
    ++checked;
#define QVK_PKIF_OP(pos, how, ret, name, params) QVK_CHECK(pos, name)
#define QVK_PKIF_SIGNED(pos, how, ret, name, params) QVK_CHECK(pos, name)
#define QVK_PKIF_PENDING(pos, how, name) QVK_CHECK(pos, name)
#define QVK_PKIF_RESERVED(pos) QVK_CHECK(pos, Reserved##pos)
#include "pkiformats/ISPKIFormatsOperations.def"
#undef QVK_PKIF_OP
#undef QVK_PKIF_SIGNED
#undef QVK_PKIF_PENDING
#undef QVK_PKIF_RESERVED
#undef QVK_CHECK
    EXPECT_EQ(checked, 664);
    SPKIFormats facade(nullptr, nullptr, nullptr);
    EXPECT_EQ(facade.GetOperationCount(), 664u);
    EXPECT_EQ(static_cast<ISPKIFormats&>(facade).GetOperationCount(), 664u);
}

// The operations that later work will build: each answers 0 until then. The
// list is printed so that none is forgotten; its length changes only when an
// operation is built (or a reserved slot gets its operation).
TEST(FacadeSlots, OperationsNotBuiltYetAnswerZero)
{
    SPKIFormats facade(nullptr, nullptr, nullptr);
    ISPKIFormats& f = facade;
    std::vector<std::string> built, pending, reserved;
#define QVK_PKIF_OP(pos, how, ret, name, params) built.push_back(#name);
#define QVK_PKIF_SIGNED(pos, how, ret, name, params) pending.push_back(#name);
#define QVK_PKIF_PENDING(pos, how, name)                                                                               \
    EXPECT_EQ(f.name(), 0) << #name;                                                                                   \
    pending.push_back(#name);
#define QVK_PKIF_RESERVED(pos)                                                                                         \
    EXPECT_EQ(f.Reserved##pos(), 0);                                                                                   \
    reserved.push_back("Reserved" #pos);
#include "pkiformats/ISPKIFormatsOperations.def"
#undef QVK_PKIF_OP
#undef QVK_PKIF_SIGNED
#undef QVK_PKIF_PENDING
#undef QVK_PKIF_RESERVED
    std::string all;
    for (const std::string& n : pending) all += n + " ";
    RecordProperty("pending", all);
    EXPECT_EQ(built.size() + pending.size() + reserved.size(), 664u);
    EXPECT_EQ(built.size(), 72u);
    EXPECT_EQ(reserved.size(), 64u);
    PKIBlob blob{0, nullptr};
    std::uint32_t format = 9;
    EXPECT_EQ(f.ReadPrivateKeyAnyFormat(&blob, "", 1, &format, nullptr), 0);
    EXPECT_EQ(format, 9u);
}

TEST(FacadeSlots, ObjectModelTableMatchesTheDeclarations)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_OBJECT_MODEL_SLOTS(QVK_SLOT)
#undef QVK_SLOT
    EXPECT_EQ(SlotOf(&IPKIInterface::Reserved38), 38);
    EXPECT_EQ(SlotOf(&IPKICertificate::Reserved75), 75);
    static_assert(sizeof(wchar_t) == 4);
    static_assert(sizeof(PKINameRecord) == 4 * (65 + 3 + 129 + 129 + 65 + 65 + 65 + 41 + 33 + 65));
}
