# The Windows program: GUI subsystem, static C and C++ runtime, so that it imports only
# Windows' own DLLs.
target_compile_options(updater_logic PRIVATE -fno-exceptions -fno-rtti -fstack-protector-strong)
# Every program that links the logic links the stack protector's runtime (libssp, statically).
target_link_options(updater_logic PUBLIC -fstack-protector-strong)

# windres reads the resource script in code page 932; the script is kept in UTF-8.
set(RC_CP932 ${CMAKE_BINARY_DIR}/update_cp932.rc)
add_custom_command(
    OUTPUT ${RC_CP932}
    COMMAND iconv -f UTF-8 -t CP932 ${CMAKE_SOURCE_DIR}/resources/update.rc -o ${RC_CP932}
    DEPENDS ${CMAKE_SOURCE_DIR}/resources/update.rc
    COMMENT "Converting the resource script to code page 932")
set(CMAKE_RC_FLAGS "-c 932 -I ${CMAKE_SOURCE_DIR}/resources")
enable_language(RC)
set_source_files_properties(${RC_CP932} PROPERTIES
    OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/update.manifest;${CMAKE_SOURCE_DIR}/resources/resource_ids.h")

add_executable(update WIN32 platform/win32/entry.cpp platform/win32/platform_win32.cpp
    platform/win32/ansi_listing.cpp ${RC_CP932})
target_compile_options(update PRIVATE ${PROJECT_WARNINGS} -fno-exceptions -fno-rtti -fstack-protector-strong)
target_link_libraries(update PRIVATE updater_logic)
# ASLR (dynamic base, high entropy where the target has it) and DEP; static runtime.
target_link_options(update PRIVATE -static -static-libgcc -static-libstdc++ -fstack-protector-strong
    -Wl,--dynamicbase -Wl,--nxcompat -s)

# The end-to-end test driver, a Win32 program of the project.
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/driver/CMakeLists.txt)
    add_subdirectory(tests/e2e/driver)
endif()

# The publisher's preflight tool, as a Windows console program.
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/preflight/CMakeLists.txt)
    add_subdirectory(tools/preflight)
endif()

# Reference programs for the benchmarks.
add_subdirectory(bench)
