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

include(${CMAKE_CURRENT_LIST_DIR}/QivTrustedKeys.cmake)
