# Debian packages through CPack (scripts/package builds them):
#   quarl             the ODBC drivers, setup and RPC libraries, the shell,
#                     quarl-rpc, quarl-dsn, quarl-regsvr, headers, pkg-config
#                     file, the Python automation client; its maintainer
#                     scripts register and unregister the drivers with odbcinst
#   quarl-desktop     the GTK desktop backend (dialogs, message boxes, the
#                     clipboard): a separate package so that quarl itself
#                     pulls in no toolkit; quarl recommends it
#   quarl-hostserver  the Host Server, its demo programs and its systemd
#                     service (own user, database under /var/lib/quarl,
#                     loopback only until configured)
set(QUARL_TEMPLATES_FULL_DIR ${CMAKE_INSTALL_PREFIX}/${QUARL_DATA_DIR}/odbcinst)
set(maintainer_scripts quarl.postinst quarl.prerm quarl-hostserver.postinst quarl-hostserver.prerm
                       quarl-hostserver.postrm quarl-hostserver.conffiles)
foreach(script ${maintainer_scripts})
  string(REGEX REPLACE "^.*\\.([a-z]+)$" "\\1" kind ${script})
  string(REGEX REPLACE "\\.[a-z]+$" "" package ${script})
  configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/${script}.in
                 ${CMAKE_BINARY_DIR}/packaging/debian/${package}/${kind} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                  WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarl)
set(CPACK_PACKAGE_VENDOR "Quarl")
set(CPACK_PACKAGE_CONTACT "Quarl developers <quarl@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Quarl: ODBC access to databases and procedures on a remote host")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client server)
if(TARGET quarl_gtk)
  list(APPEND CPACK_COMPONENTS_ALL desktop)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME quarl)
set(CPACK_COMPONENT_CLIENT_DESCRIPTION
    "Quarl ODBC drivers and client libraries\n The ODBC driver Quarl (libquarl.so) for unixODBC, its setup library,\n the RPC library libquarlrpc.so with its headers and pkg-config file and\n the automation object Quarl.RPC (quarl-regsvr, Python module\n quarl_automation), the communications shell libtellix.so, quarl-rpc and\n quarl-dsn.  The drivers are registered with unixODBC when the package is\n installed.  Without quarl-desktop the libraries work headless.")
# odbcinst registers the drivers in the maintainer scripts; unixODBC's
# clients (isql) and the desktop backend are recommended.
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS "odbcinst")
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS "unixodbc")
if(TARGET quarl_gtk)
  set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS "unixodbc, quarl-desktop (= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")
endif()

# The desktop backend: its toolkit dependencies come from shlibdeps; it is
# of use only with the libraries of the same build.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME quarl-desktop)
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION
    "Quarl desktop backend (GTK 3)\n Dialogs, message boxes, the standard file, colour and font dialogs, the\n clipboard and opening documents for the Quarl drivers and libquarlrpc.so\n on an X11 or Wayland desktop (libquarl-gtk.so, quarl-clipboard-keeper).\n The libraries load it when a display is there.")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "quarl (= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_CLIENT_PACKAGE_CONTROL_EXTRA
    "${CMAKE_BINARY_DIR}/packaging/debian/quarl/postinst;${CMAKE_BINARY_DIR}/packaging/debian/quarl/prerm")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME quarl-hostserver)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "Quarl Host Server\n Answers Quarl clients over TCP with SQL on SQLite, host procedures and\n transaction codes.  Runs as the systemd service quarl-hostserver under\n its own user, with its database in /var/lib/quarl, on loopback until\n configured in /etc/default/quarl-hostserver.")
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "passwd")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    "${CMAKE_BINARY_DIR}/packaging/debian/quarl-hostserver/postinst;${CMAKE_BINARY_DIR}/packaging/debian/quarl-hostserver/prerm;${CMAKE_BINARY_DIR}/packaging/debian/quarl-hostserver/postrm;${CMAKE_BINARY_DIR}/packaging/debian/quarl-hostserver/conffiles")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_CLIENT_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
