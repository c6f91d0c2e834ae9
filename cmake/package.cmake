# The Debian package (make package): the same program laid out as a Linux
# program. Its rules belong to the component "system" only, so the
# self-contained folder of install.cmake (cmake --install without a
# component) stays as it is. The program tells the two layouts apart at
# start-up.
include(GNUInstallDirs)

# What Debian asks of a package beside the program: the copyright and the
# changelog in /usr/share/doc, a manual page, the AppStream metadata. The
# changelog and the manual page are compressed as Debian's tools do it (best
# compression, no name or time in the header), so the package's bytes do not
# depend on when it was built.
set(PALLWICK_PACKAGING_DIR ${CMAKE_CURRENT_BINARY_DIR}/packaging)
foreach(template changelog copyright ${PALLWICK_APP_ID}.metainfo.xml)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/packaging/${template})
  if(EXISTS ${source}.in)
    set(source ${source}.in)
  endif()
  configure_file(${source} ${PALLWICK_PACKAGING_DIR}/${template} @ONLY)
endforeach()
set(PALLWICK_COMPRESSED)
foreach(pair "${PALLWICK_PACKAGING_DIR}/changelog;changelog.gz"
             "${CMAKE_CURRENT_SOURCE_DIR}/doc/pallwick.1;pallwick.1.gz")
  list(GET pair 0 input)
  list(GET pair 1 output)
  add_custom_command(OUTPUT ${PALLWICK_PACKAGING_DIR}/${output}
    COMMAND sh -c "gzip -9nc < \"$0\" > \"$1\"" ${input} ${PALLWICK_PACKAGING_DIR}/${output}
    DEPENDS ${input} VERBATIM)
  list(APPEND PALLWICK_COMPRESSED ${PALLWICK_PACKAGING_DIR}/${output})
endforeach()
add_custom_target(pallwick_packaging ALL DEPENDS ${PALLWICK_COMPRESSED})

install(TARGETS pallwick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${PALLWICK_LANG_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/pallwick/lang
        COMPONENT system EXCLUDE_FROM_ALL)
set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/pallwick.png DESTINATION ${icons}/256x256/apps
        COMPONENT system EXCLUDE_FROM_ALL)
foreach(size 16 22 24 32 48 64 128)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/pallwick-${size}.png
          DESTINATION ${icons}/${size}x${size}/apps RENAME pallwick.png
          COMPONENT system EXCLUDE_FROM_ALL)
endforeach()
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/pallwick.svg DESTINATION ${icons}/scalable/apps
        COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/${PALLWICK_DESKTOP_ID}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${PALLWICK_PACKAGING_DIR}/${PALLWICK_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${PALLWICK_PACKAGING_DIR}/pallwick.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${PALLWICK_PACKAGING_DIR}/copyright ${PALLWICK_PACKAGING_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pallwick
        COMPONENT system EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pallwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Pallwick Software <${PALLWICK_SUPPORT_MAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Moves or copies the files of a folder at a fixed interval")
# CPack puts the summary above this extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Pallwick Lite moves or copies every plain file of one source folder into one
destination folder, again and again, at an interval of whole minutes. It keeps
or overwrites files that already exist in the destination, refuses files the
destination has no room for, and reports each file in an activity log inside
its one window.
.
A copy gets its name only when it is complete, and a moved file leaves its
folder only after its copy is on disk. The saved job can also run without a
window, from cron or a systemd timer (pallwick --once).")
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
