# One static library per folder under src/. Sources are found by glob so that adding a
# file needs no edit here; *_test.cpp files beside them form the layer's unit-test binary.

# A concept that differs by operating system has twins, name_posix.cpp and name_win32.cpp;
# the build keeps the one for the system it targets.
function(vesk_keep_this_systems_twins list_name)
  if(WIN32)
    list(FILTER ${list_name} EXCLUDE REGEX "_posix(_test)?\\.cpp$")
  else()
    list(FILTER ${list_name} EXCLUDE REGEX "_win32(_test)?\\.cpp$")
  endif()
  set(${list_name} ${${list_name}} PARENT_SCOPE)
endfunction()

# Registers a test binary with CTest. Natively, one CTest test per test case (found after
# the build). Cross-built for Windows, the binary is one CTest test run whole under Wine:
# starting Wine once per test case costs seconds each.
function(vesk_register_tests target)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60
      # One variable per property: a ";" inside a property value does not survive discovery.
      PROPERTIES ENVIRONMENT "VESK_BINARY_DIR=${CMAKE_BINARY_DIR}"
                 ENVIRONMENT_MODIFICATION "VESK_SOURCE_DIR=set:${CMAKE_SOURCE_DIR}")
  endif()
endfunction()

function(vesk_unit_tests name dir lib)
  file(GLOB tests CONFIGURE_DEPENDS ${dir}/*_test.cpp)
  vesk_test_binary(${name} ${lib} ${tests})
endfunction()

# One test binary from the given *_test.cpp files (nothing when there are none).
function(vesk_test_binary name lib)
  set(tests ${ARGN})
  vesk_keep_this_systems_twins(tests)
  if(tests)
    add_executable(${name}_tests ${tests})
    target_link_libraries(${name}_tests PRIVATE ${lib} GTest::gtest GTest::gmock GTest::gtest_main)
    vesk_register_tests(${name}_tests)
  endif()
endfunction()

function(vesk_layer name)
  cmake_parse_arguments(LAYER "" "" "DEPS" ${ARGN})
  set(dir ${CMAKE_SOURCE_DIR}/src/${name})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$")
  vesk_keep_this_systems_twins(sources)
  if(sources)
    add_library(vesk_${name} STATIC ${sources})
    target_include_directories(vesk_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(vesk_${name} PUBLIC ${LAYER_DEPS})
  else()
    add_library(vesk_${name} INTERFACE)
    target_include_directories(vesk_${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(vesk_${name} INTERFACE ${LAYER_DEPS})
  endif()
  vesk_unit_tests(${name} ${dir} vesk_${name})
endfunction()
