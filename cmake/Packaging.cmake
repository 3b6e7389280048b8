# Where `cmake --install` puts the two programs, the desktop entry and the
# icon, and the Debian package `cpack -G DEB` makes of them.
include(GNUInstallDirs)
# `cmake --install` and cpack take what the last build made; they never build.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS nompack nompack-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/nompack.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/nompack.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/nompack.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

set(CPACK_PACKAGE_NAME nompack)
set(CPACK_PACKAGE_VENDOR "nompack")
set(CPACK_PACKAGE_CONTACT "nompack support <support@nompack.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "moves the nomenclature of a pharmacy database between installations")
set(CPACK_PACKAGE_DESCRIPTION
  "Exports the reference tables of a MySQL, Firebird or SQL Server pharmacy database into one packet file, installs a packet into a MySQL or Firebird database and edits single chunk files. Window: nompack; command line: nompack-cli.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The binaries are built with debug information; the package does not need it.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link (Qt, the MariaDB, Firebird and ODBC clients,
# libarchive) are found by dpkg-shlibdeps, with the versions they need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Nothing links an SQL Server driver: ODBC loads it by name at run time.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "tdsodbc")
include(CPack)
