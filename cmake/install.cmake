# A self-contained folder: the program finds lang/ beside itself, so the
# executable, its language files, the icon and the desktop entry all go into
# the install prefix itself (cmake --install build --prefix DIR), with the
# licence and the manual page (man -l DIR/pallwick.1).
install(TARGETS pallwick RUNTIME DESTINATION .)
if(PALLWICK_LANG_FILES)
  install(FILES ${PALLWICK_LANG_FILES} DESTINATION lang)
endif()
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/pallwick.png
              ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE
              ${CMAKE_CURRENT_SOURCE_DIR}/doc/pallwick.1
        DESTINATION .)

# The desktop entry names the program and the icon by absolute path, known
# only at install time (--prefix may differ from the configured prefix).
install(CODE "
  set(PALLWICK_DESKTOP_TEMPLATE \"${CMAKE_CURRENT_SOURCE_DIR}/resources/${PALLWICK_DESKTOP_ID}\")
  include(\"${CMAKE_CURRENT_SOURCE_DIR}/cmake/scripts/install-desktop-entry.cmake\")
")
