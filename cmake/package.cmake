# The Debian package (make package): the same program laid out as a Linux
# program. Its rules belong to the component "system" only, so the
# self-contained folder of install.cmake (cmake --install without a
# component) stays as it is. The program tells the two layouts apart at
# start-up.
include(GNUInstallDirs)
install(TARGETS pallwick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${PALLWICK_LANG_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/pallwick/lang
        COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/pallwick.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/pallwick.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT system EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pallwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Pallwick <${PALLWICK_SUPPORT_MAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Moves or copies the files of a folder at a fixed interval")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL system)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${PALLWICK_WEB_HOST}/pallwick/")
include(CPack)
