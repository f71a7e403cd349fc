# The manual page and the packages as users get them. The fixture `packages` makes them with
# cmake/make_packages.cmake into packages/ of this build (the Debian package, and the zips
# when the Windows builds are on); check_deb.sh and check_zip.sh then look inside.
find_program(QUELVAR_GROFF groff)
if(QUELVAR_GROFF)
    add_test(NAME man_page COMMAND ${QUELVAR_GROFF} -man -ww -z ${QUELVAR_MAN_PAGE})
    set_tests_properties(man_page PROPERTIES FAIL_REGULAR_EXPRESSION "warning|error")
else()
    message(WARNING "groff not found: the manual page is not checked")
endif()

# Packages are made from plain builds only, not from sanitized or instrumented ones.
if(QUELVAR_SANITIZE OR QUELVAR_FUZZ OR QUELVAR_COVERAGE)
    return()
endif()
find_program(QUELVAR_DPKG_DEB dpkg-deb)
if(NOT QUELVAR_DPKG_DEB OR NOT QUELVAR_HAVE_SAMPLES)
    message(WARNING "dpkg-deb or mingw-w64 missing: the packages are not tested")
    return()
endif()

set(packages ${CMAKE_BINARY_DIR}/packages)
set(here ${CMAKE_CURRENT_LIST_DIR})
add_test(NAME packages
    COMMAND ${CMAKE_COMMAND} -D BUILD_DIR=${CMAKE_BINARY_DIR} -D OUTPUT_DIR=${packages}
            -D WINDOWS=${QUELVAR_HAVE_WINDOWS_BUILDS} -P ${CMAKE_SOURCE_DIR}/cmake/make_packages.cmake)
set_tests_properties(packages PROPERTIES FIXTURES_SETUP packages TIMEOUT 600)

add_test(NAME package_deb
    COMMAND ${here}/check_deb.sh ${packages} ${PROJECT_VERSION} ${CMAKE_SOURCE_DIR}
            ${QUELVAR_SAMPLE_DIR}/demo.exe)
set_tests_properties(package_deb PROPERTIES FIXTURES_REQUIRED packages)

if(NOT QUELVAR_HAVE_WINDOWS_BUILDS)
    return()
endif()
find_program(QUELVAR_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
add_test(NAME package_win32
    COMMAND ${here}/check_zip.sh ${packages}/quelvar-${PROJECT_VERSION}-win32.zip
            ${CMAKE_SOURCE_DIR} ${QUELVAR_OBJDUMP})
set_tests_properties(package_win32 PROPERTIES FIXTURES_REQUIRED packages)
# Only the 64-bit programs run here, under wine64 (tests/ui/wine_tests.cmake).
if(QUELVAR_WINE)
    add_test(NAME package_win64
        COMMAND ${CMAKE_COMMAND} -E env ${wine_env} ${here}/check_zip.sh
                ${packages}/quelvar-${PROJECT_VERSION}-win64.zip ${CMAKE_SOURCE_DIR}
                ${QUELVAR_OBJDUMP} ${QUELVAR_WINE})
    set_tests_properties(package_win64 PROPERTIES FIXTURES_REQUIRED "packages;wine"
        RESOURCE_LOCK wine TIMEOUT 300)
endif()
