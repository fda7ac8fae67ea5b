# velmard_layer(NAME [DEPS lib...])
# One static library per layer folder, made of every .cpp in it.
function(velmard_layer name)
  cmake_parse_arguments(L "" "" "DEPS;SOURCES" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(APPEND srcs ${L_SOURCES})
  if(NOT srcs)
    set(stub ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    if(NOT EXISTS ${stub})
      file(WRITE ${stub} "// layer ${name} has no sources yet\n")
    endif()
    set(srcs ${stub})
  endif()
  add_library(velmard_${name} STATIC ${srcs})
  target_include_directories(velmard_${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  if(L_DEPS)
    target_link_libraries(velmard_${name} PUBLIC ${L_DEPS})
  endif()
endfunction()

# velmard_test(NAME [BLACKBOX] [LIBS lib...] [SOURCES file...] [PROPERTIES prop value...])
# One GoogleTest binary made of every .cpp in the current tests folder.
# BLACKBOX tests start the daemon binaries, so they are built first.
# PROPERTIES are further CTest properties of each test.
function(velmard_test name)
  cmake_parse_arguments(T "BLACKBOX" "" "LIBS;SOURCES;PROPERTIES" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(APPEND srcs ${T_SOURCES})
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE VELMARD_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(T_BLACKBOX)
    target_compile_definitions(${name} PRIVATE
      VELMARD_BIN="$<TARGET_FILE:velmard>"
      VELMARD_SIM_BIN="$<TARGET_FILE:velmard-sim>")
    add_dependencies(${name} velmard velmard-sim)
  endif()
  # Test names leave out the printed parameter: a value's byte dump can hold
  # addresses, and a name that changes from run to run cannot be selected.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
                       PROPERTIES TIMEOUT 120 ${T_PROPERTIES})
endfunction()
