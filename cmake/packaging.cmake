# Installing like a desktop program (cmake --install), and the Debian package (cpack).
# The programs install themselves (app/, tools/); this adds the menu entry and its icon,
# the man pages, the AppStream metadata, bash completion and the package's documents.
include(GNUInstallDirs)
install(FILES ${PROJECT_SOURCE_DIR}/dist/commtest.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/dist/commtest.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# Named after the component id, as software centres look it up.
install(FILES ${PROJECT_SOURCE_DIR}/dist/commtest.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        RENAME invalid.commtest.commtest.metainfo.xml)
install(FILES ${PROJECT_SOURCE_DIR}/dist/commtest.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME commtest)
install(FILES ${PROJECT_SOURCE_DIR}/dist/commtest-sim.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME commtest-sim)

# Man pages (with the project's version in their heading) and the changelog go in
# compressed, without a time stamp in the gzip header (Debian's rule, so that two builds
# give the same package).
set(commtest_gzipped)
foreach(doc dist/commtest.1 dist/commtest-sim.1 dist/changelog)
  get_filename_component(name ${doc} NAME)
  configure_file(${PROJECT_SOURCE_DIR}/${doc} ${PROJECT_BINARY_DIR}/dist/${name} @ONLY)
  set(out ${PROJECT_BINARY_DIR}/dist/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND gzip -9nc ${PROJECT_BINARY_DIR}/dist/${name} > ${out}
    DEPENDS ${PROJECT_BINARY_DIR}/dist/${name}
    VERBATIM)
  list(APPEND commtest_gzipped ${out})
endforeach()
add_custom_target(commtest_docs ALL DEPENDS ${commtest_gzipped})
install(FILES ${PROJECT_BINARY_DIR}/dist/commtest.1.gz ${PROJECT_BINARY_DIR}/dist/commtest-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/dist/copyright ${PROJECT_BINARY_DIR}/dist/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# lintian takes this as a real address (see README, "Debian package"); a distribution's
# packager sets their own.
set(COMMTEST_DEB_MAINTAINER "commtest developers <commtest@commtest.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME commtest)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR commtest)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "exercise and monitor one serial (RS-232) port")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${COMMTEST_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
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
