# The PKCS#11 module's parsers of what it reads from a key: object records
# of a storage area and the attribute records inside them.
if(TARGET qvk_pkcs11_objects AND TARGET qvk_pkcs11driver_objects)
  set(QVK_PKCS11_FUZZ_LIBS qvk_pkcs11_objects qvk_pkcs11driver_objects qvk_device pcscdouble ${CMAKE_DL_LIBS})
  qvk_fuzz_target(pkcs11_records_fuzz SOURCES pkcs11_records_fuzz.cpp LIBS ${QVK_PKCS11_FUZZ_LIBS})
  qvk_fuzz_target(pkcs11_attributes_fuzz SOURCES pkcs11_attributes_fuzz.cpp LIBS ${QVK_PKCS11_FUZZ_LIBS})
endif()
