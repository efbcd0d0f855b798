# Installing like any Linux program, and the Debian package (cpack -G DEB).
if(UNIX AND NOT APPLE)
  set(MORVEX_DEB_VERSION ${PROJECT_VERSION}-1)
  set(pkgdoc ${CMAKE_INSTALL_DATADIR}/doc/morvex-flash)
  install(FILES packaging/copyright DESTINATION ${pkgdoc} COMPONENT ${MORVEX_INSTALL_COMPONENT})
  configure_file(packaging/changelog.Debian.in ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
  morvex_gzip_file(morvex_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
    ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz DESTINATION ${pkgdoc}
    COMPONENT ${MORVEX_INSTALL_COMPONENT})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME morvex-flash)
  set(CPACK_PACKAGE_VENDOR "Morvex Instruments")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_CONTACT "Morvex Instruments <support@morvex.example>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flash programmer for Morvex Classic Series units")
  set(CPACK_PACKAGE_DESCRIPTION
"Programs the firmware image it carries into the Hitachi H8
micro-controller of a Morvex instrument unit cabled to a serial port:
it brings the unit into its flash loader, checks the unit's identity,
deciphers the image, erases, programs, reads back, compares and restarts
the unit.
.
The package holds the window program (morvex-flash) and the command-line
programmer for terminals and production bench scripts (morvex-flash-cli).")
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.morvex.example/")
  # The libraries the programs link are found by dpkg-shlibdeps; Qt's
  # platform plugins are loaded at run time, so no library names them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  set(CPACK_STRIP_FILES ON)
  # And the folders in the package, so that the same commit gives the same package.
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # Only the operator's programs go into the package.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL ${MORVEX_INSTALL_COMPONENT})
  include(CPack)
endif()
