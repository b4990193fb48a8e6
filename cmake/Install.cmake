# Installation, static linking and the Debian packages.
#   cmake --install BUILD [--prefix /usr] [--strip]     (DESTDIR honoured)
#   cd BUILD && cpack -G DEB                             -> atsms_<version>-1_<arch>.deb
#                                                           atsms-modem-sim_<version>-1_<arch>.deb
include(GNUInstallDirs)

# For routers without a shared libc that matches the build machine's.
option(ATSMS_STATIC "Link atsms statically" OFF)
if(ATSMS_STATIC)
  target_link_options(atsms PRIVATE -static)
endif()

# Manual pages are installed gzip-compressed, as Debian does; -n keeps the archive reproducible.
set(ATSMS_MAN_PAGES atsms.1 atsms-service.1)
if(TARGET modem-sim)
  list(APPEND ATSMS_MAN_PAGES atsms-modem-sim.1)
endif()
set(ATSMS_COMPRESSED_MAN_PAGES "")
foreach(page IN LISTS ATSMS_MAN_PAGES)
  set(copy "${CMAKE_CURRENT_BINARY_DIR}/man/${page}")
  configure_file("${CMAKE_CURRENT_SOURCE_DIR}/doc/${page}" "${copy}" COPYONLY)
  add_custom_command(OUTPUT "${copy}.gz"
    COMMAND gzip -9nkf "${copy}"
    DEPENDS "${copy}"
    COMMENT "Compressing ${page}"
    VERBATIM)
  list(APPEND ATSMS_COMPRESSED_MAN_PAGES "${copy}.gz")
endforeach()
add_custom_target(atsms-man ALL DEPENDS ${ATSMS_COMPRESSED_MAN_PAGES})

install(TARGETS atsms RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT atsms)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/man/atsms.1.gz"
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT atsms)
# The licence, as Debian's machine-readable copyright file, in each package's documentation.
file(READ "${CMAKE_CURRENT_SOURCE_DIR}/LICENSE" ATSMS_LICENSE)
string(STRIP "${ATSMS_LICENSE}" ATSMS_LICENSE)
string(REPLACE "\n" "\n " ATSMS_LICENSE "${ATSMS_LICENSE}")
string(REPLACE "\n \n" "\n .\n" ATSMS_LICENSE "${ATSMS_LICENSE}")  # a blank line of the text
file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/copyright"
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: atsms\n\n"
  "Files: *\n"
  "Copyright: 2026 the atsms authors\n"
  "License: Expat\n ${ATSMS_LICENSE}\n")
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/copyright"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/atsms COMPONENT atsms)
# Bash completion, where bash-completion looks for it by the command's name.
install(FILES "${CMAKE_CURRENT_SOURCE_DIR}/completion/atsms"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT atsms)

# The service that hands each arriving SMS to a command: its runner, the example commands, the
# configuration file and, for Debian, the systemd unit (absolute paths: where Debian wants them).
install(PROGRAMS "${CMAKE_CURRENT_SOURCE_DIR}/packaging/common/atsms-service"
        DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT atsms)
install(PROGRAMS "${CMAKE_CURRENT_SOURCE_DIR}/packaging/common/examples/append-to-file"
                 "${CMAKE_CURRENT_SOURCE_DIR}/packaging/common/examples/post-json"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/atsms/examples COMPONENT atsms)
install(FILES "${CMAKE_CURRENT_SOURCE_DIR}/doc/service.md"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/atsms COMPONENT atsms)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/man/atsms-service.1.gz"
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT atsms)
install(FILES "${CMAKE_CURRENT_SOURCE_DIR}/packaging/common/atsms.conf"
        DESTINATION /etc/atsms COMPONENT atsms)
install(FILES "${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/atsms.service"
        DESTINATION /lib/systemd/system COMPONENT atsms)
# dpkg keeps the user's changes to the configuration file across upgrades.
file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/conffiles" "/etc/atsms/atsms.conf\n")

# The simulated modem, for people who test scripts and web front ends around atsms without hardware.
if(TARGET modem-sim)
  install(PROGRAMS $<TARGET_FILE:modem-sim> DESTINATION ${CMAKE_INSTALL_BINDIR}
          RENAME atsms-modem-sim COMPONENT simulator)
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/man/atsms-modem-sim.1.gz"
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT simulator)
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/copyright"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/atsms-modem-sim COMPONENT simulator)
endif()

# Debian packages: one for the tool (needs only libc), one for the simulator (C++ runtime).
set(ATSMS_MAINTAINER "atsms developers <atsms-devel@example.org>"
    CACHE STRING "Maintainer field of the Debian packages")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME atsms)
set(CPACK_PACKAGE_VENDOR "atsms developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ATSMS_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL atsms)
if(TARGET modem-sim)
  list(APPEND CPACK_COMPONENTS_ALL simulator)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ATSMS_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_ATSMS_PACKAGE_NAME atsms)
set(CPACK_DEBIAN_ATSMS_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_ATSMS_PACKAGE_SUGGESTS "atsms-modem-sim, curl")
set(CPACK_DEBIAN_ATSMS_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_BINARY_DIR}/conffiles")
set(CPACK_DEBIAN_ATSMS_DESCRIPTION "send and read SMS and USSD through a modem's AT port
atsms drives a GSM/3G/LTE modem through its AT-command serial port
(for example /dev/ttyUSB1). One run lists the short messages stored on
the SIM or in the phone memory, deletes one or all of them, sends one
SMS (as a UCS-2 PDU, so any script and emoji arrive intact) or sends one
USSD request such as a balance query.

Its output is a tab-separated listing or a small result block, and its
exit status carries the result, so shell scripts and web front ends on
routers and PCs can use it directly. It is small and needs only libc.")

set(CPACK_DEBIAN_SIMULATOR_PACKAGE_NAME atsms-modem-sim)
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_SUGGESTS atsms)
set(CPACK_DEBIAN_SIMULATOR_DESCRIPTION "simulated AT-command modem for testing atsms
atsms-modem-sim opens a pseudo-terminal and answers the AT commands that
atsms writes like a GSM modem would: it keeps SIM and phone message
storages loaded from a text file, accepts sent SMS and decodes them,
and answers USSD requests. It can also be told to misbehave (stay
silent, answer late or in pieces, answer ERROR).

Use it to try atsms, and to test scripts and web front ends built
around atsms, without modem hardware.")

# The web page and its bridge (package atsms-web) under share/atsms/www: the page in atsms/, the
# bridge in cgi-bin/, as a web server serves them; an example lighttpd configuration beside the docs.
if(TARGET atsms-web)
  if(ATSMS_STATIC)
    target_link_options(atsms-web PRIVATE -static)
  endif()
  install(TARGETS atsms-web RUNTIME DESTINATION ${CMAKE_INSTALL_DATADIR}/atsms/www/cgi-bin COMPONENT web)
  install(FILES web/index.html web/atsms.js web/atsms.css
          DESTINATION ${CMAKE_INSTALL_DATADIR}/atsms/www/atsms COMPONENT web)
  install(FILES packaging/web/lighttpd-atsms-web.conf
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/atsms-web/examples COMPONENT web)
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/copyright" DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/atsms-web COMPONENT web)
  list(APPEND CPACK_COMPONENTS_ALL web)
  set(CPACK_DEBIAN_WEB_PACKAGE_NAME atsms-web)
  set(CPACK_DEBIAN_WEB_PACKAGE_SECTION web)
  set(CPACK_DEBIAN_WEB_PACKAGE_SUGGESTS "lighttpd")
  set(CPACK_DEBIAN_WEB_DESCRIPTION "SMS and USSD web page for atsms
A small web page for a router or PC with a GSM modem: the SMS on the SIM
and in the phone memory, sending with a live part counter and delivery
reports, deleting (only the message that was shown), USSD with menus.

Its CGI bridge checks every request and field, then runs atsms with the
port and settings of /etc/atsms/atsms.conf; it answers only users that
the web server authenticated. An example lighttpd configuration is in
/usr/share/doc/atsms-web/examples.")
endif()

if(CMAKE_CROSSCOMPILING)
  # dpkg-shlibdeps cannot read the target's libraries here: name the architecture and libc instead.
  set(ATSMS_DEB_ARCHITECTURES "arm-linux-gnueabihf=armhf;aarch64-linux-gnu=arm64;mips-linux-gnu=mips;mipsel-linux-gnu=mipsel")
  foreach(pair IN LISTS ATSMS_DEB_ARCHITECTURES)
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 triple)
    list(GET pair 1 debArch)
    if(CMAKE_CXX_COMPILER MATCHES "${triple}")
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${debArch})
    endif()
  endforeach()
  if(NOT ATSMS_STATIC)
    set(CPACK_DEBIAN_ATSMS_PACKAGE_DEPENDS libc6)
  endif()
  set(CPACK_DEBIAN_SIMULATOR_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  set(CPACK_DEBIAN_WEB_PACKAGE_DEPENDS "atsms")
  if(NOT ATSMS_STATIC)
    set(CPACK_DEBIAN_WEB_PACKAGE_DEPENDS "atsms, libc6")
  endif()
else()
  set(CPACK_DEBIAN_WEB_PACKAGE_DEPENDS "atsms")
  # Dependencies computed from the binaries (dpkg-shlibdeps, from dpkg-dev).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
