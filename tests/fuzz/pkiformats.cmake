# libFuzzer targets over the PKI formats facade's parsers of outside data:
# key-parts records, holder records and the flat records. The facade's sources
# are built again with coverage so that the fuzzer sees inside them.
# Each target runs for a bounded time under CTest (label "fuzz").
set(PKIF_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
add_library(pkiformats_fuzz_facade STATIC
    ${CMAKE_SOURCE_DIR}/src/pkiformats/SPKIFormatsBase.cpp
    ${CMAKE_SOURCE_DIR}/src/pkiformats/SPKIFormatsTexts.cpp
    ${CMAKE_SOURCE_DIR}/src/pkiformats/SPKIFormatsRecords.cpp
    ${CMAKE_SOURCE_DIR}/src/pkiformats/SPKIFormatsFlat.cpp)
qvk_defaults(pkiformats_fuzz_facade)
target_compile_options(pkiformats_fuzz_facade PRIVATE ${PKIF_FUZZ_FLAGS})
target_link_libraries(pkiformats_fuzz_facade PUBLIC qvk_support wemu)

set(QVK_FUZZ_SECONDS 10 CACHE STRING "Seconds each fuzz target runs under CTest")
foreach(target keyparts holder records)
  add_executable(pkiformats_${target}_fuzz ${CMAKE_CURRENT_LIST_DIR}/pkiformats_${target}.cpp)
  qvk_defaults(pkiformats_${target}_fuzz)
  target_compile_options(pkiformats_${target}_fuzz PRIVATE ${PKIF_FUZZ_FLAGS})
  target_link_options(pkiformats_${target}_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(pkiformats_${target}_fuzz PRIVATE pkiformats_fuzz_facade)
  add_test(NAME pkiformats_${target}_fuzz
           COMMAND pkiformats_${target}_fuzz -max_total_time=${QVK_FUZZ_SECONDS} -max_len=4096
                   -rss_limit_mb=1024)
  set_tests_properties(pkiformats_${target}_fuzz PROPERTIES LABELS fuzz)
endforeach()
