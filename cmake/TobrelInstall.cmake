# `cmake --install`: the two programs, the user guide, the desktop launcher and the icon, in the
# places a desktop looks (FHS). The window program finds the guide in share/tobrel/help beside its
# bin folder; tools/package-deb turns the same tree into a Debian package.
include(GNUInstallDirs)
if(TARGET tobrel)
    install(TARGETS tobrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/tobrel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/app/tobrel.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/help/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tobrel/help)
endif()
if(TARGET tobrel-peer)
    install(TARGETS tobrel-peer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tobrel)
