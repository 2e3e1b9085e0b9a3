# The PKCS#11 module's parsers of what it reads from a key: object records
# of a storage area and the attribute records inside them.
if(TARGET qvk_pkcs11_objects AND TARGET qvk_pkcs11driver_objects)
  # The module's objects need the token driver's and the in-process PC/SC double to link.
  set(QVK_PKCS11_FUZZ_LIBS qvk_pkcs11_objects qvk_pkcs11driver_objects qvk_device pcscdouble ${CMAKE_DL_LIBS})
  if(COMMAND qvk_fuzz_target)
    qvk_fuzz_target(pkcs11_records_fuzz SOURCES pkcs11_records_fuzz.cpp LIBS ${QVK_PKCS11_FUZZ_LIBS})
    qvk_fuzz_target(pkcs11_attributes_fuzz SOURCES pkcs11_attributes_fuzz.cpp LIBS ${QVK_PKCS11_FUZZ_LIBS})
  else()
    # Without the tree's fuzz build settings: instrument the module's objects here.
    target_compile_options(qvk_pkcs11_objects PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
    foreach(t pkcs11_records_fuzz pkcs11_attributes_fuzz)
      add_executable(${t} ${t}.cpp)
      qvk_defaults(${t})
      target_link_libraries(${t} PRIVATE ${QVK_PKCS11_FUZZ_LIBS})
      target_compile_options(${t} PRIVATE -fsanitize=fuzzer,address,undefined)
      target_link_options(${t} PRIVATE -fsanitize=fuzzer,address,undefined)
      set_target_properties(${t} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    endforeach()
  endif()
endif()
