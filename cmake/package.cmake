# Packages made by cpack in a build directory:
#   cpack -G DEB   kvstgbstr_<version>_<arch>.deb (Linux build)
#   cpack -G ZIP   the Windows programs (cross build)
# They carry what cmake/install.cmake installs.
set(CPACK_PACKAGE_NAME kvstgbstr)
set(CPACK_PACKAGE_VENDOR "KVSTGBSTR developers")
set(CPACK_PACKAGE_CONTACT "KVSTGBSTR developers <kvstgbstr@korvantis.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "starts, feeds and supervises the DEV daily-calculation workers")
set(CPACK_PACKAGE_DESCRIPTION
    "KVSTGBSTR is the service of the multi-tenant time-management system that
starts one DEV worker process per worker job of every tenant, hands the
parameter numbers that clients send to TCP port 3339 to the matching worker,
restarts vanished workers and stops them all at its shutdown. It reaches the
database through ODBC and runs as the system user kvs under systemd.")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  # The archive holds bin/ and share/ at its top.
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
else()
  # The unit's paths are filled in from the install prefix, so the package
  # is installed with its final prefix (and DESTDIR), not a staging prefix.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# adduser for the service user (deb-systemd-invoke, for restarts and stops,
# comes with an essential package); the libraries' packages are added from
# the programs themselves.
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS odbc-mariadb)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(kvs_scripts)
foreach(script postinst prerm postrm)
  configure_file(${CMAKE_SOURCE_DIR}/deploy/debian/${script}.in ${CMAKE_BINARY_DIR}/deploy/debian/${script}
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
  list(APPEND kvs_scripts ${CMAKE_BINARY_DIR}/deploy/debian/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${kvs_scripts})

include(CPack)
