# Installs the build into STAGE and checks that the installed desktop
# integration holds together: the program, the desktop file the metainfo
# launches, and the icon the desktop file names.
#
# Expects BINARY_DIR, STAGE, APP_ID, APPSTREAMCLI, BINDIR and DATADIR, and
# APPSTREAM_OVERRIDE, the validator's severity override or nothing.

file(REMOVE_RECURSE ${STAGE})
execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${STAGE}/usr
  OUTPUT_QUIET
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install into ${STAGE} failed: ${result}")
endif()

set(root ${STAGE}/usr)
set(desktop ${root}/${DATADIR}/applications/${APP_ID}.desktop)
foreach(path
    ${root}/${BINDIR}/olvesk
    ${desktop}
    ${root}/${DATADIR}/icons/hicolor/scalable/apps/${APP_ID}.svg
    ${root}/${DATADIR}/metainfo/${APP_ID}.metainfo.xml)
  if(NOT EXISTS ${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()

file(STRINGS ${desktop} icon_line REGEX "^Icon=")
file(STRINGS ${desktop} exec_line REGEX "^Exec=")
if(NOT icon_line STREQUAL "Icon=${APP_ID}")
  message(FATAL_ERROR "the desktop file names the icon '${icon_line}', "
                      "but the icon is installed as ${APP_ID}.svg")
endif()
string(REGEX REPLACE "^Exec=([^ ]+).*" "\\1" exec_program "${exec_line}")
if(NOT EXISTS ${root}/${BINDIR}/${exec_program})
  message(FATAL_ERROR "the desktop file runs '${exec_program}', "
                      "which is not installed in ${BINDIR}")
endif()

# Fails when the metainfo's launchable does not name an installed desktop file.
execute_process(
  COMMAND ${APPSTREAMCLI} validate-tree --no-net ${APPSTREAM_OVERRIDE} ${STAGE}
  OUTPUT_VARIABLE report
  ERROR_VARIABLE report
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "appstreamcli validate-tree failed:\n${report}")
endif()
file(REMOVE_RECURSE ${STAGE})
