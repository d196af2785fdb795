# `make install` (or `cmake --install`): the daemon in sbin, the tools in bin,
# the systemd unit and the defaults file it reads. DESTDIR is honoured by
# every destination, the absolute /etc one included.
include(GNUInstallDirs)
install(TARGETS hwroute RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS ${HWROUTE_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(HWROUTE_SBIN ${CMAKE_INSTALL_FULL_SBINDIR})
configure_file(${CMAKE_SOURCE_DIR}/dist/hwroute.service.in ${CMAKE_BINARY_DIR}/hwroute.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/hwroute.service DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
# The defaults file is the operator's: an existing one is left as it is
# (file(INSTALL) puts DESTDIR in front of the absolute destination itself).
install(CODE "
  set(dst \"\$ENV{DESTDIR}/etc/default/hwroute\")
  if(EXISTS \"\${dst}\")
    message(STATUS \"Keeping: \${dst}\")
  else()
    file(INSTALL \"${CMAKE_SOURCE_DIR}/dist/hwroute.default\" DESTINATION \"/etc/default\"
         RENAME hwroute PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
")
