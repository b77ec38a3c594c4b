# vestrel_add_program(target host port): an executable of the program with the service's host and
# port compiled in. Besides the real program, tests, tools and benchmarks build variants that talk to
# a server on the loopback interface. On Windows each is a GUI program carrying the icon and a
# version resource (VestrelWindows.cmake).
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/VestrelWindows.cmake)
endif()

function(vestrel_add_program target host port)
  add_executable(${target} ${PROJECT_SOURCE_DIR}/src/app/main.cpp)
  if(WIN32)
    vestrel_windows_program(${target})
  endif()
  target_link_libraries(${target} PRIVATE vestrel_app vestrel_warnings)
  target_compile_definitions(${target} PRIVATE
    VESTREL_SERVICE_HOST="${host}" VESTREL_SERVICE_PORT=${port} VESTREL_VERSION="${PROJECT_VERSION}")
  # The program finds its pictures in icons/ beside the executable.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/icons $<TARGET_FILE_DIR:${target}>/icons
    VERBATIM)
endfunction()
