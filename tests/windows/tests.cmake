# The Windows build's own tests, beside the shared list above: run under Wine by `make test-windows`.

# The setup (NSIS), silent under Wine in a prefix of its own: where it installs, its shortcuts and
# Apps-list entry, an update keeping config.dat, a running client left alone, and the uninstaller
# with and without the account. It lays out and packs its own copy of the program folder.
find_program(VESTREL_MAKENSIS makensis)
if(VESTREL_MAKENSIS)
  add_test(NAME windows_setup COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/setup-roundtrip.sh
    ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} $<TARGET_FILE:vestrel-instance> ${VESTREL_WINE_QT_PLUGINS})
  set_tests_properties(windows_setup PROPERTIES TIMEOUT 600)
endif()
