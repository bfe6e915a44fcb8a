# Fuzz targets (clang's libFuzzer) with AddressSanitizer and UndefinedBehaviorSanitizer, over the
# same logic and the same test double as the unit tests.
set(FUZZ_INSTRUMENT -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
target_compile_options(updater_logic PRIVATE ${FUZZ_INSTRUMENT})

add_library(platform_double STATIC platform/testdouble/test_double.cpp)
target_include_directories(platform_double PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(platform_double PRIVATE ${PROJECT_WARNINGS} ${FUZZ_INSTRUMENT})

file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS tests/fuzz/fuzz_*.cpp)
foreach(source ${FUZZ_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_compile_options(${name} PRIVATE ${PROJECT_WARNINGS} ${FUZZ_INSTRUMENT})
    target_link_libraries(${name} PRIVATE updater_logic platform_double)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
endforeach()
