# Makes the packages of a configured and built tree and their SHA-256 sums:
#   cmake -D BUILD_DIR=build -D OUTPUT_DIR=dist [-D WINDOWS=ON] -P cmake/make_packages.cmake
# writes into OUTPUT_DIR the Debian package of BUILD_DIR and, with WINDOWS, the zips of its
# Windows builds (BUILD_DIR/windows-x86_64 and windows-i686), then SHA256SUMS, which
# `sha256sum -c SHA256SUMS` checks. Packages already in OUTPUT_DIR are replaced.
foreach(var BUILD_DIR OUTPUT_DIR)
    if(NOT ${var})
        message(FATAL_ERROR "make_packages: ${var} is not set")
    endif()
    get_filename_component(${var} ${${var}} ABSOLUTE)
endforeach()

set(builds ${BUILD_DIR})
if(WINDOWS)
    list(APPEND builds ${BUILD_DIR}/windows-x86_64 ${BUILD_DIR}/windows-i686)
endif()

get_filename_component(cmake_bin ${CMAKE_COMMAND} DIRECTORY)
find_program(cpack NAMES cpack HINTS ${cmake_bin} NO_DEFAULT_PATH)
find_program(cpack NAMES cpack REQUIRED)

set(staging ${BUILD_DIR}/cpack)
file(REMOVE_RECURSE ${staging})
file(MAKE_DIRECTORY ${OUTPUT_DIR})
file(GLOB old ${OUTPUT_DIR}/*.deb ${OUTPUT_DIR}/*.zip ${OUTPUT_DIR}/SHA256SUMS)
if(old)
    file(REMOVE ${old})
endif()

foreach(build IN LISTS builds)
    if(NOT EXISTS ${build}/CPackConfig.cmake)
        message(FATAL_ERROR "make_packages: ${build} is not a configured build")
    endif()
    execute_process(COMMAND ${cpack} --config ${build}/CPackConfig.cmake -B ${staging}
                    RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "make_packages: CPack failed in ${build}")
    endif()
endforeach()

file(GLOB packages RELATIVE ${staging} ${staging}/*.deb ${staging}/*.zip)
list(LENGTH builds expected)
list(LENGTH packages made)
if(NOT made EQUAL expected)
    message(FATAL_ERROR "make_packages: ${made} packages instead of ${expected}: ${packages}")
endif()
set(sums "")
foreach(package IN LISTS packages)
    file(COPY ${staging}/${package} DESTINATION ${OUTPUT_DIR})
    file(SHA256 ${OUTPUT_DIR}/${package} sum)
    string(APPEND sums "${sum}  ${package}\n")
    message(STATUS "${OUTPUT_DIR}/${package}")
endforeach()
file(WRITE ${OUTPUT_DIR}/SHA256SUMS "${sums}")
