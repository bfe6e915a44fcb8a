# Builds the Windows program and runs the checks of the built file on it, for CTest:
#   cmake -DSOURCE_DIR=<repo> -DBUILD_DIR=<folder> [-DPRESET=win32|win64] [-DPYTHON=python3] -P run_checks.cmake
# The folder is configured with the preset on first use and then only built again.
if(NOT PRESET)
    set(PRESET win32)
endif()
if(NOT PYTHON)
    set(PYTHON python3)
endif()
set(ARCH i386)
if(PRESET STREQUAL "win64")
    set(ARCH amd64)
endif()

if(NOT EXISTS ${BUILD_DIR}/CMakeCache.txt)
    execute_process(COMMAND ${CMAKE_COMMAND} --preset ${PRESET} -B ${BUILD_DIR}
        WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE result)
    if(result)
        message(FATAL_ERROR "configuring ${BUILD_DIR} with the ${PRESET} preset failed")
    endif()
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} -j2 --target update RESULT_VARIABLE result)
if(result)
    message(FATAL_ERROR "building update.exe in ${BUILD_DIR} failed")
endif()

foreach(script check_exe.py check_exe_test.py)
    execute_process(COMMAND ${PYTHON} ${SOURCE_DIR}/tests/exe/${script} --arch ${ARCH} ${BUILD_DIR}/update.exe
        RESULT_VARIABLE result)
    if(result)
        message(FATAL_ERROR "${script} failed")
    endif()
endforeach()
