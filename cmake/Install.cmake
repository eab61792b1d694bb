# Installation: the program, the link screen-saver frameworks start, the demo shows as the
# installed default data folder, desktop entries, the XScreenSaver module config, icon and manual.
include(GNUInstallDirs)

if(TARGET ondrelix)
  install(TARGETS ondrelix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # XScreenSaver and MATE look for modules in libexec/xscreensaver. The relative link is made in
  # the build tree and installed as a file, so it keeps the installed tree movable and stands in
  # install_manifest.txt with the other files.
  file(RELATIVE_PATH ONDRELIX_MODULE_TARGET "/${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver"
       "/${CMAKE_INSTALL_BINDIR}/ondrelix")
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/module-link)
  file(CREATE_LINK ${ONDRELIX_MODULE_TARGET} ${CMAKE_BINARY_DIR}/module-link/ondrelix SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/module-link/ondrelix
          DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver)
endif()

# The program finds <prefix>/share/Velnori beside <prefix>/bin as its default data folder.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/Velnori)

set(ONDRELIX_SHARE ${CMAKE_SOURCE_DIR}/share)
install(FILES ${ONDRELIX_SHARE}/ondrelix.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/xscreensaver/config)
install(FILES ${ONDRELIX_SHARE}/ondrelix-screensaver.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications/screensavers RENAME ondrelix.desktop)
install(FILES ${ONDRELIX_SHARE}/ondrelix-settings.desktop ${ONDRELIX_SHARE}/ondrelix-window.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ONDRELIX_SHARE}/ondrelix.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${ONDRELIX_SHARE}/ondrelix.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
