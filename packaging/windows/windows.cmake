# The Windows program: olvesk.exe with its icon, version information and
# manifest; the Qt and compiler runtime DLLs it needs beside it, as a Qt
# program for Windows is laid out; a portable zip and an NSIS installer.
# Included from packaging/CMakeLists.txt.

set(here ${CMAKE_CURRENT_LIST_DIR})
set(bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})

# The icon, drawn from the SVG at the sizes Windows asks for; the largest is
# stored as PNG.
find_program(OLVESK_ICOTOOL icotool REQUIRED)
set(OLVESK_ICO ${CMAKE_CURRENT_BINARY_DIR}/olvesk.ico)
set(icon_pngs)
foreach(size 16 20 24 32 40 48 64 256)
  set(png ${CMAKE_CURRENT_BINARY_DIR}/icon/olvesk-${size}.png)
  olvesk_icon_png(${size} ${png})
  if(size EQUAL 256)
    list(APPEND icon_pngs --raw=${png})
  else()
    list(APPEND icon_pngs ${png})
  endif()
  list(APPEND icon_png_files ${png})
endforeach()
add_custom_command(
  OUTPUT ${OLVESK_ICO}
  COMMAND ${OLVESK_ICOTOOL} --create --output=${OLVESK_ICO} ${icon_pngs}
  DEPENDS ${icon_png_files}
  VERBATIM)
add_custom_target(olvesk_icon DEPENDS ${OLVESK_ICO})

set(OLVESK_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/olvesk.exe.manifest)
configure_file(${here}/olvesk.exe.manifest.in ${OLVESK_MANIFEST} @ONLY)
set(rc ${CMAKE_CURRENT_BINARY_DIR}/olvesk.rc)
configure_file(${here}/olvesk.rc.in ${rc} @ONLY)
set_source_files_properties(${rc} TARGET_DIRECTORY olvesk PROPERTIES
  OBJECT_DEPENDS "${OLVESK_ICO};${OLVESK_MANIFEST}")
target_sources(olvesk PRIVATE ${rc})
add_dependencies(olvesk olvesk_icon)
# A window program: no console opens beside it.
set_target_properties(olvesk PROPERTIES WIN32_EXECUTABLE ON)

# What the program loads at run time. The compiler's runtime DLLs are the
# ones Qt was linked against.
set(qt_dlls $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui>
            $<TARGET_FILE:Qt6::Widgets>)
set(runtime_dlls)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "The compiler's runtime ${dll} was not found")
  endif()
  file(REAL_PATH "${path}" path)
  list(APPEND runtime_dlls ${path})
endforeach()
set(platform_plugin $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>)
set(style_plugin $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>)

# The same layout in the build's bin folder, so that the program and the
# tests run from there; the tests also get Qt's test library and the
# offscreen platform.
set(test_dlls)
if(BUILD_TESTING)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  set(test_dlls $<TARGET_FILE:Qt6::Test>)
endif()
add_custom_target(olvesk_windows_runtime ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${bin}/platforms ${bin}/styles
  COMMAND ${CMAKE_COMMAND} -E copy_if_different
          ${qt_dlls} ${test_dlls} ${runtime_dlls} ${here}/qt.conf ${bin}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different
          ${platform_plugin} $<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin>
          ${bin}/platforms
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${style_plugin} ${bin}/styles
  COMMENT "Laying out the Qt and compiler runtime DLLs beside the programs"
  VERBATIM)

install(TARGETS olvesk RUNTIME DESTINATION .)
install(FILES ${qt_dlls} ${runtime_dlls} ${here}/qt.conf DESTINATION .)
install(FILES ${platform_plugin} DESTINATION platforms)
install(FILES ${style_plugin} DESTINATION styles)
# With Windows line ends, which older Notepads need.
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt
               @ONLY NEWLINE_STYLE WIN32)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt DESTINATION .)
# The compiler's runtime DLLs come with their symbols: drop them from the
# installed copies, with Qt's.
if(CMAKE_STRIP)
  install(CODE "
    file(GLOB dlls \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/*.dll\"
                   \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/*/*.dll\")
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \${dlls}
                    COMMAND_ERROR_IS_FATAL ANY)")
endif()
# The licences of what ships beside the program: Qt's texts, and Debian's
# copyright files of the compiler runtime and of MinGW-w64's thread library.
install(DIRECTORY ${QT6_INSTALL_PREFIX}/licenses/ DESTINATION licenses/qt)
install(FILES /usr/share/doc/gcc-mingw-w64-base/copyright
        DESTINATION licenses RENAME gcc-runtime.txt)
install(FILES /usr/share/doc/mingw-w64-common/copyright
        DESTINATION licenses RENAME mingw-w64.txt)

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_FILE_NAME olvesk-${PROJECT_VERSION}-windows-x64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Olvesk)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Olvesk)
set(CPACK_PACKAGE_EXECUTABLES olvesk Olvesk)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
# CPack's uninstaller removes the program's shortcut from the default Start
# menu folder only; this removes it from the one chosen at install time too
# (the template gives it there as $MUI_TEMP), so that the folder goes.
set(CPACK_NSIS_DELETE_ICONS_EXTRA "Delete '$SMPROGRAMS\\\\$MUI_TEMP\\\\Olvesk.lnk'")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME Olvesk)
set(CPACK_NSIS_DISPLAY_NAME Olvesk)
set(CPACK_NSIS_INSTALLED_ICON_NAME olvesk.exe)
set(CPACK_NSIS_MUI_ICON ${OLVESK_ICO})
set(CPACK_NSIS_MUI_UNIICON ${OLVESK_ICO})
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
# A running olvesk.exe and the DLLs it has loaded can be neither replaced
# nor removed: the installer would skip them, silently under /S, and the
# uninstaller would take the entry in the list of installed programs away
# and leave them behind. Both first ask for the program to be closed, and
# change nothing when it is not (exit code 2 under /S). A read-only flag
# on the file would look the same, so it is cleared first.
set(olvesk_running_check
    "olvesk_running_check:
  IfFileExists '$INSTDIR\\\\olvesk.exe' 0 olvesk_not_running
  SetFileAttributes '$INSTDIR\\\\olvesk.exe' NORMAL
  ClearErrors
  FileOpen $0 '$INSTDIR\\\\olvesk.exe' a
  IfErrors 0 olvesk_closed
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION 'Olvesk is running from $INSTDIR. Close it, then click Retry.' /SD IDCANCEL IDRETRY olvesk_running_check
  Abort 'Olvesk is running.'
  olvesk_closed:
  FileClose $0
  olvesk_not_running:")
# An older version is uninstalled first, once it is closed. CPack's own
# CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL would run its uninstaller
# silently before this check: while Olvesk ran, that stopped, and the
# installer said only "Uninstall failed.", in a box that waits for a click
# under /S too. An entry whose uninstaller is gone is left to be replaced.
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS
    "${olvesk_running_check}
  ReadRegStr $0 HKLM 'Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Olvesk' 'UninstallString'
  StrCpy $1 $0 1
  StrCmp $1 '\\\"' 0 +2
  StrCpy $0 $0 -1 1
  IfFileExists $0 0 olvesk_no_old_version
  StrCpy $1 $0 -14
  ExecWait '\\\"$0\\\" /S _?=$1' $2
  StrCmp $2 0 olvesk_no_old_version
  MessageBox MB_OK|MB_ICONSTOP 'The Olvesk installed in $1 could not be uninstalled.' /SD IDOK
  Abort 'The Olvesk installed in $1 could not be uninstalled.'
  olvesk_no_old_version:")
# The uninstaller leaves no empty key of ours behind.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
    "${olvesk_running_check}
  DeleteRegKey SHCTX 'Software\\\\${CPACK_PACKAGE_VENDOR}\\\\Olvesk'
  DeleteRegKey /ifempty SHCTX 'Software\\\\${CPACK_PACKAGE_VENDOR}'")
# A 64-bit installer, which also writes the 64-bit registry view. Wine runs it
# without its 32-bit half.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
# An upgrade goes into the folder the program was installed in, where the
# old uninstaller, which cannot remove itself while it runs, is replaced;
# elsewhere that folder would be left holding it.
string(APPEND CPACK_NSIS_DEFINES
       "\nInstallDirRegKey HKLM 'Software\\\\${CPACK_PACKAGE_VENDOR}\\\\Olvesk' ''")
