# What the Windows program carries beside its code: the icon and version resource every executable
# of the program gets, and the libraries a program folder must hold. Included only when building
# for Windows.

# The application icon for Explorer and the taskbar, made from the committed PNGs when the tree is
# configured (icoutils); the 256 px size stays PNG inside, as Windows expects.
find_program(VESTREL_ICOTOOL icotool REQUIRED)
set(vestrel_ico_sources)
foreach(size 16 22 24 32 48 64 128)
  list(APPEND vestrel_ico_sources ${PROJECT_SOURCE_DIR}/resources/vestrel-${size}.png)
endforeach()
set(VESTREL_ICO ${CMAKE_BINARY_DIR}/src/vestrel.ico)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/src)
execute_process(
  COMMAND ${VESTREL_ICOTOOL} -c -o ${VESTREL_ICO} ${vestrel_ico_sources}
    --raw=${PROJECT_SOURCE_DIR}/resources/vestrel-256.png
  RESULT_VARIABLE ico_result)
if(NOT ico_result EQUAL 0)
  message(FATAL_ERROR "icotool could not make ${VESTREL_ICO}")
endif()
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${vestrel_ico_sources}
  ${PROJECT_SOURCE_DIR}/resources/vestrel-256.png)

# Makes target a GUI program (no console window) carrying the icon, the version resource and the
# application manifest.
function(vestrel_windows_program target)
  set(vestrel_rc_target ${target})
  set(vestrel_ico ${VESTREL_ICO})
  set(vestrel_manifest ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/vestrel.manifest.in ${vestrel_manifest} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/vestrel.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  # The resource compiler reads these files; a change to either alone must rebuild the resources.
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}.rc PROPERTIES
    OBJECT_DEPENDS "${vestrel_manifest};${VESTREL_ICO}")
  set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE TRUE)
endfunction()

# A Windows program folder carries what the program loads: the Qt libraries and the plugins it uses
# (the platform, the native style, GIF for the status pictures) and the MinGW runtime.
function(vestrel_install_windows_runtime)
  install(FILES $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
    $<TARGET_FILE:Qt6::Network> DESTINATION .)
  install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
  install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
  install(FILES $<TARGET_FILE:Qt6::QGifPlugin> DESTINATION imageformats)
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
      OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${found}" OR NOT EXISTS "${found}")
      message(FATAL_ERROR "The MinGW runtime's ${dll} was not found (asked ${CMAKE_CXX_COMPILER})")
    endif()
    install(FILES ${found} DESTINATION .)
  endforeach()
endfunction()
