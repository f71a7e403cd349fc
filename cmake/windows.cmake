# The Windows builds of the whole tree (core, quelvar-cli, quelvar.exe and, for x86_64, the
# test suite and the dialog driver), cross-built by mingw-w64 in build directories of their
# own below this one and rebuilt with every build of this one:
#   ${QUELVAR_WINDOWS_DIR_x86_64}   PE32+ programs, runnable under wine64
#   ${QUELVAR_WINDOWS_DIR_i686}     PE32 programs
# QUELVAR_HAVE_WINDOWS_BUILDS tells whether mingw-w64 was found.
include(ExternalProject)

option(QUELVAR_WINDOWS_BUILDS "Cross-build the Windows programs when mingw-w64 is present" ON)
set(QUELVAR_WINDOWS_JOBS 2 CACHE STRING "Parallel jobs of each Windows build")

find_program(QUELVAR_GXX_I686 NAMES i686-w64-mingw32-g++-posix i686-w64-mingw32-g++)
find_program(QUELVAR_GXX_X86_64 NAMES x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-g++)
find_program(QUELVAR_WINDRES_I686 i686-w64-mingw32-windres)
find_program(QUELVAR_WINDRES_X86_64 x86_64-w64-mingw32-windres)

set(QUELVAR_HAVE_WINDOWS_BUILDS OFF)
if(QUELVAR_WINDOWS_BUILDS AND QUELVAR_GXX_I686 AND QUELVAR_GXX_X86_64 AND QUELVAR_WINDRES_I686
   AND QUELVAR_WINDRES_X86_64)
    set(QUELVAR_HAVE_WINDOWS_BUILDS ON)
endif()

if(QUELVAR_HAVE_WINDOWS_BUILDS)
    set(previous "")
    foreach(arch x86_64 i686)
        set(dir ${CMAKE_BINARY_DIR}/windows-${arch})
        set(QUELVAR_WINDOWS_DIR_${arch} ${dir})
        # Only the 64-bit test suite can run here (wine64); the 32-bit build stops at programs.
        if(arch STREQUAL "x86_64")
            set(tests ${QUELVAR_TESTS})
        else()
            set(tests OFF)
        endif()
        ExternalProject_Add(quelvar_windows_${arch}
            SOURCE_DIR ${CMAKE_SOURCE_DIR}
            BINARY_DIR ${dir}
            CMAKE_GENERATOR Ninja
            CMAKE_ARGS
                -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-${arch}.cmake
                -DCMAKE_BUILD_TYPE=Release
                -DQUELVAR_TESTS=${tests}
                -DQUELVAR_REQUIRE_SAMPLES=${tests}
                -DQUELVAR_CLI11_DIR=${QUELVAR_CLI11_DIR}
            BUILD_COMMAND ${CMAKE_COMMAND} --build ${dir} -j ${QUELVAR_WINDOWS_JOBS}
            BUILD_ALWAYS ON
            INSTALL_COMMAND ""
            DEPENDS ${previous}
            USES_TERMINAL_BUILD ON)
        set(previous quelvar_windows_${arch})
    endforeach()
    add_custom_target(quelvar_windows ALL DEPENDS quelvar_windows_x86_64 quelvar_windows_i686)
endif()
