# `cmake --install`: the libraries, programs, public header, pkg-config file,
# man pages, odbcinst templates and the Host Server's service files, in the
# places a Linux system keeps them.  Components: "client" (the drivers, the
# setup and RPC libraries, the shell, quarl-rpc, quarl-dsn, quarl-regsvr, the
# headers and the Python automation client), "desktop" (the GTK backend
# libquarl-gtk.so and quarl-clipboard-keeper, when built) and "server"
# (quarl-hostserver with its demo programs and service files).
#
# RUNPATHs are relative to each file ($ORIGIN), so an installation works in
# any prefix and can be moved.  The ODBC drivers live in the driver folder of
# the library folder, as Debian keeps them (lib/<multiarch>/odbc).  The
# desktop backend lives in Quarl's own folder of the library folder
# (lib/<multiarch>/quarl), where the libraries look for it relative to
# themselves: libquarlrpc.so in quarl/ beside it, the drivers in quarl/
# beside their folder (common/platform/desktop.cpp).

set(QUARL_ODBC_DRIVER_DIR ${CMAKE_INSTALL_LIBDIR}/odbc CACHE STRING "where the ODBC drivers and their setup library go")
set(QUARL_DATA_DIR ${CMAKE_INSTALL_DATADIR}/quarl)
set(QUARL_PROGRAMS_DIR ${CMAKE_INSTALL_LIBEXECDIR}/quarl)
set(QUARL_DESKTOP_DIR ${CMAKE_INSTALL_LIBDIR}/quarl)
set(QUARL_SYSTEMD_DIR lib/systemd/system CACHE STRING "where the systemd unit goes (relative to the prefix)")
set(QUARL_STATE_DIR ${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/lib/quarl)
# Configuration files: /etc for the system's own prefix (/usr), else below
# the prefix (so that `cmake --install --prefix DIR` stays inside DIR).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(QUARL_ETC_DEST ${CMAKE_INSTALL_FULL_SYSCONFDIR})
else()
  set(QUARL_ETC_DEST ${CMAKE_INSTALL_SYSCONFDIR})
endif()

# One RUNPATH that serves the installed file and the build tree alike, so
# that nothing is rewritten at install time: CMake's in-place rewriting needs
# the build-tree RUNPATH padded with empty entries, which the loader reads as
# the current folder (searched for every library of every process started
# from the build tree).  The installed layout's folder comes first; the
# build tree keeps libraries in lib/ and programs in bin/.
function(quarl_runpath target from)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(built_in ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  else()
    set(built_in ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
  endif()
  set(runpath "")
  foreach(pair "${CMAKE_INSTALL_PREFIX}/${from}|${CMAKE_INSTALL_FULL_LIBDIR}" "${built_in}|${CMAKE_BINARY_DIR}/lib")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 here)
    list(GET pair 1 libs)
    file(RELATIVE_PATH rel ${here} ${libs})
    string(REGEX REPLACE "/$" "" rel "${rel}")
    if(rel STREQUAL "")
      set(entry "$ORIGIN")
    else()
      set(entry "$ORIGIN/${rel}")
    endif()
    if(NOT entry IN_LIST runpath)
      list(APPEND runpath "${entry}")
    endif()
  endforeach()
  list(JOIN runpath ":" runpath)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "${runpath}" BUILD_WITH_INSTALL_RPATH ON)
endfunction()

# The client libraries and programs.
quarl_runpath(quarl ${QUARL_ODBC_DRIVER_DIR})
quarl_runpath(quarlsp ${QUARL_ODBC_DRIVER_DIR})
quarl_runpath(quarlrpc ${CMAKE_INSTALL_LIBDIR})
install(TARGETS quarl quarlsp LIBRARY DESTINATION ${QUARL_ODBC_DRIVER_DIR} COMPONENT client)
# The Unicode driver, once it is built, sits beside the ODBC 2 driver.
if(TARGET quarlw)
  quarl_runpath(quarlw ${QUARL_ODBC_DRIVER_DIR})
  install(TARGETS quarlw LIBRARY DESTINATION ${QUARL_ODBC_DRIVER_DIR} COMPONENT client)
endif()
install(TARGETS tellix quarlrpc LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT client)
foreach(program quarl-rpc quarl-dsn quarl-regsvr)
  quarl_runpath(${program} ${CMAKE_INSTALL_BINDIR})
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
endforeach()
# The buffer exports' header, and the automation object's (quarl_object.h
# includes quarl_automation.h from its own folder).
install(FILES ${CMAKE_SOURCE_DIR}/rpc/quarlrpc.h ${CMAKE_SOURCE_DIR}/rpc/automation/quarl_automation.h
              ${CMAKE_SOURCE_DIR}/rpc/automation/quarl_object.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT client)

# The desktop backend and its helper, side by side (the backend starts the
# keeper from its own folder).  Neither needs a RUNPATH: they link only the
# system's libraries.
if(TARGET quarl_gtk)
  install(TARGETS quarl_gtk LIBRARY DESTINATION ${QUARL_DESKTOP_DIR} COMPONENT desktop)
  install(TARGETS quarl-clipboard-keeper RUNTIME DESTINATION ${QUARL_DESKTOP_DIR} COMPONENT desktop)
endif()
configure_file(${CMAKE_SOURCE_DIR}/packaging/quarlrpc.pc.in ${CMAKE_BINARY_DIR}/packaging/quarlrpc.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/quarlrpc.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT client)

# odbcinst templates (`odbcinst -i -d -f FILE` registers one): both drivers.
set(QUARL_DRIVER_PATH ${CMAKE_INSTALL_PREFIX}/${QUARL_ODBC_DRIVER_DIR})
foreach(template quarl quarl-unicode)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/odbcinst-${template}.ini.in
                 ${CMAKE_BINARY_DIR}/packaging/odbcinst/${template}.ini @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/odbcinst/${template}.ini DESTINATION ${QUARL_DATA_DIR}/odbcinst
          COMPONENT client)
endforeach()
# Man pages, compressed as Debian keeps them.
set(quarl_man_pages)
foreach(page rpc/cli/quarl-rpc.1 setup/cli/quarl-dsn.1 rpc/automation/quarl-regsvr.1 hostserver/quarl-hostserver.1)
  get_filename_component(name ${page} NAME)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/${page} > ${CMAKE_BINARY_DIR}/man/${name}.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/${page} VERBATIM)
  list(APPEND quarl_man_pages ${CMAKE_BINARY_DIR}/man/${name}.gz)
endforeach()
add_custom_target(quarl_man_pages ALL DEPENDS ${quarl_man_pages})
install(FILES ${CMAKE_BINARY_DIR}/man/quarl-rpc.1.gz ${CMAKE_BINARY_DIR}/man/quarl-dsn.1.gz
              ${CMAKE_BINARY_DIR}/man/quarl-regsvr.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT client)

# The Python automation client (rpc/python/*.py) goes where Debian's python3
# finds modules.
set(QUARL_PYTHON_DIR lib/python3/dist-packages CACHE STRING "where the Python modules go (relative to the prefix)")
file(GLOB quarl_python_modules ${CMAKE_SOURCE_DIR}/rpc/python/*.py)
if(quarl_python_modules)
  install(FILES ${quarl_python_modules} DESTINATION ${QUARL_PYTHON_DIR} COMPONENT client)
endif()

# The Host Server.
quarl_runpath(quarl-hostserver ${CMAKE_INSTALL_BINDIR})
install(TARGETS quarl-hostserver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/hostserver/procedures ${CMAKE_SOURCE_DIR}/hostserver/transactions
        DESTINATION ${QUARL_PROGRAMS_DIR} COMPONENT server USE_SOURCE_PERMISSIONS)
install(FILES ${CMAKE_BINARY_DIR}/man/quarl-hostserver.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT server)
set(QUARL_HOSTSERVER_PATH ${CMAKE_INSTALL_FULL_BINDIR}/quarl-hostserver)
set(QUARL_CONFIG_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/quarl)
set(QUARL_DEFAULTS_FILE ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default/quarl-hostserver)
configure_file(${CMAKE_SOURCE_DIR}/packaging/quarl-hostserver.service.in
               ${CMAKE_BINARY_DIR}/packaging/quarl-hostserver.service @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/quarl-hostserver.default.in
               ${CMAKE_BINARY_DIR}/packaging/quarl-hostserver @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/quarl-hostserver.service DESTINATION ${QUARL_SYSTEMD_DIR}
        COMPONENT server)
install(FILES ${CMAKE_BINARY_DIR}/packaging/quarl-hostserver DESTINATION ${QUARL_ETC_DEST}/default
        COMPONENT server)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/hostserver-users DESTINATION ${QUARL_ETC_DEST}/quarl
        RENAME users PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ COMPONENT server)
