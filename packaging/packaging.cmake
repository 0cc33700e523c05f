# Installation of everything beside the programs (each program's own folder
# installs it into bin/), and the Debian package built by "cpack -G DEB".

set(QX_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

install(FILES ${QX_PACKAGING_DIR}/qx-server.desktop DESTINATION share/applications)
foreach(size 16 32 64)
    install(FILES ${PROJECT_SOURCE_DIR}/src/ui/images/icon-${size}.png
        DESTINATION share/icons/hicolor/${size}x${size}/apps
        RENAME qx-server.png)
endforeach()
# The service's user, its state folder, and the serial drivers whose device
# classes the sandboxed service may open.
install(FILES ${QX_PACKAGING_DIR}/qx-server.sysusers
    DESTINATION lib/sysusers.d
    RENAME qx-server.conf)
install(FILES ${QX_PACKAGING_DIR}/qx-server.tmpfiles
    DESTINATION lib/tmpfiles.d
    RENAME qx-server.conf)
install(FILES ${QX_PACKAGING_DIR}/qx-server.modules-load
    DESTINATION lib/modules-load.d
    RENAME qx-server.conf)
# The udev rule is a sample: it needs the adapter's own idVendor/idProduct
# before it may go into /etc/udev/rules.d.
install(FILES ${QX_PACKAGING_DIR}/99-qx-usb.rules DESTINATION share/doc/qx-server/examples)
install(FILES ${PROJECT_SOURCE_DIR}/docs/protocol.md ${PROJECT_SOURCE_DIR}/README.md
    ${QX_PACKAGING_DIR}/debian/copyright
    DESTINATION share/doc/qx-server)

# The units and their environment file name absolute paths, which depend on
# the prefix of the install itself (cpack installs with /usr, a developer may
# use another), so they are written when installing; so are the compressed
# manual pages and changelog.
install(CODE "set(QX_PACKAGING_DIR \"${QX_PACKAGING_DIR}\")
set(QX_PACKAGING_BINARY_DIR \"${CMAKE_BINARY_DIR}/packaging\")")
install(SCRIPT ${QX_PACKAGING_DIR}/install_service.cmake)
install(SCRIPT ${QX_PACKAGING_DIR}/install_compressed.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qx-server)
set(CPACK_PACKAGE_VENDOR "Tervan Divoreraro")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "network server for the QX-USB interface device")
# The summary above is the synopsis line; this is the long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Puts one serial-attached QX-USB interface device on a TCP network: control
programs send commands as hex lines to the command service (port 5550) and
get the device's answers; every message the device reports on its own goes
to all clients of the broadcast service (port 5551). Runs as a small desktop
window (German/English) or headless as a systemd service.
Also contains qx-client, a command-line client, and qx-sim, a simulated
device for trying the server without hardware.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "QX-USB Server maintainers <qx-server@tervan-divoreraro.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps finds the Qt runtime packages the programs link against;
# the window's platform plugin is loaded at run time, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The postinst creates the service's user with systemd-sysusers.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "systemd | systemd-standalone-sysusers | systemd-sysusers")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${QX_PACKAGING_DIR}/debian/postinst
    ${QX_PACKAGING_DIR}/debian/prerm
    ${QX_PACKAGING_DIR}/debian/postrm
    ${QX_PACKAGING_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
