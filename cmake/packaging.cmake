# Installation layout and the Debian package "fuelgate" (cpack -G DEB; scripts/package.sh builds
# it in a clean build directory, scripts/package-check.sh checks it).
#
# The programs go to /usr/sbin (the operator command to /usr/bin); the configuration, units and
# system files have fixed places on a Debian system. The package version is FUELGATE_VERSION
# (cmake/version.cmake: the top entry of deploy/debian/changelog), the one the programs print.
#
# The operator command fuelwebctl joins the package by itself once a target of that name exists:
# define it (add_subdirectory) before this file is included.
include(GNUInstallDirs)

set(FUELGATE_DEPLOY ${CMAKE_SOURCE_DIR}/deploy)
set(FUELGATE_MAINTAINER "fuelgate developers <fuelgate@example.com>"
    CACHE STRING "Maintainer field of the Debian package")

install(TARGETS fuelweb pcuMonitorServer RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
if(TARGET fuelwebctl)
  install(TARGETS fuelwebctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The shipped configuration has empty keys and the usual mode; the postinst makes it root:fuelgate
# 0640 before the operator writes keys into it (dpkg never replaces a file the operator changed).
install(FILES ${FUELGATE_DEPLOY}/config.json DESTINATION /etc/fuelgate)
install(FILES ${FUELGATE_DEPLOY}/fuelgate.logrotate DESTINATION /etc/logrotate.d RENAME fuelgate)
install(FILES ${FUELGATE_DEPLOY}/fuelweb.service ${FUELGATE_DEPLOY}/pcuMonitorServer.service
        DESTINATION /lib/systemd/system)
install(FILES ${FUELGATE_DEPLOY}/fuelgate.tmpfiles DESTINATION /usr/lib/tmpfiles.d RENAME fuelgate.conf)

# Manual pages and the changelog are shipped compressed, without time stamps, so that two builds of
# one source give the same package. Every page in deploy/man joins (a fuelwebctl.1 too).
file(GLOB manPages CONFIGURE_DEPENDS ${FUELGATE_DEPLOY}/man/*.[1-8])
set(docDir ${CMAKE_BINARY_DIR}/package-doc)
set(gzipped)
foreach(src ${manPages} ${FUELGATE_DEPLOY}/debian/changelog)
  get_filename_component(name ${src} NAME)
  set(out ${docDir}/${name}.gz)
  add_custom_command(OUTPUT ${out}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${docDir}
                     COMMAND gzip -9nc ${src} > ${out}
                     DEPENDS ${src} VERBATIM)
  list(APPEND gzipped ${out})
  if(src IN_LIST manPages)
    string(REGEX MATCH "[1-8]$" section ${name})
    install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endif()
endforeach()
add_custom_target(package_doc ALL DEPENDS ${gzipped})
install(FILES ${docDir}/changelog.gz ${FUELGATE_DEPLOY}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fuelgate)
set(CPACK_PACKAGE_VERSION ${FUELGATE_VERSION})
set(CPACK_PACKAGE_CONTACT ${FUELGATE_MAINTAINER})
# The units name /usr/sbin: the package installs below /usr whatever prefix the build tree has.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "station-side fuel-ordering gateway")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The station's side of a remote fuel-ordering platform: fuelweb answers the
platform over HTTP/JSON, checks orders against the live pump state, reserves
and starts pumps through the station's pump-controller server and reports the
deliveries back; pcuMonitorServer follows the controller's monitoring port and
keeps the live pump table in shared memory. Both run as systemd services of
the user fuelgate with the configuration in /etc/fuelgate/config.json.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${FUELGATE_VERSION})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# adduser makes the service user in the postinst.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
# logrotate rotates the logs; ca-certificates is the system bundle that "fuelweb.upstream_verify_tls"
# checks the platform's certificate against.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "logrotate, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${FUELGATE_DEPLOY}/debian/conffiles ${FUELGATE_DEPLOY}/debian/postinst
    ${FUELGATE_DEPLOY}/debian/prerm ${FUELGATE_DEPLOY}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
