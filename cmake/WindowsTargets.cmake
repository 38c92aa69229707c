# Windows-only targets around qVORK.dll, included from the top-level
# CMakeLists.txt after the qvork_plugin target is defined:
#   - the CTest test windows_dll_tables: the DLL exports exactly the fourteen
#     entry points, undecorated, and imports only system DLLs;
#   - the target dist: qVORK-<version>-win32.zip with the folder qVORK/ holding
#     qVORK.dll (stripped, and checked again), its help file qVORK.hlf and
#     README.txt (both with CRLF line ends, for Windows users).
set(QVORK_CHECK_DLL "${CMAKE_CURRENT_LIST_DIR}/../scripts/windows-check-dll.sh")
get_filename_component(QVORK_CHECK_DLL "${QVORK_CHECK_DLL}" ABSOLUTE)
find_program(QVORK_BASH bash)

if(QVORK_BASH)
  add_test(NAME windows_dll_tables
           COMMAND ${QVORK_BASH} ${QVORK_CHECK_DLL} $<TARGET_FILE:qvork_plugin>)
  set_tests_properties(windows_dll_tables PROPERTIES
                       ENVIRONMENT "OBJDUMP=${CMAKE_OBJDUMP}")
endif()

set(QVORK_DIST_NAME "qVORK-${PROJECT_VERSION}-win32")
set(QVORK_DIST_STAGE "${CMAKE_BINARY_DIR}/dist-stage")
set(QVORK_DIST_ZIP "${CMAKE_BINARY_DIR}/${QVORK_DIST_NAME}.zip")

configure_file("${CMAKE_CURRENT_LIST_DIR}/../dist/README.txt"
               "${QVORK_DIST_STAGE}/qVORK/README.txt" @ONLY NEWLINE_STYLE CRLF)

# The help file as it is: its "~text~@Topic@" links must not be taken for
# configure_file's @VARIABLE@ references.
set(QVORK_HELP_SOURCE "${CMAKE_CURRENT_LIST_DIR}/../dist/qVORK.hlf")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${QVORK_HELP_SOURCE}")
file(READ "${QVORK_HELP_SOURCE}" QVORK_HELP_TEXT)
string(REPLACE "\r\n" "\n" QVORK_HELP_TEXT "${QVORK_HELP_TEXT}")
string(REPLACE "\n" "\r\n" QVORK_HELP_TEXT "${QVORK_HELP_TEXT}")
file(WRITE "${QVORK_DIST_STAGE}/qVORK/qVORK.hlf" "${QVORK_HELP_TEXT}")

set(QVORK_DIST_CHECK_COMMAND)
if(QVORK_BASH)
  set(QVORK_DIST_CHECK_COMMAND COMMAND ${CMAKE_COMMAND} -E env OBJDUMP=${CMAKE_OBJDUMP}
                               ${QVORK_BASH} ${QVORK_CHECK_DLL} "${QVORK_DIST_STAGE}/qVORK/qVORK.dll")
endif()

# Users get the DLL without its symbol tables (the export table stays).
set(QVORK_DIST_STRIP_COMMAND)
if(CMAKE_STRIP)
  set(QVORK_DIST_STRIP_COMMAND COMMAND ${CMAKE_STRIP} --strip-unneeded
                               "${QVORK_DIST_STAGE}/qVORK/qVORK.dll")
endif()

add_custom_command(
  OUTPUT "${QVORK_DIST_ZIP}"
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:qvork_plugin> "${QVORK_DIST_STAGE}/qVORK/qVORK.dll"
  ${QVORK_DIST_STRIP_COMMAND}
  ${QVORK_DIST_CHECK_COMMAND}
  COMMAND ${CMAKE_COMMAND} -E rm -f "${QVORK_DIST_ZIP}"
  COMMAND ${CMAKE_COMMAND} -E chdir "${QVORK_DIST_STAGE}"
          ${CMAKE_COMMAND} -E tar cf "${QVORK_DIST_ZIP}" --format=zip
          qVORK/qVORK.dll qVORK/qVORK.hlf qVORK/README.txt
  DEPENDS qvork_plugin "${QVORK_DIST_STAGE}/qVORK/README.txt" "${QVORK_HELP_SOURCE}"
          "${CMAKE_CURRENT_LIST_DIR}/../dist/README.txt"
  COMMENT "Packing ${QVORK_DIST_NAME}.zip"
  VERBATIM)
add_custom_target(dist DEPENDS "${QVORK_DIST_ZIP}")
