# What "cmake --install" puts where: the programs the build made, the table
# definitions, the README and, on Linux, the systemd unit, the manual pages
# and the package's documentation files. Nothing else of the build tree.
include(GNUInstallDirs)

# Base directory of an installation: kvstgbstr/ (the service's working
# directory), files/ and korvantis_php/log/ below it. The unit and the
# package's set-up use it; the service itself only knows its working directory.
set(KVS_BASE_DIR /var/lib/korvantis CACHE PATH "Base directory of the installation the unit runs")
if(WIN32)
  # CreateProcess looks in the service's own directory first: the workers
  # and kill go beside it.
  set(KVS_INSTALL_HELPERDIR ${CMAKE_INSTALL_BINDIR})
  set(KVS_INSTALL_SERVICEDIR ${CMAKE_INSTALL_BINDIR})
else()
  # Programs no user calls by hand; the unit puts this directory on the PATH.
  set(KVS_INSTALL_HELPERDIR lib/kvstgbstr)
  # A system daemon, started by systemd.
  set(KVS_INSTALL_SERVICEDIR ${CMAKE_INSTALL_SBINDIR})
endif()
set(KVS_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/kvstgbstr)

install(TARGETS kvstgbstr RUNTIME DESTINATION ${KVS_INSTALL_SERVICEDIR})
foreach(tool kvsctl kvscipher kvsreq)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
foreach(helper dev_oracle dev_sqlserver dev_mysql kill)
  if(TARGET ${helper})
    install(TARGETS ${helper} RUNTIME DESTINATION ${KVS_INSTALL_HELPERDIR})
  endif()
endforeach()

foreach(sql mysql/kvsystem.sql mysql/tenant.sql mssql/kvsystem.sql oracle/kvsystem.sql)
  get_filename_component(dialect ${sql} DIRECTORY)
  install(FILES sql/${sql} DESTINATION ${CMAKE_INSTALL_DATADIR}/kvstgbstr/sql/${dialect})
endforeach()
install(FILES README.md DESTINATION ${KVS_INSTALL_DOCDIR})

if(NOT WIN32)
  # The unit names the installed programs, so its paths are filled in at
  # install time, when the prefix is final (cmake --install --prefix, cpack).
  set(unit_in ${CMAKE_SOURCE_DIR}/deploy/kvstgbstr.service.in)
  set(unit ${CMAKE_BINARY_DIR}/deploy/kvstgbstr.service)
  install(CODE "
    set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
    set(KVS_BASE_DIR \"${KVS_BASE_DIR}\")
    set(KVS_DOC_DIR \"\${prefix}/${KVS_INSTALL_DOCDIR}\")
    set(KVS_HELPER_DIR \"\${prefix}/${KVS_INSTALL_HELPERDIR}\")
    set(KVS_SBIN_DIR \"\${prefix}/${KVS_INSTALL_SERVICEDIR}\")
    set(KVS_BIN_DIR \"\${prefix}/${CMAKE_INSTALL_BINDIR}\")
    configure_file(\"${unit_in}\" \"${unit}\" @ONLY)
  ")
  install(FILES ${unit} DESTINATION lib/systemd/system)

  # Debian wants the change log and the manual pages compressed,
  # reproducibly (no name, no time in the gzip header).
  set(kvs_gzipped)
  function(kvs_gzip source)
    get_filename_component(name ${source} NAME)
    set(out ${CMAKE_BINARY_DIR}/deploy/${name}.gz)
    add_custom_command(OUTPUT ${out}
      COMMAND sh -c "gzip -9 -n -c \"$0\" > \"$1\"" ${CMAKE_SOURCE_DIR}/${source} ${out}
      DEPENDS ${CMAKE_SOURCE_DIR}/${source} VERBATIM)
    set(kvs_gzipped ${kvs_gzipped} ${out} PARENT_SCOPE)
  endfunction()
  kvs_gzip(deploy/debian/changelog)
  foreach(page kvsctl.1 kvscipher.1 kvsreq.1 kvstgbstr.8)
    kvs_gzip(deploy/man/${page})
  endforeach()
  add_custom_target(kvs_gzipped_docs ALL DEPENDS ${kvs_gzipped})
  set(deploy ${CMAKE_BINARY_DIR}/deploy)
  install(FILES deploy/debian/copyright ${deploy}/changelog.gz DESTINATION ${KVS_INSTALL_DOCDIR})
  install(FILES ${deploy}/kvsctl.1.gz ${deploy}/kvscipher.1.gz ${deploy}/kvsreq.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${deploy}/kvstgbstr.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
endif()
