# The PKCS#11 module's parsers of what it reads from a key: object records
# of a storage area and the attribute records inside them.
if(TARGET qvk_pkcs11_objects AND TARGET qvk_pkcs11driver_objects)
  set(QVK_PKCS11_FUZZ_LIBS qvk_pkcs11_objects qvk_pkcs11driver_objects qvk_device pcscdouble ${CMAKE_DL_LIBS})
  qvk_fuzz_target(pkcs11_records_fuzz SOURCES pkcs11_records_fuzz.cpp LIBS ${QVK_PKCS11_FUZZ_LIBS})
  qvk_fuzz_target(pkcs11_attributes_fuzz SOURCES pkcs11_attributes_fuzz.cpp LIBS ${QVK_PKCS11_FUZZ_LIBS})
endif()
# The check of the other party's public point in C_DeriveKey, through the
# provider and PKI formats stand-ins of the distribution folder, against
# OpenSSL's own curve arithmetic.
if(TARGET qvk_pkcs11_objects AND TARGET qvk_pkcs11driver_objects AND TARGET cgbase AND TARGET pkfmt)
  qvk_fuzz_target(pkcs11_derive_point_fuzz SOURCES pkcs11_derive_point_fuzz.cpp
                  LIBS ${QVK_PKCS11_FUZZ_LIBS} OpenSSL::Crypto)
  target_include_directories(pkcs11_derive_point_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/tests/pkcs11)
  add_dependencies(pkcs11_derive_point_fuzz pkfmt cgbase cgext)
endif()
