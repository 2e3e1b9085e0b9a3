# Common settings for the project's own targets.
set(QVK_WARNINGS -Wall -Wextra -Werror)

# qvk_defaults(target): warnings and the src/ include root.
function(qvk_defaults tgt)
  target_compile_options(${tgt} PRIVATE ${QVK_WARNINGS})
  target_include_directories(${tgt} PUBLIC ${CMAKE_SOURCE_DIR}/src)
endfunction()

# qvk_unit_test(name SOURCES a.cpp b.cpp LIBS x y [ENVIRONMENT VAR=value ...]): a
# GoogleTest program whose cases run under CTest with the "unit" label (the
# sanitizer build runs these), with the given environment.
function(qvk_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  qvk_defaults(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name} PROPERTIES LABELS unit ENVIRONMENT "${T_ENVIRONMENT}" DISCOVERY_TIMEOUT 120)
endfunction()

# qvk_e2e_test(name SOURCES ... LIBS ... [SERIAL] [ENVIRONMENT VAR=value ...]): a
# GoogleTest program run through real processes and services; label "e2e".
function(qvk_e2e_test name)
  cmake_parse_arguments(T "SERIAL" "" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  qvk_defaults(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  if(T_SERIAL)
    gtest_discover_tests(${name} PROPERTIES LABELS e2e RUN_SERIAL TRUE ENVIRONMENT "${T_ENVIRONMENT}"
                         DISCOVERY_TIMEOUT 120)
  else()
    gtest_discover_tests(${name} PROPERTIES LABELS e2e ENVIRONMENT "${T_ENVIRONMENT}" DISCOVERY_TIMEOUT 120)
  endif()
endfunction()

# Link check of the libraries loaded at run time: every reference resolved at
# link time. Not in the fuzz build, where clang leaves the sanitizers' runtime
# to the program, so a library's references to it resolve when it is loaded.
if(QVK_FUZZ)
  set(QVK_MODULE_NO_UNDEFINED "")
else()
  set(QVK_MODULE_NO_UNDEFINED -Wl,--no-undefined)
endif()
