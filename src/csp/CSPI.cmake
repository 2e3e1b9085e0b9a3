# The provider for the international algorithms (CSPI) and its parameter
# store, over cgintl.so and cgext.so bound at run time. Part of qvk_csp.
target_sources(qvk_csp PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CSPI.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CSPICiphers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CSPIDigests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CSPIRandom.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CSPILibraryBinding.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CSPIParameters.cpp)
