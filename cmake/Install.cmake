# cmake --install: the programs, their private libraries and module, documentation, the server's
# example configuration, systemd unit and man pages. cpack -G DEB packages the same tree.

set(ORVO_PROGRAMS orvo-counterd orvo-client)
set(ORVO_PRIVATE_LIBS orvo_platform orvo_platform_qt orvo_platform_gui OvDBM15 OvGUI15 OvCom15 OvStock15 OvCfg15
    ext_order_query)

foreach(program ${ORVO_PROGRAMS})
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
foreach(lib ${ORVO_PRIVATE_LIBS})
  if(TARGET ${lib})
    get_target_property(type ${lib} TYPE)
    if(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
      install(TARGETS ${lib} LIBRARY DESTINATION ${ORVO_PRIVATE_LIBDIR} NAMELINK_SKIP)
    endif()
  endif()
endforeach()

install(FILES README.md docs/automation.md docs/protocol.md docs/data.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES server/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME orvo-counterd.md)
install(FILES tools/tour.script DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The example configuration: where the server looks by default (/etc/orvo for the /usr prefix of a
# package; SYSCONFDIR below any other prefix, so a staging install stays inside its prefix), and among
# the examples.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  install(FILES packaging/orvo-counterd.conf DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/orvo)
else()
  install(FILES packaging/orvo-counterd.conf DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/orvo)
endif()
install(FILES packaging/orvo-counterd.conf DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(ORVO_COUNTERD_PATH ${CMAKE_INSTALL_FULL_BINDIR}/orvo-counterd)
set(ORVO_CONFIG_PATH ${CMAKE_INSTALL_FULL_SYSCONFDIR}/orvo/orvo-counterd.conf)
configure_file(packaging/orvo-counterd.service.in ${CMAKE_BINARY_DIR}/packaging/orvo-counterd.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/orvo-counterd.service DESTINATION lib/systemd/system)

foreach(page orvo-counterd orvo-client)
  configure_file(packaging/${page}.1.in ${CMAKE_BINARY_DIR}/packaging/${page}.1 @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# Configure with the "package" preset (prefix /usr) so the paths compiled in are those of the package.
set(CPACK_PACKAGE_NAME orvo)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "orvo maintainers <orvo@localhost>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# Dependencies from the programs' and libraries' own needs; the private folder holds ours.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
# "orvo-counterd backup" of a PostgreSQL database runs pg_dump.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS postgresql-client)
# The configuration under /etc is the administrator's: an upgrade keeps their changes.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/conffiles)
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
