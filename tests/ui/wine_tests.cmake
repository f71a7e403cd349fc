# The Windows builds' tests, run under Wine from the build machine's test suite: the core
# suite built for x86_64 (so that the Win32 platform layer runs, not only compiles), and the
# driver of the real dialog inside a virtual X server. Only 64-bit programs run under wine64.
if(NOT QUELVAR_HAVE_WINDOWS_BUILDS OR NOT QUELVAR_TESTS)
    return()
endif()
find_program(QUELVAR_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(QUELVAR_WINE NAMES wine64 wine)
find_program(QUELVAR_XVFB_RUN xvfb-run)
if(NOT QUELVAR_WINE)
    message(WARNING "wine64 not found: the Windows builds' tests are skipped")
    return()
endif()

set(windows_dir ${QUELVAR_WINDOWS_DIR_x86_64})
# A Wine prefix of the build's own, made once; no Mono or Gecko prompts.
set(wine_env
    WINEPREFIX=${CMAKE_BINARY_DIR}/wine
    WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml=)

add_test(NAME wine_prefix
    COMMAND ${CMAKE_COMMAND} -E env ${wine_env} ${CMAKE_SOURCE_DIR}/tests/ui/wine_prefix.sh
            ${QUELVAR_WINE})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine RESOURCE_LOCK wine TIMEOUT 300)

add_test(NAME windows_tests
    COMMAND ${CMAKE_COMMAND} -E env ${wine_env} ${QUELVAR_WINE}
            ${windows_dir}/tests/quelvar_tests.exe --gtest_brief=1
    WORKING_DIRECTORY ${windows_dir}/tests)
set_tests_properties(windows_tests PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wine
    TIMEOUT 600)

if(QUELVAR_XVFB_RUN)
    add_test(NAME dialog_tests
        COMMAND ${CMAKE_COMMAND} -E env ${wine_env} ${QUELVAR_XVFB_RUN} -a
                -s "-screen 0 800x600x24" ${QUELVAR_WINE}
                ${windows_dir}/tests/quelvar_dialog_tests.exe --gtest_brief=1
                --gtest_filter=-Screenshot.*
        WORKING_DIRECTORY ${windows_dir}/tests)
    set_tests_properties(dialog_tests PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wine
        TIMEOUT 600)
else()
    message(WARNING "xvfb-run not found: the dialog's tests are skipped")
endif()
