# The Windows build's own tests, beside the shared list in tests/CMakeLists.txt: run under Wine by
# `make test-windows`.

# The Windows files' answers to the system, with the test playing the system where Wine does not.
vestrel_add_test(windows/tst_platform_win)

# A process of another user's that serves the client's pipe name first, for tst_singleinstance.
add_executable(pipestandin support/pipestandin.cpp)
target_link_libraries(pipestandin PRIVATE Qt6::Network vestrel_warnings)
target_compile_definitions(tst_singleinstance PRIVATE PIPE_STAND_IN_PATH="$<TARGET_FILE:pipestandin>")
add_dependencies(tst_singleinstance pipestandin)

# The application manifest in the built programs, read as Windows reads it.
vestrel_add_test(windows/tst_manifest)
target_compile_definitions(tst_manifest PRIVATE
  VESTREL_PROGRAM_PATH="$<TARGET_FILE:vestrel>" VESTREL_INSTANCE_PATH="$<TARGET_FILE:vestrel-instance>")
add_dependencies(tst_manifest vestrel vestrel-instance)

# The program folder as a user unzips it (cmake --install of this tree), under Wine on a virtual X
# display with an XEmbed tray, against the simulator on a loopback port drawn once for this tree:
# requests every ten seconds, the icon docked, a double-click shows the window, the close box sends
# it back to the tray, taskkill ends it and the log file holds why. Screenshots go to
# wine-desktop-artifacts/. 77: a desktop tool is missing. Serial, so that a busy machine does not
# stretch the double-click.
# What the close box does, done by another process: WM_SYSCOMMAND SC_CLOSE. Linked statically, so
# that it runs with no DLL beside it.
add_executable(closecommand windows/closecommand.cpp)
target_link_options(closecommand PRIVATE -municode -static)
target_link_libraries(closecommand PRIVATE vestrel_warnings)
vestrel_draw_port(VESTREL_WINE_DESKTOP_TEST_PORT 20000 "Loopback port of the simulated service in the Wine desktop test")
vestrel_add_program(vestrel-loopback 127.0.0.1 ${VESTREL_WINE_DESKTOP_TEST_PORT})
add_test(NAME wine_desktop
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine-desktop.sh ${CMAKE_BINARY_DIR}
    $<TARGET_FILE:vestrel-loopback> $<TARGET_FILE:ddns-sim> ${VESTREL_WINE_DESKTOP_TEST_PORT}
    ${CMAKE_CURRENT_BINARY_DIR}/wine-desktop-artifacts $<TARGET_FILE:closecommand>)
set_tests_properties(wine_desktop PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 RUN_SERIAL TRUE)

# The setup (NSIS), silent under Wine in a prefix of its own: where it installs, its shortcuts and
# Apps-list entry, an update keeping config.dat, an update taking out what an earlier version
# installed and this one does not, an update that cannot replace a file leaving the earlier
# version as it was, a running client left alone, the uninstaller with and without the account,
# and the signatures of a build given a throwaway certificate. It lays out and packs its own copy
# of the program folder (and an earlier version's).
find_program(VESTREL_MAKENSIS makensis)
if(VESTREL_MAKENSIS)
  add_executable(holdfile windows/holdfile.cpp)
  target_link_libraries(holdfile PRIVATE vestrel_warnings)
  add_test(NAME windows_setup COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/setup-roundtrip.sh
    ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} $<TARGET_FILE:vestrel-instance> ${VESTREL_WINE_QT_PLUGINS}
    $<TARGET_FILE:holdfile>)
  # Every Wine start in it takes seconds, and tens of them on a busy machine: three setups made,
  # two signed, measured up to 11 min.
  set_tests_properties(windows_setup PROPERTIES TIMEOUT 1200)
endif()
# Both run `cmake --install` on this tree (its install manifest is one file): one at a time.
set_tests_properties(wine_desktop PROPERTIES RESOURCE_LOCK vestrel_windows_install)
if(TEST windows_setup)
  set_tests_properties(windows_setup PROPERTIES RESOURCE_LOCK vestrel_windows_install)
endif()

# The window as Windows draws it, with the system's fonts and visual style rather than the offscreen
# platform's stand-ins (which has no fonts there).
set_tests_properties(tst_scaling PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=windows")
set_tests_properties(tst_scaling_200 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=windows;QT_SCALE_FACTOR=2")
