# Installation: the program, the link screen-saver frameworks start, the demo shows as the
# installed default data folder, desktop entries, the XScreenSaver module config, icon and manual.
include(GNUInstallDirs)

if(TARGET ondrelix)
  install(TARGETS ondrelix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # XScreenSaver looks for its modules in libexec/xscreensaver; a relative link keeps the
  # installed tree movable.
  install(CODE "
    set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver\")
    file(MAKE_DIRECTORY \"\${dir}\")
    file(CREATE_LINK \"../../${CMAKE_INSTALL_BINDIR}/ondrelix\" \"\${dir}/ondrelix\" SYMBOLIC)
    message(STATUS \"Installing: \${dir}/ondrelix -> ../../${CMAKE_INSTALL_BINDIR}/ondrelix\")")
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
