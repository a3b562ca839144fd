# The Debian package: in a build folder, `cpack -G DEB` makes orbelant_<version>_<arch>.deb
# from the install rules. The program, its launcher, the desktop entry, the AppStream file,
# the icons and the sample workbook are installed by app/CMakeLists.txt; this file adds the
# workbook tool with its manual page and the licence notes, and describes the package.
include(GNUInstallDirs)

install(TARGETS orbelant-xls RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Installed in /usr/bin, the programs take their libraries from the system: no search path
# of their own (Qt's project set-up would give them $ORIGIN/../lib).
set_target_properties(orbelant orbelant-xls PROPERTIES INSTALL_RPATH "")

# Manual pages go in compressed. gzip -n leaves the name and time out, so the same page
# always gives the same bytes.
find_program(ORBELANT_GZIP gzip REQUIRED)
set(orbelant_manual_page ${CMAKE_BINARY_DIR}/man/orbelant-xls.1.gz)
add_custom_command(OUTPUT ${orbelant_manual_page}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND ${ORBELANT_GZIP} -9 -n -c ${CMAKE_SOURCE_DIR}/tools/orbelant-xls.1 > ${orbelant_manual_page}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/orbelant-xls.1
  VERBATIM)
add_custom_target(orbelant_manual_page ALL DEPENDS ${orbelant_manual_page})
install(FILES ${orbelant_manual_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The sample's data are CC BY 4.0 and must travel with their attribution.
install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian-copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/orbelant RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbelant)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orbelant developers")
set(CPACK_PACKAGE_CONTACT "Orbelant developers <orbelant@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "geological time scale browser for an Excel 97 workbook")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Орбелант (Orbelant) shows the geological time scale kept in the Excel 97 workbook\n"
  "зендра.xls one interval at a time: its age, its units from eonothem to stage and a\n"
  "note on the organic world, and writes edits typed into the fields back into the\n"
  "workbook. The menu entry works in the folder ~/Орбелант, which gets a copy of the\n"
  "sample workbook on the first start. orbelant-xls reads and edits the workbook from\n"
  "the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the binaries link come from dpkg-shlibdeps. It cannot see what Qt or the
# launcher use without linking: the Liberation fonts the windows are measured with (Arial
# metrics), Qt's Russian texts for its standard buttons and dialogs, and the tool that shows
# the launcher's error messages on the desktop.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libnotify-bin")

include(CPack)
