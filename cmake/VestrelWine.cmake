# Cross-built for Windows, the tests run under Wine, in a prefix of the build tree's own: CMake runs
# every test program through wine-run.sh, with the Qt and MinGW libraries on Wine's search path.
if(NOT (WIN32 AND CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR))
  return()
endif()
set(VESTREL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
  OUTPUT_VARIABLE libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libwinpthread-1.dll
  OUTPUT_VARIABLE libwinpthread OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(mingw_runtime ${libstdcxx} DIRECTORY)
get_filename_component(mingw_threads ${libwinpthread} DIRECTORY)
file(REAL_PATH ${mingw_threads} mingw_threads)
# Wine sees the Linux file system as drive Z:.
set(VESTREL_WINEPATH "Z:${QT6_INSTALL_PREFIX}/bin;Z:${mingw_runtime};Z:${mingw_threads}")
set(VESTREL_WINE_QT_PLUGINS "Z:${QT6_INSTALL_PREFIX}/plugins")
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR bash ${CMAKE_BINARY_DIR}/wine-run.sh)

# Wine 10 beside it, from the Debian 13 root of scripts/windows/wine10.sh: wine10.sh runs a command
# (ctest, wine-run.sh) with Wine's programs on PATH replaced by ones that enter the root, with this
# tree, the sources, the Qt and the MinGW runtime bound in at their own paths. VESTREL_WINE=10 tells
# the harness and the test scripts to use prefixes of Wine 10's own (wineprefix10...).
set(VESTREL_WINE10_BINDS "")
foreach(dir ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${QT6_INSTALL_PREFIX} ${mingw_runtime} ${mingw_threads})
  string(APPEND VESTREL_WINE10_BINDS " --bind '${dir}'")
endforeach()
foreach(VESTREL_WINE_PROGRAM wine wine64 wineboot wineserver winepath)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine10-program.sh.in ${CMAKE_BINARY_DIR}/wine10/bin/${VESTREL_WINE_PROGRAM}
    @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine10.sh.in ${CMAKE_BINARY_DIR}/wine10.sh @ONLY)
