# Windows images built from resource scripts by mingw-w64 (windres and g++), used by the tests
# and the demo. quelvar_add_sample(NAME ARCH RC [SOURCE FILE] [CONSOLE] [LINK_FLAGS ...])
# builds ${QUELVAR_SAMPLE_DIR}/NAME.exe for ARCH i686 (PE32) or x86_64 (PE32+) and adds it to
# the target quelvar_samples. The program is SOURCE (by default a stub that only returns), a
# GUI program unless CONSOLE is given. With MC, windmc compiles the message file first into
# the folders unicode/ (UTF-16 messages) and ansi/ (ANSI) of the sample's build folder, where
# the resource script finds the .bin files. By default the image is stripped and linked without a
# relocation section, so that its resource section is the last one.
set(QUELVAR_SAMPLE_DIR ${CMAKE_BINARY_DIR}/samples)
set(QUELVAR_SAMPLE_STUB ${CMAKE_SOURCE_DIR}/tests/samples/stub.cpp)
option(QUELVAR_REQUIRE_SAMPLES "Fail when mingw-w64 is missing" OFF)

find_program(QUELVAR_WINDRES_I686 i686-w64-mingw32-windres)
find_program(QUELVAR_WINDRES_X86_64 x86_64-w64-mingw32-windres)
find_program(QUELVAR_GXX_I686 NAMES i686-w64-mingw32-g++-posix i686-w64-mingw32-g++)
find_program(QUELVAR_GXX_X86_64 NAMES x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-g++)
find_program(QUELVAR_WINDMC NAMES x86_64-w64-mingw32-windmc i686-w64-mingw32-windmc)

if(QUELVAR_WINDRES_I686 AND QUELVAR_WINDRES_X86_64 AND QUELVAR_GXX_I686 AND QUELVAR_GXX_X86_64
   AND QUELVAR_WINDMC)
    set(QUELVAR_HAVE_SAMPLES ON)
else()
    set(QUELVAR_HAVE_SAMPLES OFF)
    if(QUELVAR_REQUIRE_SAMPLES)
        message(FATAL_ERROR "mingw-w64 (windres, windmc, g++) is needed to build the sample images")
    endif()
    message(WARNING "mingw-w64 not found: tests on images built by windres are skipped")
endif()

add_custom_target(quelvar_samples)
file(MAKE_DIRECTORY ${QUELVAR_SAMPLE_DIR})

function(quelvar_add_sample NAME ARCH RC)
    if(NOT QUELVAR_HAVE_SAMPLES)
        return()
    endif()
    cmake_parse_arguments(SAMPLE "CONSOLE" "SOURCE;MC" "LINK_FLAGS" ${ARGN})
    if(NOT SAMPLE_SOURCE)
        set(SAMPLE_SOURCE ${QUELVAR_SAMPLE_STUB})
    endif()
    if(SAMPLE_CONSOLE)
        set(subsystem -mconsole)
    else()
        set(subsystem -mwindows)
    endif()
    if(NOT SAMPLE_LINK_FLAGS)
        set(SAMPLE_LINK_FLAGS -s -Wl,--disable-dynamicbase,--disable-reloc-section)
    endif()
    if(ARCH STREQUAL "i686")
        set(windres ${QUELVAR_WINDRES_I686})
        set(gxx ${QUELVAR_GXX_I686})
    else()
        set(windres ${QUELVAR_WINDRES_X86_64})
        set(gxx ${QUELVAR_GXX_X86_64})
    endif()
    set(res ${QUELVAR_SAMPLE_DIR}/${NAME}.res)
    set(exe ${QUELVAR_SAMPLE_DIR}/${NAME}.exe)
    get_filename_component(rc_dir ${RC} DIRECTORY)
    set(mc_commands)
    set(mc_dir ${QUELVAR_SAMPLE_DIR}/${NAME}.mc)
    if(SAMPLE_MC)
        set(mc_commands
            COMMAND ${CMAKE_COMMAND} -E make_directory ${mc_dir}/unicode ${mc_dir}/ansi
            COMMAND ${QUELVAR_WINDMC} -C 65001 -U -h ${mc_dir} -r ${mc_dir}/unicode ${SAMPLE_MC}
            COMMAND ${QUELVAR_WINDMC} -C 65001 -A -h ${mc_dir} -r ${mc_dir}/ansi ${SAMPLE_MC})
    endif()
    add_custom_command(
        OUTPUT ${exe}
        ${mc_commands}
        COMMAND ${windres} -c 65001 -I ${rc_dir} -I ${mc_dir} -O coff -i ${RC} -o ${res}
        COMMAND ${gxx} -O2 -static ${subsystem} ${SAMPLE_SOURCE} ${res} -o ${exe}
                ${SAMPLE_LINK_FLAGS}
        DEPENDS ${RC} ${SAMPLE_SOURCE} ${SAMPLE_MC}
        COMMENT "Building sample image ${NAME}.exe"
        VERBATIM)
    add_custom_target(quelvar_sample_${NAME} DEPENDS ${exe})
    add_dependencies(quelvar_samples quelvar_sample_${NAME})
endfunction()

# Compiled resource files of a resource script, as a build that translates them between the
# resource compiler and the linker holds them: quelvar_add_res(NAME RC [LLVM] [SAMPLE NAME])
# writes ${QUELVAR_SAMPLE_DIR}/NAME.windres.res (windres -O res) and with LLVM, when llvm-rc is
# installed, NAME.llvm.res. SAMPLE names the sample whose message files the script includes.
# llvm-rc reads a word beginning with / as an option (/check/... as /C), hence the -- before RC.
find_program(QUELVAR_LLVM_RC llvm-rc)
find_path(QUELVAR_MINGW_INCLUDE windows.h
    PATHS /usr/share/mingw-w64/include /usr/x86_64-w64-mingw32/include NO_DEFAULT_PATH)

function(quelvar_add_res NAME RC)
    if(NOT QUELVAR_HAVE_SAMPLES)
        return()
    endif()
    cmake_parse_arguments(RES "LLVM" "SAMPLE" "" ${ARGN})
    get_filename_component(rc_dir ${RC} DIRECTORY)
    set(windres_res ${QUELVAR_SAMPLE_DIR}/${NAME}.windres.res)
    set(llvm_res ${QUELVAR_SAMPLE_DIR}/${NAME}.llvm.res)
    set(includes -I ${rc_dir})
    set(depends ${RC})
    if(RES_SAMPLE)
        list(APPEND includes -I ${QUELVAR_SAMPLE_DIR}/${RES_SAMPLE}.mc)
        list(APPEND depends ${QUELVAR_SAMPLE_DIR}/${RES_SAMPLE}.exe)
    endif()
    set(outputs ${windres_res})
    set(llvm_commands)
    if(RES_LLVM AND QUELVAR_LLVM_RC AND QUELVAR_MINGW_INCLUDE)
        list(APPEND outputs ${llvm_res})
        set(llvm_commands COMMAND ${QUELVAR_LLVM_RC} -C 65001 ${includes}
            -I ${QUELVAR_MINGW_INCLUDE} -FO ${llvm_res} -- ${RC})
    endif()
    add_custom_command(
        OUTPUT ${outputs}
        COMMAND ${QUELVAR_WINDRES_X86_64} -c 65001 ${includes} -O res -i ${RC} -o ${windres_res}
        ${llvm_commands}
        DEPENDS ${depends}
        COMMENT "Compiling ${NAME}.res"
        VERBATIM)
    add_custom_target(quelvar_res_${NAME} DEPENDS ${outputs})
    add_dependencies(quelvar_samples quelvar_res_${NAME})
endfunction()
