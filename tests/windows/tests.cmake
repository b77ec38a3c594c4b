# The Windows build's own tests, beside the shared list above: run under Wine by `make test-windows`.

# The program folder as a user unzips it (cmake --install of this tree), under Wine on a virtual X
# display with an XEmbed tray, against the simulator on a loopback port drawn once for this tree:
# requests every ten seconds, the icon docked, a double-click shows the window. Screenshots go to
# wine-desktop-artifacts/. 77: a desktop tool is missing. Serial, so that a busy machine does not
# stretch the double-click.
vestrel_draw_port(VESTREL_WINE_DESKTOP_TEST_PORT 20000 "Loopback port of the simulated service in the Wine desktop test")
vestrel_add_program(vestrel-loopback 127.0.0.1 ${VESTREL_WINE_DESKTOP_TEST_PORT})
add_test(NAME wine_desktop
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine-desktop.sh ${CMAKE_BINARY_DIR}
    $<TARGET_FILE:vestrel-loopback> $<TARGET_FILE:ddns-sim> ${VESTREL_WINE_DESKTOP_TEST_PORT}
    ${CMAKE_CURRENT_BINARY_DIR}/wine-desktop-artifacts)
set_tests_properties(wine_desktop PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 240 RUN_SERIAL TRUE)
