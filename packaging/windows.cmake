# What the Windows program needs at run time, and its installer and ZIP.
#
# A bare Windows PC has neither Qt nor the MinGW runtime, so both travel beside the program:
# copied into the build tree (the program and the tests run from there) and installed into
# the packages, from one list.

set(dorq_qt_libraries Qt6::Core Qt6::Gui Qt6::Widgets Qt6::SerialPort)
# The native window and the native look; without the style Qt falls back to Windows 95 grey.
set(dorq_qt_platform_plugins Qt6::QWindowsIntegrationPlugin)
set(dorq_qt_style_plugins Qt6::QWindowsVistaStylePlugin)
# Only the tests use these: they run offscreen, with QTest.
set(dorq_test_qt_libraries Qt6::Test)
set(dorq_test_platform_plugins Qt6::QOffscreenIntegrationPlugin)

# Qt's own words (OK, Annuleren, the command line's) in Dutch; a .qm file is data, the same on
# every platform. The program looks for it in translations beside itself.
find_file(DORQ_QTBASE_NL qtbase_nl.qm PATHS /usr/share/qt6/translations NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
install(FILES ${DORQ_QTBASE_NL} DESTINATION ${CMAKE_INSTALL_BINDIR}/translations)

# The compiler knows where its own runtime lives.
set(dorq_compiler_runtime)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is")
    endif()
    file(REAL_PATH "${path}" path)
    list(APPEND dorq_compiler_runtime "${path}")
endforeach()

install(IMPORTED_RUNTIME_ARTIFACTS ${dorq_qt_libraries} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(IMPORTED_RUNTIME_ARTIFACTS ${dorq_qt_platform_plugins}
        LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR}/platforms)
install(IMPORTED_RUNTIME_ARTIFACTS ${dorq_qt_style_plugins}
        LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR}/styles)
install(FILES ${dorq_compiler_runtime} DESTINATION ${CMAKE_INSTALL_BINDIR})
# Qt's DLLs keep their symbol tables and the MinGW runtime its debug information: more than
# half of the packages' size, and nothing a program needs to run.
install(CODE "
    file(GLOB_RECURSE binaries \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/*.dll\"
                               \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/*.exe\"
                               \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/*.com\")
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \${binaries}
                    COMMAND_ERROR_IS_FATAL ANY)
")

set(copy_runtime)
foreach(target IN LISTS dorq_qt_libraries dorq_test_qt_libraries)
    list(APPEND copy_runtime "$<TARGET_FILE:${target}>")
endforeach()
set(copy_platforms)
foreach(target IN LISTS dorq_qt_platform_plugins dorq_test_platform_plugins)
    list(APPEND copy_platforms "$<TARGET_FILE:${target}>")
endforeach()
set(copy_styles)
foreach(target IN LISTS dorq_qt_style_plugins)
    list(APPEND copy_styles "$<TARGET_FILE:${target}>")
endforeach()
add_custom_target(dorq_runtime ALL
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${copy_runtime} ${dorq_compiler_runtime}
            ${CMAKE_BINARY_DIR}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/platforms
            ${CMAKE_BINARY_DIR}/styles ${CMAKE_BINARY_DIR}/translations
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${copy_platforms} ${CMAKE_BINARY_DIR}/platforms
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${copy_styles} ${CMAKE_BINARY_DIR}/styles
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${DORQ_QTBASE_NL} ${CMAKE_BINARY_DIR}/translations
    COMMENT "Copying the Qt and MinGW runtime beside the program"
    VERBATIM)

# Qt is shipped under the LGPL 3, which asks for its text and that of the GPL 3 it builds on,
# and for the notices of Qt and of what Qt bundles: Debian's copyright file of the very
# source the Windows Qt was built from. The compiler's runtime brings notices of its own.
set(dorq_notices
    /usr/share/common-licenses/LGPL-3 Qt-LGPL-3.0.txt
    /usr/share/common-licenses/GPL-3 Qt-GPL-3.0.txt
    /usr/share/doc/libqt6core6/copyright Qt-qtbase-copyright.txt
    /usr/share/doc/libqt6serialport6/copyright Qt-qtserialport-copyright.txt
    /usr/share/doc/mingw-w64-x86-64-dev/copyright MinGW-w64-copyright.txt
    ${CMAKE_CURRENT_LIST_DIR}/windows/qt_notice.txt Qt-licentie.txt)
while(dorq_notices)
    list(POP_FRONT dorq_notices from to)
    if(NOT EXISTS ${from})
        message(FATAL_ERROR "${from} is missing: the packages must carry it beside Qt")
    endif()
    install(FILES ${from} DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME ${to})
endwhile()

# The operator's guide, once there is one; the Start menu and the uninstall entry link to it.
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/handleiding.html)
    install(FILES ${PROJECT_SOURCE_DIR}/docs/handleiding.html DESTINATION doc)
endif()
# Which of the two programs to start, for whoever unpacks the ZIP.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/windows/LEESMIJ.txt DESTINATION ${CMAKE_INSTALL_BINDIR})

# Puts the folder on PATH for the installer and takes it off for the uninstaller. It runs
# from their temporary folder, alone, so it carries its runtime inside.
add_executable(dorq_path_entry ${CMAKE_CURRENT_LIST_DIR}/windows/path_entry.cpp)
set_target_properties(dorq_path_entry PROPERTIES OUTPUT_NAME path_entry AUTOMOC OFF)
target_link_libraries(dorq_path_entry PRIVATE dorq_warnings)
if(MINGW)
    target_link_options(dorq_path_entry PRIVATE -municode -static -s)
endif()
set(CPACK_DORQ_PATH_ENTRY ${CMAKE_BINARY_DIR}/path_entry.exe)

# The installer's own picture beside its first and last page, instead of the installer maker's.
find_program(DORQ_SH sh REQUIRED)
set(DORQ_WIZARD_BITMAP ${CMAKE_BINARY_DIR}/installer-side.bmp)
add_custom_command(OUTPUT ${DORQ_WIZARD_BITMAP}
    COMMAND ${DORQ_SH} -c "rsvg-convert -w 128 -h 128 -b white \"$1\" | pngtopnm | pnmpad -white -left 18 -right 18 -top 48 -bottom 138 | ppmtobmp -bpp 24 >\"$2\""
            sh ${PROJECT_SOURCE_DIR}/packaging/dorq-pulse.svg ${DORQ_WIZARD_BITMAP}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/dorq-pulse.svg
    VERBATIM)
add_custom_target(dorq_installer_images ALL DEPENDS ${DORQ_WIZARD_BITMAP})

# The installer runs under 64-bit Windows only, like the program: its own stub is 64-bit too,
# which also lets it run under a 64-bit-only Wine.
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_INSTALL_DIRECTORY dorq-pulse)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY dorq-pulse)
# CPack splits this at blanks that have no backslash before them; verbatim keeps the
# backslash on its way through CPackConfig.cmake.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_NSIS_EXECUTABLE_PRE_ARGUMENTS [[-XTarget\ amd64-unicode]])
# The installer is this program's own (packaging/windows/NSIS.template.in): Dutch, no licence
# page to agree to (the program's terms are not a public licence), its own Start menu entries
# and registry keys, and an uninstaller that removes every key either made.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/windows)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME "DORQ PLC Pulse")
set(CPACK_NSIS_DISPLAY_NAME "DORQ PLC Pulse")
set(CPACK_NSIS_MUI_ICON ${DORQ_ICON_FILE})
set(CPACK_NSIS_MUI_UNIICON ${DORQ_ICON_FILE})
set(CPACK_NSIS_MUI_WELCOMEFINISHPAGE_BITMAP ${DORQ_WIZARD_BITMAP})
set(CPACK_DORQ_NUMERIC_VERSION ${PROJECT_VERSION})
# The ZIP opens on LEESMIJ.txt and the programs, not on a folder that holds them.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/windows/cpack_options.cmake)
set(CPACK_DORQ_COPYRIGHT ${DORQ_COPYRIGHT})
