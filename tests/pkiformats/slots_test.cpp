// Callers reach the facade's operations and the library's objects by their
// positions in the virtual tables, so every position is checked here.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

#include "VirtualSlot.h"
#include "pkiformats/SPKIFormats.h"

using pkif_detail::PositionOf;
using qvktest::SlotOf;

// The fixed positions (the list's PINNED lines), written out here so that a
// moved line in the operation list fails to compile.
// clang-format off
inline constexpr pkif_detail::Entry kPinned[] = {
    {0, "ReadFileToBlob", true},
    {1, "WriteBlobToFile", true},
    {2, "AllocateMemory", true},
    {3, "FreeMemory", true},
    {4, "AllocateBlob", true},
    {5, "ReleaseBlob", true},
    {6, "BlobsEqual", true},
    {7, "CompareSystemTimes", true},
    {8, "UniversalToLocalTime", true},
    {9, "LocalToUniversalTime", true},
    {10, "GetFormatsInterface", true},
    {11, "GetCSP", true},
    {12, "ComposeNameText", true},
    {13, "ParseNameText", true},
    {14, "ConvertNameText", true},
    {15, "ConvertNameTextLimited", true},
    {16, "CreateKeyContainerObject", true},
    {17, "AddSignatureKeyToContainer", true},
    {18, "AddAgreementKeyToContainer", true},
    {19, "SetContainerKeyIdentifier20", true},
    {20, "SaveKeyContainerWithSBox", true},
    {21, "BuildDSTU4145KeyContainer", true},
    {22, "ForwardToOperation380", true},
    {23, "CreateRequestForKeyIdDefault", true},
    {24, "CreateHolderRecord", true},
    {25, "GetPublicKeyParameters", true},
    {26, "GetPublicKeyParameterPair", true},
    {27, "BuildCertificate", true},
    {28, "GetHolderRecordKey", true},
    {29, "ReadHolderRecord", true},
    {30, "BuildCertificateFromHolderRecord", true},
    {31, "CreateKeyPartsRecord", true},
    {32, "SetKeyPartsWords", true},
    {33, "AppendKeyPart", true},
    {34, "GetKeyPartsWords", true},
    {35, "GetKeyPart", true},
    {36, "CopyKeyPart", true},
    {37, "BuildCertificateFromHolderData", true},
    {38, "BuildCertificateEx", true},
    {39, "ReadKeyContainer", true},
    {40, "SaveKeyContainer", true},
    {41, "CheckKeyContextKeyPair", true},
    {42, "DecodeCertificate", true},
    {43, "ReissueCertificate", true},
    {44, "VerifyCertificateSignature", true},
    {45, "DecodeObject4873", true},
    {46, "VerifyWithCertificateKey", true},
    {47, "VerifyRequestSelfSignature", true},
    {48, "GetKeysAndExtras", true},
    {49, "GetKeyAndExtra", true},
    {50, "GetRequestFieldTexts", true},
    {51, "GetCertificatePolicyLevel", true},
    {52, "ForwardObjectOperation16", true},
    {53, "GetObjectValue15", true},
    {54, "ForwardToOperation566", true},
    {55, "CertificateMatchesRequest", true},
    {56, "PrivateKeyMatchesCertificate", true},
    {57, "PrivateKeyMatchesRequest", true},
    {58, "IsSelfIssuedCertificate", true},
    {59, "BuildNameObject", true},
    {60, "DecodeObject4869", true},
    {61, "GetRequestTexts", true},
    {62, "VerifyWithIssuerKey", true},
    {63, "VerifyDataSignature", true},
    {64, "SetObjectItemAndCheck", true},
    {65, "GetCertificateFieldTexts", true},
    {66, "GetObjectNameText", true},
    {67, "ForwardObjectOperation25", true},
    {68, "GetObjectValue29", true},
    {69, "GetEffectiveKeyUsage", true},
    {70, "SetObjectItem71", true},
    {71, "SetObjectItem56", true},
    {72, "GetBasicConstraints", true},
    {73, "GetDistributionURL", true},
    {74, "GetCertificatePolicyQualifier", true},
    {75, "GetAuthorityAccessURLs", true},
    {76, "HasExtendedKeyUsages", true},
    {77, "GetCertificateRole", true},
    {78, "Hash32ToText", true},
    {79, "TextToHash32", true},
    {80, "Serial20ToText", true},
    {81, "TextToSerial20", true},
    {82, "HexPairToByte", true},
    {83, "BytesToText", true},
    {84, "KeyUsageToText", true},
    {85, "ExtKeyUsagesToText", true},
    {86, "PolicyToText", true},
    {87, "BuildDataContentInfo", true},
    {88, "ForwardToOperation524", true},
    {89, "ForwardToOperation484", true},
    {90, "VerifySignerByFamily", true},
    {91, "OpenAndVerifySigner", true},
    {92, "ResultCodeToText", true},
    {93, "OrderKindToText", true},
    {94, "DecodeObject4875WithItems", true},
    {95, "BuildObject4898", true},
    {96, "ReturnOne", true},
    {97, "LoadObject4876", true},
    {98, "GetItemPresent", true},
    {99, "AttachObject4877", true},
    {100, "GetItemMatches", true},
    {101, "AddCertificateItems", true},
    {102, "DecodeObject4875", true},
    {103, "CheckObjectAgainstCertificate", true},
    {104, "GetObjectTexts", true},
    {105, "SetObjectEntryItems", true},
    {106, "MakeCounterRecord", true},
    {107, "BuildObject4905", true},
    {108, "ForwardToOperation635", true},
    {109, "GetObjectAndSet", true},
    {110, "BuildTimeStampContent", true},
    {111, "MakeBigEndianPair", true},
    {112, "DecodeTimeStampContent", true},
    {113, "SetObjectItems", true},
    {114, "ForwardToOperation190", true},
    {115, "VerifySignerByCertificateKind", true},
    {116, "TimeStampPolicyToText", true},
    {117, "ReadTimeStampInfo", true},
    {118, "CreateSignedDataObject", true},
    {119, "AttachCertificate", true},
    {120, "WrapSignedData", true},
    {121, "DecodeSignedDataContentInfo", true},
    {122, "GetListCertificate", true},
    {123, "RevocationReasonToText", true},
    {152, "GetHolderKeyUsage", true},
    {153, "HasKeyUsage", true},
    {190, "GetRecipientByIndexFull", true},
    {227, "FillCertificateInfo", true},
    {228, "FreeCertificateInfo", true},
    {229, "MakeReferenceRecordForValue", true},
    {232, "CopyAsCertificate", true},
    {233, "BigNumber600ToText", true},
    {234, "HasOwnAgreementParameters", true},
    {246, "MakeDSTU4145ParameterObject", true},
    {248, "SetContainerSBox", true},
    {253, "FindCertificateByIssuerSerial", true},
    {254, "FindCertificateBySubject", true},
    {255, "IsCurveSupported", true},
    {262, "HolderDataEqual", true},
    {263, "ReadHolderDataFromRequest", true},
    {264, "GetRequestKindAndItem", true},
    {265, "GetEncodedRequestKindAndItem", true},
    {288, "KeyMatchesCertificate", true},
    {289, "FindCertificateInListByKeyIdentifier", true},
    {290, "MakeReferenceRecord", true},
    {311, "GetAltNameURI", true},
    {313, "HolderDataVersionByLength", true},
    {314, "HolderDataSizeByVersion", true},
    {315, "EncodedObjectsEqual", true},
    {319, "MakeContainerWithDSTU4145Key", true},
    {320, "MakeSignatureKeyContainer", true},
    {321, "MakeAgreementKeyContainer", true},
    {322, "MakeRSAKeyContainer", true},
    {323, "PutSignatureKeyIntoContainer", true},
    {324, "PutAgreementKeyIntoContainer", true},
    {325, "PutRSAKeyIntoContainer", true},
    {335, "ReadPKCS12WithFlag", true},
    {350, "MakeContainerForIdentifier", true},
    {363, "SetKeyContainerMode", true},
    {366, "CompleteKeyContainer", true},
    {367, "OpenFileHandle", true},
    {368, "FindFirstFileEntry", true},
    {369, "FindNextFileEntry", true},
    {370, "GetNameAttributeMaxLength", true},
    {371, "AllocateNameAttributeBuffers", true},
    {372, "FreeMemoryArray", true},
    {378, "SetSignerVersionByIssuerSerial", true},
    {379, "GetObjectItem50", true},
    {380, "SignKeyRequest", true},
    {381, "ReadPrivateKeyAnyFormat", true},
    {383, "ExportPrivateKey", true},
    {384, "IsKeyIncomplete", true},
    {423, "GetKeyCapabilities", true},
    {424, "WriteECPublicKey", true},
    {425, "CreateDSTU4145RequestForKey", true},
    {426, "ReadECKey", true},
    {427, "GetECKeyIdentifier", true},
    {428, "GetECParametersRecord", true},
    {429, "GetECParametersByCurve", true},
    {430, "SetECParametersByCurve", true},
    {431, "NormalizeECParameters", true},
    {432, "SetECCertificateValue", true},
    {433, "GetECCertificate", true},
    {434, "SetECCertificatePair", true},
    {435, "GetECCertificateParameter", true},
    {436, "GetECCertificateParametersByCurve", true},
    {437, "SetECCertificateParametersByCurve", true},
    {438, "CopyECParametersForm2", true},
    {484, "OpenContentEntry", true},
    {524, "OpenContentInfo", true},
    {566, "ComputeKeyIdentifier", true},
    {578, "CreateRequestForKeyId", true},
    {590, "CreateCertificateRequestForHolder", true},
    {591, "GetKeyUsageFlags", true},
    {592, "GetCertificateMarker", true},
    {594, "SetTimeConversionDisabled", true},
    {611, "GetSignerHashKindByIndex", true},
    {631, "DecodeTimeStampInfo", true},
    {632, "GetSingleSignerIdentity", true},
    {633, "GetTimeStampInfoPartA", true},
    {634, "GetTimeStampInfoPartB", true},
    {635, "EncodeExtensionEntry", true},
};
static_assert(std::size(kPinned) == 202);
// Every pinned position asserted, and every line marked PINNED is one of them.
constexpr bool PinnedListMatches()
{
    int marked = 0;
    for (const pkif_detail::Entry& e : pkif_detail::kOperations) marked += e.pinned ? 1 : 0;
    if (marked != static_cast<int>(std::size(kPinned))) return false;
    for (const pkif_detail::Entry& e : kPinned)
        if (PositionOf(e.name) != e.position || !pkif_detail::kOperations[e.position].pinned) return false;
    return true;
}
static_assert(PinnedListMatches());
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
// list is printed so that none is forgotten.
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
    EXPECT_TRUE(reserved.empty());
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
    EXPECT_EQ(SlotOf(&IPKIInterface::ConvertThreeNew), 38);
    EXPECT_EQ(SlotOf(&IPKICertificate::Reserved75), 75);
    static_assert(sizeof(wchar_t) == 4);
    static_assert(sizeof(PKINameRecord) == 4 * (65 + 3 + 129 + 129 + 65 + 65 + 65 + 41 + 33 + 65));
}
