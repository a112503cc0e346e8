# One interface target carries the language standard, warnings and sanitizer flags for every target.
add_library(qiv_settings INTERFACE)
target_compile_features(qiv_settings INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(qiv_settings INTERFACE -Wall -Wextra -Wpedantic)
if(QIV_SANITIZE)
  target_compile_options(qiv_settings INTERFACE -fsanitize=${QIV_SANITIZE} -fno-omit-frame-pointer
                                                -fno-sanitize-recover=all)
  target_link_options(qiv_settings INTERFACE -fsanitize=${QIV_SANITIZE})
endif()
find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

# Adds one GoogleTest executable per test source found in DIR, linked to LIBS, with LABEL.
# Tests named in QIV_SKIP_TESTS are left out. A source named *_slow_test.cpp also gets the label "slow", so `ctest -LE slow` leaves it out.
function(qiv_add_test_dir dir label)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_test.cpp)
  foreach(source IN LISTS sources)
    get_filename_component(name ${source} NAME_WE)
    if(name IN_LIST QIV_SKIP_TESTS)
      continue()
    endif()
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE ${ARGN} qiv_test_support GTest::gtest GTest::gmock GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${label}
                         WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    if(name MATCHES "_slow_test$")
      # Discovered tests take one label only; this script, run after discovery, sets both.
      set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
      file(WRITE ${script} "if(${name}_TESTS)\n"
                           "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${label};slow\")\n"
                           "endif()\n")
      set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
    endif()
  endforeach()
endfunction()

# Checks a list of Ed25519 public keys (base64 of 32 bytes; spaces, commas or semicolons between
# them) and sets VAR to the keys separated by single spaces, as the trusted-keys unit reads them.
function(qiv_trusted_keys_definition var keys)
  string(REGEX REPLACE "[ ,;\t\n]+" ";" list "${keys}")
  list(FILTER list EXCLUDE REGEX "^$")
  foreach(key IN LISTS list)
    # CMake's regular expressions know no {n}: the length is checked on its own.
    string(LENGTH "${key}" length)
    if(NOT key MATCHES "^[A-Za-z0-9+/]+=$" OR NOT length EQUAL 44)
      message(FATAL_ERROR "QIV_TRUSTED_KEYS: \"${key}\" is not the base64 of a 32-byte Ed25519 public key")
    endif()
  endforeach()
  list(JOIN list " " joined)
  set(${var} "${joined}" PARENT_SCOPE)
endfunction()
