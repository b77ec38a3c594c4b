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
