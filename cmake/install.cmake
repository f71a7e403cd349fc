# What `cmake --install` puts under the prefix, and so what the packages hold:
#   Linux:    bin/quelvar-cli, share/man/man1/quelvar-cli.1 and share/doc/quelvar/ (README.md,
#             LICENSE, examples/)
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
    install(FILES ${QUELVAR_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/quelvar)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${doc_dir})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples DESTINATION ${doc_dir})
