# Host build: unit tests of the logic against the test double, under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
target_compile_options(updater_logic PRIVATE ${SANITIZERS})
target_link_options(updater_logic PUBLIC ${SANITIZERS})

add_library(platform_double STATIC platform/testdouble/test_double.cpp)
target_include_directories(platform_double PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(platform_double PRIVATE ${PROJECT_WARNINGS} ${SANITIZERS})
target_link_options(platform_double PUBLIC ${SANITIZERS})

enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)

add_library(test_support STATIC tests/unit/support/test_support.cpp)
target_compile_options(test_support PRIVATE ${PROJECT_WARNINGS} ${SANITIZERS})
target_link_libraries(test_support PUBLIC updater_logic platform_double GTest::gtest)

# One test program per file of tests/unit, so that each module's tests build on their own.
file(GLOB UNIT_TEST_SOURCES CONFIGURE_DEPENDS tests/unit/*_test.cpp)
foreach(source ${UNIT_TEST_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_compile_options(${name} PRIVATE ${PROJECT_WARNINGS} ${SANITIZERS})
    target_link_libraries(${name} PRIVATE test_support GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endforeach()

# Checks of the built Windows program (PE headers, imports, manifest, dialog template). The test
# builds the 32-bit program itself, into the folder named here.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(UPDATER_WIN32_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/win32 CACHE PATH "Where the built-file checks build the 32-bit program")
add_test(NAME exe_checks COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DBUILD_DIR=${UPDATER_WIN32_BUILD_DIR}
    -DPYTHON=${Python3_EXECUTABLE} -P ${CMAKE_SOURCE_DIR}/tests/exe/run_checks.cmake)
set_tests_properties(exe_checks PROPERTIES TIMEOUT 1200 RUN_SERIAL TRUE)

# End-to-end scenarios: the real program under Wine, driven by the project's Win32 driver. The
# runner builds what it runs (32-bit where the kernel runs i386 programs, else 64-bit).
add_test(NAME e2e COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py
    --build-dir ${CMAKE_SOURCE_DIR}/build/{arch})
set_tests_properties(e2e PROPERTIES TIMEOUT 2400 RUN_SERIAL TRUE LABELS e2e)

# The publisher's preflight tool, as a Linux program, and its tests; its forecast is checked
# against the real updater under Wine on the same fixtures.
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/preflight/CMakeLists.txt)
    add_subdirectory(tools/preflight)
    add_test(NAME preflight_forecast_vs_updater COMMAND ${Python3_EXECUTABLE}
        ${CMAKE_SOURCE_DIR}/tools/preflight/compare_wine.py --build-dir ${CMAKE_SOURCE_DIR}/build/{arch}
        --host-tool $<TARGET_FILE:preflight>)
    set_tests_properties(preflight_forecast_vs_updater PROPERTIES TIMEOUT 1200 RUN_SERIAL TRUE LABELS e2e)
endif()
