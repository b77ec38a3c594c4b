# The Linux build's own tests, beside the shared list in tests/CMakeLists.txt. Each is Linux by
# nature, with no Windows counterpart:
#   tst_netns              Linux network namespaces and a veth pair, made with iproute2
#   tst_tray_desktop       an X11 desktop (Xvfb, openbox, trayer) driving the Linux program; the
#                          Windows program's own desktop test is in windows/tests.cmake
#   tst_tray_dbus          a D-Bus tray on a private session bus, which the Windows Qt has not
#   tst_accessibility_atspi  the window read through AT-SPI, Linux's accessibility interface
#   icons_match_drawings   the install into the user's XDG space, its menu entry and hicolor icons
#   desktop_entry_valid
#   user_install_roundtrip
#   chaos_selfcheck        the counting of the chaos soak (make chaos), which is Linux's alone

# The network changing under the client, in network namespaces that run.sh makes for the run (root
# only; 77 with the reason otherwise). The system's own time-outs run at their real pace here.
vestrel_add_test(linux/tst_netns RUN_WITH bash ${CMAKE_CURRENT_SOURCE_DIR}/netns/run.sh)
target_compile_definitions(tst_netns PRIVATE DDNS_SIM_PATH="$<TARGET_FILE:ddns-sim>")
add_dependencies(tst_netns ddns-sim)
set_tests_properties(tst_netns PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 240)

# The chaos soak's own arithmetic: its windows, its schedule and the checksums of its delay line.
# The soak itself runs for minutes as root, through `make chaos`, not here.
add_test(NAME chaos_selfcheck COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/chaos/chaos.py --self-check)

# The tray on a real X desktop (Xvfb, openbox, trayer), driven with xdotool against the simulated
# service. The client has the service's port compiled in; the port is drawn once, when the build is
# first configured, below the ephemeral range, so that separate build trees rarely collide.
if(TARGET ddns-sim)
  vestrel_draw_port(VESTREL_DESKTOP_TEST_PORT 20000 "Loopback port of the simulated service in the desktop test")
  vestrel_add_program(vestrel-loopback 127.0.0.1 ${VESTREL_DESKTOP_TEST_PORT})
  add_test(NAME tst_tray_desktop
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/desktop/tray-desktop.sh
      $<TARGET_FILE:vestrel-loopback> $<TARGET_FILE:ddns-sim> ${VESTREL_DESKTOP_TEST_PORT}
      ${CMAKE_CURRENT_BINARY_DIR}/desktop-artifacts)
  # 77: the desktop tools are not installed; the script says which. Serial, so that a busy machine
  # does not stretch the double-click. The script puts the program itself on the X display. About
  # two minutes on a busy machine, most of it waiting for the tray to come and go.
  set_tests_properties(tst_tray_desktop PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 300 RUN_SERIAL TRUE ENVIRONMENT "${VESTREL_TEST_ENVIRONMENT}")
  # The open window read through AT-SPI, as a screen reader reads it, against the same simulator
  # port; 77 when a tool is missing. The script puts the program on its own X display and buses.
  add_test(NAME tst_accessibility_atspi
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/desktop/accessibility.sh
      $<TARGET_FILE:vestrel-loopback> $<TARGET_FILE:ddns-sim> ${VESTREL_DESKTOP_TEST_PORT}
      ${CMAKE_CURRENT_BINARY_DIR}/accessibility-artifacts)
  set_tests_properties(tst_accessibility_atspi PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 120 RUN_SERIAL TRUE ENVIRONMENT "${VESTREL_TEST_ENVIRONMENT}")
endif()

# The tray where Qt uses a D-Bus tray, against a stand-in StatusNotifierWatcher (tests/support) on a
# private session bus and a virtual X display that the script makes; 77 when a tool is missing.
if(TARGET Qt6::DBus)
  add_executable(sniwatcher support/sniwatcher.cpp)
  target_link_libraries(sniwatcher PRIVATE Qt6::DBus vestrel_warnings)
  vestrel_add_test(linux/tst_tray_dbus RUN_WITH bash ${CMAKE_CURRENT_SOURCE_DIR}/desktop/tray-dbus.sh)
  target_compile_definitions(tst_tray_dbus PRIVATE SNI_WATCHER_PATH="$<TARGET_FILE:sniwatcher>")
  add_dependencies(tst_tray_dbus sniwatcher)
  set_tests_properties(tst_tray_dbus PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endif()

# The application icon and the install into the user's own space. The PNGs are what the SVGs draw
# today; the menu entry the install writes passes desktop-file-validate; uninstall takes out exactly
# what install put in. The last two run `cmake --install` on this build tree, so one at a time.
# 77: a tool is missing; the script says which.
add_test(NAME icons_match_drawings COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install/icons.sh)
add_test(NAME desktop_entry_valid COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install/desktop-entry.sh ${CMAKE_BINARY_DIR})
add_test(NAME user_install_roundtrip COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install/roundtrip.sh ${CMAKE_BINARY_DIR})
set_tests_properties(icons_match_drawings desktop_entry_valid user_install_roundtrip PROPERTIES
  SKIP_RETURN_CODE 77 TIMEOUT 60)
set_tests_properties(desktop_entry_valid user_install_roundtrip PROPERTIES RESOURCE_LOCK vestrel_build_install)
