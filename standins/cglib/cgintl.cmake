# Stand-in cgintl.so for the CSPI: RSA, DSA, ECDSA, DH, ECDH, AES, TDEA, RC2,
# SHA, HMAC, PBKDF2 and PKCS#12 over OpenSSL (the deliverables link no
# OpenSSL), and the DSTU 4145 generator, GOST 28147 and GOST 34.311 entries
# from cgbase.so's own sources. Only the names of the binding are exported;
# the two-party ECDSA functions are absent.
set(CGINTL_REQUIRED_NAMES
    DSTU4145PseudoRNGSelfTest DSTU4145PseudoRNGInitialize DSTU4145PseudoRNGDeinitialize
    DSTU4145PseudoRNGGenerateSequence DSTU4145PseudoRNGGenerateSequenceInBits
    GOST28147SelfTest GOST28147AcquireState GOST28147ReleaseState GOST28147SetStateParameters
    GOST28147GetStateParameters GOST28147EncryptDataSSMode GOST28147DecryptDataSSMode GOST28147EncryptDataGMode
    GOST28147EncryptDataGOFBMode GOST28147DecryptDataGOFBMode GOST28147GetDataMAC
    GOST34311SelfTest GOST34311AcquireState GOST34311ReleaseState GOST34311SetStateParameters
    GOST34311GetStateParameters GOST34311HashData GOST34311FinalizeHash
    RSASelfTest RSAAcquireState RSAReleaseState RSASetStateParameters RSAGetStateParameters RSAGenerateParameters
    RSASignHash RSAVerifySignature RSAEncryptData RSADecryptData
    SHASelfTest SHAAcquireState SHAReleaseState SHASetStateParameters SHAGetStateParameters SHAHashData
    SHAFinalizeHash
    ECDSASelfTest ECDSAAcquireState ECDSAReleaseState ECDSASetStateParameters ECDSAGenerateParameters ECDSASignHash
    ECDSAVerifySignature ECDSAGetStateParameters ECDSATestOnStandartParameters
    GOSTR3410SelfTest GOSTR3410AcquireState GOSTR3410ReleaseState GOSTR3410SetStateParameters
    GOSTR3410GetStateParameters GOSTR3410GenerateParameters GOSTR3410SignHash GOSTR3410VerifySignature
    GOSTR3410TestOnStandartParameters
    TDEASelfTest TDEAAcquireState TDEAReleaseState TDEASetStateParameters TDEAGetStateParameters
    TDEAEncryptDataSSMode TDEADecryptDataSSMode TDEAEncryptDataCBCMode TDEADecryptDataCBCMode TDEAGetDataMAC
    DSASelfTest DSAAcquireState DSAReleaseState DSASetStateParameters DSAGetStateParameters DSAGenerateParameters
    DSASignHash DSAVerifySignature
    AESSelfTest AESAcquireState AESSetStateParameters AESReleaseState AESEncryptDataECBMode AESDecryptDataECBMode
    AESEncryptDataCBCMode AESDecryptDataCBCMode AESEncryptDataCFB1Mode AESDecryptDataCFB1Mode AESEncryptDataCFB8Mode
    AESDecryptDataCFB8Mode AESEncryptDataCFB128Mode AESDecryptDataCFB128Mode AESEnDecryptDataOFBMode
    AESEnDecryptDataCTRMode AESGetDataMAC AESExpandKey AESCipher AESInverseCipher
    DHSelfTest DHCalculateSharedSecret ECDHSelfTest ECDHCalculateSharedSecret
    CACHE INTERNAL "")
set(CGINTL_OPTIONAL_NAMES
    SHA1HMACAcquireState SHA1HMACReleaseState SHA1HMACSetStateParameters SHA1HMACGetStateParameters
    SHA1HMACInitializeDataMac SHA1HMACUpdateData SHA1HMACFinalizeDataMac SHA1HMACSelfTest
    RC2AcquireState RC2ReleaseState RC2SetStateParameters RC2GetStateParameters RC2EncryptDataCBCMode
    RC2DecryptDataCBCMode RC2SelfTest
    PKCS12PBKDFRC2DeriveKey PKCS12PBKDFRC2DeriveIV PKCS12PBKDFTDESDeriveKey PKCS12PBKDFTDESDeriveIV
    PKCS12PBKDFSHA1DeriveHMACKey PKCS12PBKDFSelfTest PBKDF2IDeriveKey PBKDF2ISelfTest
    DSTU4145PseudoRNGReinitialize
    AESGetStateParameters AESEncryptDataGCMMode AESDecryptDataGCMMode
    SHAHMACAcquireState SHAHMACReleaseState SHAHMACSetStateParameters SHAHMACGetStateParameters SHAHMACUpdateData
    SHAHMACFinalizeDataMac SHAHMACSelfTest
    PBKDF2SHADeriveKey PKCS12PBKDFSHADeriveHMACKey
    CACHE INTERNAL "")

add_library(cglib_intl_objects OBJECT
    ${CMAKE_CURRENT_LIST_DIR}/cgintlRSA.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cgintlDSA.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cgintlEC.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cgintlSymmetric.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cgintlDigest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cgintlMisc.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CgGOST.cpp
    ${CMAKE_CURRENT_LIST_DIR}/BasePRNG.cpp
    ${CMAKE_CURRENT_LIST_DIR}/InjectedFailure.cpp)
qvk_defaults(cglib_intl_objects)
# The stand-in uses OpenSSL's RSA, DSA and EC key objects directly.
target_compile_options(cglib_intl_objects PRIVATE -Wno-deprecated-declarations)
set_target_properties(cglib_intl_objects PROPERTIES
  POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
target_link_libraries(cglib_intl_objects PUBLIC qvk_cgapi qvk_support qvk_crypto OpenSSL::Crypto)

# cgintl_library(target DIRECTORY dir [WITHOUT names...]): one build of
# "cgintl.so" exporting the binding's names except those listed.
function(cgintl_library target)
  cmake_parse_arguments(L "" "DIRECTORY" "WITHOUT" ${ARGN})
  add_library(${target} MODULE $<TARGET_OBJECTS:cglib_intl_objects>)
  target_link_libraries(${target} PRIVATE qvk_support qvk_crypto OpenSSL::Crypto)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME cgintl PREFIX "" SUFFIX ".so")
  if(L_DIRECTORY)
    set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${L_DIRECTORY})
  endif()
  set(names ${CGINTL_REQUIRED_NAMES} ${CGINTL_OPTIONAL_NAMES})
  if(L_WITHOUT)
    list(REMOVE_ITEM names ${L_WITHOUT})
  endif()
  list(JOIN names ";\n    " exported)
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  file(WRITE ${script} "{\n  global:\n    ${exported};\n  local: *;\n};\n")
  target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL ${QVK_MODULE_NO_UNDEFINED} -Wl,--version-script=${script})
  set_target_properties(${target} PROPERTIES LINK_DEPENDS ${script})
endfunction()

cgintl_library(cgintl)
