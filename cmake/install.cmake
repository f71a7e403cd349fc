# What `cmake --install` puts under the prefix, and so what the packages hold:
#   Linux:    bin/quelvar-cli, share/man/man1/quelvar-cli.1.gz, the completion scripts of bash
#             and zsh and share/doc/quelvar/ (README.md, copyright, examples/), as Debian lays a
#             package out
#   Windows:  quelvar.exe, quelvar-cli.exe, README.md, LICENSE and examples/, side by side
# The manual page is configured with the project's version.
configure_file(${CMAKE_SOURCE_DIR}/docs/quelvar-cli.1.in ${CMAKE_BINARY_DIR}/quelvar-cli.1 @ONLY)
set(QUELVAR_MAN_PAGE ${CMAKE_BINARY_DIR}/quelvar-cli.1)

if(WIN32)
    # The shipped programs carry no symbols (quelvar.exe is linked with -s already; stripping
    # it afterwards would rewrite its layout).
    target_link_options(quelvar-cli PRIVATE -s)
    install(TARGETS quelvar-cli quelvar RUNTIME DESTINATION .)
    set(doc_dir .)
else()
    include(GNUInstallDirs)
    install(TARGETS quelvar-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    # Manual pages are installed compressed, without a name or time stamp in the gzip header
    # so that the package is the same from one build to the next.
    set(man_gz ${CMAKE_BINARY_DIR}/quelvar-cli.1.gz)
    add_custom_command(OUTPUT ${man_gz}
        COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" gzip ${QUELVAR_MAN_PAGE} ${man_gz}
        DEPENDS ${QUELVAR_MAN_PAGE} VERBATIM)
    add_custom_target(quelvar_man_page ALL DEPENDS ${man_gz})
    install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    # The shells' completion scripts, written by quelvar-cli from its declared command line.
    set(completions ${CMAKE_BINARY_DIR}/completions)
    add_custom_command(OUTPUT ${completions}/quelvar-cli ${completions}/_quelvar-cli
        COMMAND ${CMAKE_COMMAND} -E make_directory ${completions}
        COMMAND sh -c "\"$1\" --completions bash > \"$2\" && \"$1\" --completions zsh > \"$3\""
            completions $<TARGET_FILE:quelvar-cli> ${completions}/quelvar-cli
            ${completions}/_quelvar-cli
        DEPENDS quelvar-cli VERBATIM)
    add_custom_target(quelvar_completions ALL
        DEPENDS ${completions}/quelvar-cli ${completions}/_quelvar-cli)
    install(FILES ${completions}/quelvar-cli
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)
    install(FILES ${completions}/_quelvar-cli
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/zsh/vendor-completions)
    # The licence in Debian's machine-readable copyright format, made from LICENSE: its
    # copyright line, then its text from "Permission" on, each line indented, blank lines as " .".
    file(READ ${CMAKE_SOURCE_DIR}/LICENSE license)
    string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" unused "${license}")
    set(holder "${CMAKE_MATCH_1}")
    string(FIND "${license}" "Permission" start)
    string(SUBSTRING "${license}" ${start} -1 license)
    string(STRIP "${license}" license)
    string(REPLACE "\n\n" "\n.\n" license "${license}")
    string(REPLACE "\n" "\n " license "${license}")
    file(WRITE ${CMAKE_BINARY_DIR}/copyright
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
        "Upstream-Name: quelvar\n\nFiles: *\nCopyright: ${holder}\nLicense: Expat\n ${license}\n")
    set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/quelvar)
    install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION ${doc_dir})
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${doc_dir})
if(WIN32)
    install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${doc_dir})
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples DESTINATION ${doc_dir})
