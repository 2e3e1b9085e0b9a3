# The PKI formats facade's parsers of outside data: key-parts records, holder
# records, the flat records, the identifier and file-name texts and key
# stores.
foreach(target keyparts holder records identifiers keystore)
  qvk_fuzz_target(pkiformats_${target}_fuzz SOURCES pkiformats_${target}_fuzz.cpp LIBS qvk_pkiformats)
endforeach()
# Peer signature values, decoded through the facade's test double.
qvk_fuzz_target(pkiformats_signatures_fuzz SOURCES pkiformats_signatures_fuzz.cpp LIBS qvk_pkiformats)
target_include_directories(pkiformats_signatures_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/tests/pkiformats)
# Streamed CMS headers and decrypted key-transport content, through the
# facade's test double.
qvk_fuzz_target(pkiformats_streamed_fuzz SOURCES pkiformats_streamed_fuzz.cpp LIBS qvk_pkiformats)
target_include_directories(pkiformats_streamed_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/tests/pkiformats)
# Protected key files, read through the facade's test double.
qvk_fuzz_target(pkiformats_protectedkey_fuzz SOURCES pkiformats_protectedkey_fuzz.cpp LIBS qvk_pkiformats)
target_include_directories(pkiformats_protectedkey_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/tests/pkiformats)
