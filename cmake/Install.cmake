# cmake --install: two components, each a Debian package through cpack -G DEB.
#   server (orvo-counterd): the server, its man page, systemd unit, tmpfiles.d entry, example
#                           configuration and documentation; no Qt.
#   client (orvo-client):   the client, the host libraries and the module (private library folder),
#                           its man page, documentation and the demo tour.
# cmake --install BUILD --component server|client stages one of them.

set(ORVO_DEB_MAINTAINER "orvo maintainers <packages@orvo.example.org>")
set(ORVO_DEB_RELEASE 1)
set(ORVO_DEB_VERSION ${PROJECT_VERSION}-${ORVO_DEB_RELEASE})
set(ORVO_SERVER_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvo-counterd)
set(ORVO_CLIENT_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvo-client)

# Programs and libraries. Only the client uses the private libraries; the server links none of them.
if(TARGET orvo-counterd)
  install(TARGETS orvo-counterd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
endif()
if(TARGET orvo-client)
  install(TARGETS orvo-client RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
endif()
set(ORVO_PRIVATE_LIBS orvo_platform orvo_platform_qt orvo_platform_gui OvDBM15 OvGUI15 OvCom15 OvStock15 OvCfg15
    ext_order_query)
foreach(lib ${ORVO_PRIVATE_LIBS})
  if(TARGET ${lib})
    get_target_property(type ${lib} TYPE)
    if(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
      install(TARGETS ${lib} LIBRARY DESTINATION ${ORVO_PRIVATE_LIBDIR} NAMELINK_SKIP COMPONENT client)
    endif()
  endif()
endforeach()

# Man pages, gzipped without name or time stamp so that a rebuild gives the same bytes.
set(ORVO_CONFIG_PATH ${CMAKE_INSTALL_FULL_SYSCONFDIR}/orvo/orvo-counterd.conf)
set(ORVO_COUNTERD_PATH ${CMAKE_INSTALL_FULL_BINDIR}/orvo-counterd)
# The server's OPTIONS section comes from the program itself (--print-man-options prints its option
# table, the one --help shows), put into the hand-written page after each build of the program.
configure_file(packaging/orvo-counterd.1.in ${CMAKE_BINARY_DIR}/packaging/orvo-counterd.1.page @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/orvo-counterd.1
  COMMAND orvo-counterd --print-man-options > ${CMAKE_BINARY_DIR}/packaging/orvo-counterd.options
  COMMAND ${CMAKE_COMMAND} -DPAGE=${CMAKE_BINARY_DIR}/packaging/orvo-counterd.1.page
          -DOPTIONS=${CMAKE_BINARY_DIR}/packaging/orvo-counterd.options
          -DOUTPUT=${CMAKE_BINARY_DIR}/packaging/orvo-counterd.1 -P ${PROJECT_SOURCE_DIR}/packaging/ManPage.cmake
  DEPENDS orvo-counterd ${CMAKE_BINARY_DIR}/packaging/orvo-counterd.1.page ${PROJECT_SOURCE_DIR}/packaging/ManPage.cmake
  VERBATIM)
configure_file(packaging/orvo-client.1.in ${CMAKE_BINARY_DIR}/packaging/orvo-client.1 @ONLY)
foreach(page orvo-counterd orvo-client)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/${page}.1.gz
    COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/packaging/${page}.1 > ${CMAKE_BINARY_DIR}/packaging/${page}.1.gz
    DEPENDS ${CMAKE_BINARY_DIR}/packaging/${page}.1 VERBATIM)
  list(APPEND ORVO_MAN_PAGES ${CMAKE_BINARY_DIR}/packaging/${page}.1.gz)
endforeach()
# Debian's changelog of each package, gzipped the same way. Its newest entry must be this release's:
# a new VERSION without one stops the configuration.
file(STRINGS packaging/changelog.in ORVO_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT ORVO_CHANGELOG_TOP MATCHES "^@ORVO_DEB_PACKAGE@ \\(${ORVO_DEB_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog.in: the newest entry is not ${ORVO_DEB_VERSION} (VERSION); "
                      "add one for the release (docs/releasing.md)")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog.in)
foreach(package orvo-counterd orvo-client)
  set(ORVO_DEB_PACKAGE ${package})
  configure_file(packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/${package}/changelog.Debian @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/${package}/changelog.Debian.gz
    COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/packaging/${package}/changelog.Debian
            > ${CMAKE_BINARY_DIR}/packaging/${package}/changelog.Debian.gz
    DEPENDS ${CMAKE_BINARY_DIR}/packaging/${package}/changelog.Debian VERBATIM)
  list(APPEND ORVO_MAN_PAGES ${CMAKE_BINARY_DIR}/packaging/${package}/changelog.Debian.gz)
endforeach()
add_custom_target(orvo_packaging_files ALL DEPENDS ${ORVO_MAN_PAGES})

# The server package.
install(FILES ${CMAKE_BINARY_DIR}/packaging/orvo-counterd.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT server)
# The example configuration: where the server looks by default (/etc/orvo for the /usr prefix of a
# package; SYSCONFDIR below any other prefix, so a staging install stays inside its prefix), and among
# the examples. 0640: it may hold a database password; the package's postinst gives it the group orvo.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(ORVO_CONFIG_DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/orvo)
else()
  set(ORVO_CONFIG_DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/orvo)
endif()
install(FILES packaging/orvo-counterd.conf DESTINATION ${ORVO_CONFIG_DESTINATION}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ COMPONENT server)
install(FILES packaging/orvo-counterd.conf DESTINATION ${ORVO_SERVER_DOCDIR}/examples COMPONENT server)
configure_file(packaging/orvo-counterd.service.in ${CMAKE_BINARY_DIR}/packaging/orvo-counterd.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/orvo-counterd.service DESTINATION lib/systemd/system
        COMPONENT server)
install(FILES packaging/orvo-counterd.tmpfiles DESTINATION lib/tmpfiles.d RENAME orvo-counterd.conf
        COMPONENT server)
install(FILES packaging/orvo-counterd.sysusers DESTINATION lib/sysusers.d RENAME orvo-counterd.conf
        COMPONENT server)
# The backup service and its timer, shipped disabled (README.Debian says how to enable it).
configure_file(packaging/orvo-counterd-backup.service.in ${CMAKE_BINARY_DIR}/packaging/orvo-counterd-backup.service
               @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/orvo-counterd-backup.service packaging/orvo-counterd-backup.timer
        DESTINATION lib/systemd/system COMPONENT server)
install(FILES server/README.md DESTINATION ${ORVO_SERVER_DOCDIR} COMPONENT server)
install(FILES docs/operations.md docs/postgres.md docs/data.md docs/protocol.md DESTINATION ${ORVO_SERVER_DOCDIR}
        COMPONENT server)
install(FILES packaging/copyright packaging/README.Debian ${CMAKE_BINARY_DIR}/packaging/orvo-counterd/changelog.Debian.gz
        DESTINATION ${ORVO_SERVER_DOCDIR} COMPONENT server)

# The client package.
install(FILES ${CMAKE_BINARY_DIR}/packaging/orvo-client.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT client)
install(FILES README.md docs/automation.md docs/data.md DESTINATION ${ORVO_CLIENT_DOCDIR} COMPONENT client)
install(FILES tools/tour.script DESTINATION ${ORVO_CLIENT_DOCDIR}/examples COMPONENT client)
# The desktop's menu entry, its icon and the software centres' description.
install(FILES packaging/client/orvo-client.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications
        COMPONENT client)
install(FILES packaging/client/orvo-client.svg DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps
        COMPONENT client)
configure_file(packaging/client/orvo-client.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/packaging/org.example.orvo.client.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/org.example.orvo.client.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo COMPONENT client)
install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/packaging/orvo-client/changelog.Debian.gz
        DESTINATION ${ORVO_CLIENT_DOCDIR} COMPONENT client)

# cpack -G DEB in a build configured with the "package" preset (prefix /usr, so that the paths compiled
# in are those of the package) makes orvo-counterd_VERSION-1_ARCH.deb and orvo-client_VERSION-1_ARCH.deb.
set(CPACK_PACKAGE_NAME orvo)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ORVO_DEB_MAINTAINER})
# Each package's description below starts with its own summary line; an empty (but set) common summary
# keeps CPack from putting the project's in front of it. Paragraphs are separated by an empty line.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_COMPONENTS_ALL server client)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ORVO_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies from the programs' and libraries' own needs; the private folder holds ours.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
# Maintainer scripts 0755 and conffiles 0644 whatever the source tree's modes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME orvo-counterd)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
# postinst makes the group orvo with addgroup.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS adduser)
# "orvo-counterd backup" of a PostgreSQL database runs pg_dump.
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS postgresql-client)
set(CPACK_DEBIAN_SERVER_DESCRIPTION "futures counter server for the extended order query
orvo-counterd answers the counter channel of orvo-client: operators' logins,
the code tables and the stop-loss, conditional and other order rules the
extended order query lists. It keeps its data in SQLite or PostgreSQL, may
speak TLS, and administers its database through subcommands (operators,
table import and export, backup, schema migration).

The package runs it as the systemd service orvo-counterd.service under a
dynamic user, with its state in /var/lib/orvo-counterd.")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/preinst ${PROJECT_SOURCE_DIR}/packaging/postinst
    ${PROJECT_SOURCE_DIR}/packaging/prerm ${PROJECT_SOURCE_DIR}/packaging/postrm)
# 1.0.0 was one package, orvo, holding both programs, the unit and the configuration: each package
# takes its files over, and apt removes orvo (which stops nothing: preinst stops its server).
set(ORVO_DEB_REPLACES_OLD "orvo (<< ${PROJECT_VERSION}~)")
set(CPACK_DEBIAN_SERVER_PACKAGE_REPLACES ${ORVO_DEB_REPLACES_OLD})
set(CPACK_DEBIAN_SERVER_PACKAGE_BREAKS ${ORVO_DEB_REPLACES_OLD})
# The configuration under /etc is the administrator's: an upgrade keeps their changes.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  list(APPEND CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/conffiles)
endif()

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME orvo-client)
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION misc)
# The windows' own texts are built in; Qt's standard dialogs take theirs from Qt's translations.
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS qt6-translations-l10n)
set(CPACK_DEBIAN_CLIENT_PACKAGE_REPLACES ${ORVO_DEB_REPLACES_OLD})
set(CPACK_DEBIAN_CLIENT_PACKAGE_BREAKS ${ORVO_DEB_REPLACES_OLD})
set(CPACK_DEBIAN_CLIENT_DESCRIPTION "futures counter client with the extended order query module
orvo-client is the host application of the counter client: it logs in to an
orvo-counterd server, downloads the code tables and opens the extended order
query module, which lists, filters and exports an operator's stop-loss,
conditional and other order rules.

It can also run scripts of keys and clicks against its windows, for demos and
acceptance checks, and bring up an embedded demo server.")
include(CPack)
