# Installation of the Linux side and its Debian package (make install, make
# package). The plug-in's zip is made by the Makefile from the Windows build.
set(man_gz)
foreach(page norvelo norvelo-unit norvelo-learn norvelo-bridge)
  # The page's header names the release.
  set(page_file ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1)
  configure_file(man/${page}.1.in ${page_file} @ONLY)
  set(gz ${page_file}.gz)
  # Debian keeps manual pages compressed; -n leaves the time out of the file.
  add_custom_command(OUTPUT ${gz}
    COMMAND sh -c "gzip -9 -n -c \"$0\" > \"$1\"" ${page_file} ${gz}
    DEPENDS ${page_file}
    VERBATIM)
  list(APPEND man_gz ${gz})
endforeach()
add_custom_target(norvelo-man ALL DEPENDS ${man_gz})
install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/copyright ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The built-in key map as a file, to copy and change for another remote.
install(FILES packaging/example.map DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples RENAME remote.map)

# The system services, installed but not enabled. Their units name the
# programs where this installation puts them, so they are made at install
# time, with the installation's own prefix (make install, cpack), and get
# mode 644 whatever the umask of the checkout was. systemd
# reads units from lib/systemd/system under /usr and /usr/local, never from
# the multiarch folder that CMAKE_INSTALL_LIBDIR may name. The defaults files
# stay in /etc/default whatever the prefix: the units read them from there.
set(NORVELO_SYSTEMD_UNITDIR lib/systemd/system CACHE STRING
    "Where the service units go, under the installation prefix")
# The desktop's unit is a user unit, for the session's own bus.
set(NORVELO_SYSTEMD_USERUNITDIR lib/systemd/user CACHE STRING
    "Where the user units go, under the installation prefix")
function(norvelo_install_unit service unitdir)
  install(CODE "
    set(NORVELO_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
    if(NOT IS_ABSOLUTE \"\${NORVELO_BINDIR}\")
      set(NORVELO_BINDIR \"\${CMAKE_INSTALL_PREFIX}/\${NORVELO_BINDIR}\")
    endif()
    configure_file(\"${CMAKE_CURRENT_SOURCE_DIR}/packaging/${service}.service.in\"
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${unitdir}/${service}.service\" @ONLY
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)")
endfunction()
foreach(service norvelo norvelo-bridge)
  norvelo_install_unit(${service} ${NORVELO_SYSTEMD_UNITDIR})
  install(FILES packaging/${service}.default DESTINATION /etc/default RENAME ${service})
endforeach()
norvelo_install_unit(norvelo-desktop ${NORVELO_SYSTEMD_USERUNITDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norvelo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Norvelo maintainers <norvelo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MP3 player driven by an infrared remote through the Norvelo control unit")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "norvelo plays MP3 files with mpg123, takes RC-5 remote keys from the Norvelo\n"
    "control unit on a serial line and shows the title and state on its display.\n"
    "norvelo-unit emulates the control unit in a terminal; norvelo-learn writes a\n"
    "remote mappings file for your own remote. norvelo-bridge serves the unit's keys\n"
    "on a lircd socket and its display on an LCDd port, for any other program.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Named by hand so that packaging needs no dpkg-dev.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1, libstdc++6 (>= 12), libasound2 (>= 1.2), libmpdclient2 (>= 2.20), libsystemd0, mpg123, adduser")
# Through its plug-ins ALSA's default device is the sound server's volume;
# mpv plays what mpg123 does not ("-p mpv").
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libasound2-plugins, mpv")
# The key and display clients that norvelo-bridge serves; the players that
# run of their own, which norvelo drives.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "lirc, lcdproc, mpd, mpv-mpris, playerctl")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The maintainer scripts create the service's user; the defaults file is the
# user's to edit and survives upgrades.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/conffiles
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
