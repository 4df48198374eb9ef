# Shared build settings for every target of the project.

set(QN_WARNINGS -Wall -Wextra)
# g++ 12 reports false -Wrestrict overlaps inside std::string at -O2 and above (GCC bug
# 105329), e.g. for "<" + std::string(x).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND QN_WARNINGS -Wno-restrict)
endif()
if(QN_WERROR)
  list(APPEND QN_WARNINGS -Werror)
endif()

if(QN_SANITIZE AND QN_TSAN)
  message(FATAL_ERROR "QN_SANITIZE and QN_TSAN cannot be combined")
endif()
if(QN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(QN_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# qn_library(NAME SOURCES ... [DEPS ...] [QT])
# An engine library (no Qt) or, with QT, a forms library.
function(qn_library name)
  cmake_parse_arguments(A "QT" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_compile_options(${name} PRIVATE ${QN_WARNINGS})
  target_link_libraries(${name} PUBLIC ${A_DEPS})
  if(A_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON)
    target_link_libraries(${name} PUBLIC Qt6::Widgets)
  endif()
endfunction()

# qn_test(NAME SOURCES ... [DEPS ...] [LABELS ...] [QT] [TIMEOUT s])
# One GoogleTest executable, registered with ctest as one test.
function(qn_test name)
  cmake_parse_arguments(A "QT" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${QN_WARNINGS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    QN_SOURCE_DIR="${CMAKE_SOURCE_DIR}" QN_BINARY_DIR="${CMAKE_BINARY_DIR}"
    QN_FIXTURES_DIR="${CMAKE_SOURCE_DIR}/tests/fixtures")
  if(A_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE Qt6::Widgets Qt6::Test)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT})
  if(A_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${A_LABELS}")
  endif()
  # Tests that play real sound through a sound server of their own run one at a time: on
  # two cores, two servers and their streams at once starve each other.
  if("audio" IN_LIST A_LABELS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK sound_server)
  endif()
  if(A_QT)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT QT_QPA_PLATFORM=offscreen)
  endif()
  # Tests never write into the user's own settings, caches, logs or menu entries.
  set(home ${CMAKE_BINARY_DIR}/test-home/${name})
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT
    XDG_CONFIG_HOME=${home}/config XDG_CACHE_HOME=${home}/cache
    XDG_STATE_HOME=${home}/state XDG_DATA_HOME=${home}/data)
endfunction()

# Sources of a folder, picked up as they are added.
function(qn_glob var dir)
  file(GLOB files CONFIGURE_DEPENDS ${dir}/*.cpp)
  set(${var} ${files} PARENT_SCOPE)
endfunction()
