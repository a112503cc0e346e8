# The configure-time check of QIV_TRUSTED_KEYS, run in script mode:
#   cmake -DKEYS="..." -DEXPECTED="..." -P trusted_keys_test.cmake
# A refused list stops with the check's own message; an accepted one must join to EXPECTED.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/QivTrustedKeys.cmake)
qiv_trusted_keys_definition(joined "${KEYS}")
if(NOT joined STREQUAL EXPECTED)
  message(FATAL_ERROR "accepted \"${KEYS}\" as \"${joined}\", expected \"${EXPECTED}\"")
endif()
