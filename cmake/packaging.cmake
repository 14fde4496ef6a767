# Installing like a desktop program (cmake --install), and the Debian package (cpack).
# The programs install themselves (app/, tools/); this adds the menu entry and its icon.
include(GNUInstallDirs)
install(FILES ${PROJECT_SOURCE_DIR}/dist/commtest.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/dist/commtest.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(COMMTEST_PACKAGE_MAINTAINER "commtest maintainers <commtest@localhost>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME commtest)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR commtest)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "exercise and monitor one serial (RS-232) port")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${COMMTEST_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"commtest opens a serial port by number with a settings text such as 9600,n,8,1,
logs every received character with its code, assembles characters into frames,
sends typed commands framed by a chosen suffix, shows the port's properties and
line states in a live panel and captures each received frame to a text file.

commtest-sim is a simulated bench instrument on a pseudo-terminal, for trying
commtest without serial hardware.")
# The libraries' own packages come from the binaries (dpkg-shlibdeps); what is loaded at
# run time rather than linked is named here: Qt's platform plugins (xcb, wayland) and the
# window's font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-gtk-platformtheme")
include(CPack)
