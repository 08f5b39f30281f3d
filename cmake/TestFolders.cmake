# How the folders under tests/ register their test programs: one call per
# program, so each gets the same main, discovery and run environment.
#
#   fis_add_test_folder(NAME <target> SOURCES <file>...
#     [LIBS <target>...] [DEFINITIONS <definition>...] [INCLUDES <dir>...]
#     [DEPENDS <target>...] [ENVIRONMENT <VAR=value>...] [PROPERTIES <name> <value>...]
#     [LSAN_SUPPRESSIONS <file>] [QT] [DISCOVERY_MODE PRE_TEST|POST_BUILD])
#
# Every GoogleTest case is one ctest test, listed when ctest runs (PRE_TEST)
# unless DISCOVERY_MODE says otherwise. The cases run with GoogleTest's main;
# with QT, with tests/qt/qt_test_main.cpp instead (one QApplication, Qt's
# offscreen platform, the desktop's Portuguese texts) and tests/qt's fixture
# against the built package. ENVIRONMENT is every case's; in the sanitizer
# build LSAN_SUPPRESSIONS names the leaks a library keeps on purpose.
include(GoogleTest)

# The environment of a test: `VAR=value` entries, and the leak checker's
# suppressions in the sanitizer build.
function(fis_test_environment out)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "LSAN_SUPPRESSIONS" "ENVIRONMENT")
  set(env ${arg_ENVIRONMENT})
  if(FIS_SANITIZE AND arg_LSAN_SUPPRESSIONS)
    list(APPEND env "LSAN_OPTIONS=suppressions=${arg_LSAN_SUPPRESSIONS}")
  endif()
  set(${out} "${env}" PARENT_SCOPE)
endfunction()

function(fis_add_test_folder)
  cmake_parse_arguments(PARSE_ARGV 0 arg "QT" "NAME;LSAN_SUPPRESSIONS;DISCOVERY_MODE"
                        "SOURCES;LIBS;DEFINITIONS;INCLUDES;DEPENDS;ENVIRONMENT;PROPERTIES")
  if(NOT arg_NAME OR NOT arg_SOURCES)
    message(FATAL_ERROR "fis_add_test_folder needs NAME and SOURCES")
  endif()
  if(NOT arg_DISCOVERY_MODE)
    set(arg_DISCOVERY_MODE PRE_TEST)
  endif()
  set(env ${arg_ENVIRONMENT})
  if(arg_QT)
    list(APPEND arg_SOURCES ${FIS_SOURCE_DIR}/tests/qt/qt_test_main.cpp)
    list(APPEND arg_INCLUDES ${FIS_SOURCE_DIR}/tests/qt)
    list(APPEND arg_LIBS fis_qtwidgets fis_hostrun GTest::gtest)
    list(APPEND arg_DEFINITIONS FIS_PACKAGE_PATH="$<TARGET_FILE:Pkg_Fis02800>")
    list(APPEND arg_DEPENDS Pkg_Fis02800)
    list(PREPEND env QT_QPA_PLATFORM=offscreen)
  else()
    list(APPEND arg_LIBS GTest::gtest_main)
  endif()

  add_executable(${arg_NAME} ${arg_SOURCES})
  target_link_libraries(${arg_NAME} PRIVATE ${arg_LIBS})
  if(arg_INCLUDES)
    target_include_directories(${arg_NAME} PRIVATE ${arg_INCLUDES})
  endif()
  if(arg_DEFINITIONS)
    target_compile_definitions(${arg_NAME} PRIVATE ${arg_DEFINITIONS})
  endif()
  if(arg_DEPENDS)
    add_dependencies(${arg_NAME} ${arg_DEPENDS})
  endif()
  if(arg_PROPERTIES)
    gtest_discover_tests(${arg_NAME} DISCOVERY_MODE ${arg_DISCOVERY_MODE} PROPERTIES ${arg_PROPERTIES})
  else()
    gtest_discover_tests(${arg_NAME} DISCOVERY_MODE ${arg_DISCOVERY_MODE})
  endif()

  # gtest_discover_tests flattens its properties into one list, so an
  # environment of two entries would lose the second: the discovered cases
  # get theirs from a script ctest reads after the one that lists them.
  fis_test_environment(env ENVIRONMENT ${env} LSAN_SUPPRESSIONS "${arg_LSAN_SUPPRESSIONS}")
  if(env)
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${arg_NAME}_environment.cmake")
    file(WRITE "${script}"
         "if(NOT \"\${${arg_NAME}_TESTS}\" STREQUAL \"\")\n"
         "  set_tests_properties(\${${arg_NAME}_TESTS} PROPERTIES ENVIRONMENT [==[${env}]==])\n"
         "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
  endif()
endfunction()
