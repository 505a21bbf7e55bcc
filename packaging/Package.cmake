# Install layout and the Debian package (cpack -G DEB in the build folder, or scripts/package.sh).
#   /usr/lib/vexaprinter/VexaPrinter   the program; never run from here (see packaging/vexaprinter)
#   /usr/bin/vexaprinter               launcher: runs a per-user copy that can write beside itself
#   /usr/share/applications/           menu entries for the program and the staff's test page
#   /usr/share/icons/hicolor/*/apps/   the tray picture as the program's icon
#   /usr/share/vexaprinter/testpage.html
#   /usr/share/doc/vexaprinter/, /usr/share/man/man1/   copyright, changelog, manual page
include(GNUInstallDirs)
# cpack (and "make install") package what is built and never start a build of their own: the
# package test runs cpack while other tests use the build tree. scripts/package.sh builds first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(VEXA_PKG ${CMAKE_CURRENT_LIST_DIR})
install(TARGETS VexaPrinter RUNTIME DESTINATION ${CMAKE_INSTALL_LIBDIR}/vexaprinter)
install(PROGRAMS ${VEXA_PKG}/vexaprinter DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VEXA_PKG}/vexaprinter.desktop ${VEXA_PKG}/vexaprinter-testpage.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VEXA_PKG}/testpage.html DESTINATION ${CMAKE_INSTALL_DATADIR}/vexaprinter)
foreach(nSize 32 48 64 128 256)
  install(FILES ${VEXA_PKG}/icons/vexaprinter-${nSize}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${nSize}x${nSize}/apps RENAME vexaprinter.png)
endforeach()
include(${VEXA_PKG}/DebianFiles.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexaprinter)
set(CPACK_PACKAGE_VENDOR "Corvel")
set(CPACK_PACKAGE_CONTACT "Corvel print control team <support@corvel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Receipt print control for the cashier page, in the system tray")
set(CPACK_PACKAGE_INSTALL_DIRECTORY vexaprinter)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# Lines of the extended description: each one becomes a line of the control file (80 columns at most).
set(CPACK_PACKAGE_DESCRIPTION "Answers the cashier page on TCP port 12380: prints receipts on the local
printers, keeps paper settings per printer, relays room commands to the set-top
boxes and lists the online boxes. Start it from the menu entry VexaPrinter; the
page /usr/share/vexaprinter/testpage.html checks it from a browser.")
# The QML modules and the CJK font are loaded at run time, so no library scan finds them.
set(VEXA_RUNTIME_MODULES "qml-module-qtquick2, qml-module-qtquick-window2, \
qml-module-qtquick-controls2, qml-module-qtquick-layouts, qml-module-qt-labs-platform, libqt5quickcontrols2-5, \
fonts-wqy-microhei")
# The test page's menu entry opens the page with sensible-browser.
string(APPEND VEXA_RUNTIME_MODULES ", sensible-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates")
find_program(VEXA_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VEXA_DPKG_SHLIBDEPS)
  # dpkg-shlibdeps adds the libraries the executable links, with their minimum versions.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${VEXA_RUNTIME_MODULES}")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${VEXA_RUNTIME_MODULES}, libqt5core5a, libqt5network5, libqt5gui5, \
libqt5widgets5, libqt5printsupport5, libqt5qml5, libqt5quick5, libcups2, libc6, libstdc++6")
endif()
include(CPack)
