# Native micro-benchmarks (Google Benchmark) of the logic, optimised and without sanitizers.
find_package(benchmark REQUIRED)
add_library(platform_double STATIC platform/testdouble/test_double.cpp)
target_include_directories(platform_double PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(platform_double PRIVATE ${PROJECT_WARNINGS})
add_executable(micro_bench bench/micro_bench.cpp)
target_compile_options(micro_bench PRIVATE ${PROJECT_WARNINGS})
target_link_libraries(micro_bench PRIVATE updater_logic platform_double benchmark::benchmark)
