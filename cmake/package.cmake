# The packages, made by CPack from the install rules (cmake/install.cmake):
#   Linux:    quelvar_<version>_<arch>.deb, its dependencies computed by dpkg-shlibdeps
#   Windows:  quelvar-<version>-win64.zip or quelvar-<version>-win32.zip, one folder of that
#             name inside
# cmake/make_packages.cmake runs CPack in this build and in its Windows builds.
set(CPACK_PACKAGE_NAME quelvar)
set(CPACK_PACKAGE_VENDOR "The Quelvar authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Translates the string tables, menus and dialogs of Windows programs")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(CPACK_PACKAGE_FILE_NAME quelvar-${PROJECT_VERSION}-win64)
    else()
        set(CPACK_PACKAGE_FILE_NAME quelvar-${PROJECT_VERSION}-win32)
    endif()
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_STRIP_FILES ON)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Quelvar authors <maintainers@quelvar.invalid>")
    set(CPACK_DEBIAN_PACKAGE_SECTION devel)
    set(CPACK_PACKAGE_DESCRIPTION
        "quelvar-cli exports every text of the string tables, menus and dialogs of a Windows
program image (.exe, .dll; PE32 and PE32+) to a UTF-16 key=value language file,
and imports a translated file back, rebuilding the image's resource section.")
    # Depends: what the installed programs link, as dpkg-shlibdeps finds it.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # check --layout measures with these fonts where no Windows fonts are given: Wine's Tahoma
    # and Liberation Sans always, Noto for the scripts they lack (large: recommended).
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wine, fonts-liberation")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-core, fonts-noto-cjk")
    find_program(QUELVAR_DPKG_SHLIBDEPS dpkg-shlibdeps)
    find_program(QUELVAR_FILE file)
    if(NOT QUELVAR_DPKG_SHLIBDEPS OR NOT QUELVAR_FILE)
        message(WARNING "dpkg-shlibdeps or file is missing: the Debian package would lack its "
                        "dependencies (scripts/setup installs dpkg-dev and file)")
    endif()
endif()
include(CPack)
