# Installation of everything beside the programs (each program's own folder
# installs it into bin/), and the Debian package built by "cpack -G DEB".

set(QX_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

install(FILES
    ${QX_PACKAGING_DIR}/qx-server.1
    ${QX_PACKAGING_DIR}/qx-sim.1
    ${QX_PACKAGING_DIR}/qx-client.1
    DESTINATION share/man/man1)
install(FILES ${QX_PACKAGING_DIR}/qx-server.desktop DESTINATION share/applications)
foreach(size 16 32 64)
    install(FILES ${PROJECT_SOURCE_DIR}/src/ui/images/icon-${size}.png
        DESTINATION share/icons/hicolor/${size}x${size}/apps
        RENAME qx-server.png)
endforeach()
install(FILES ${QX_PACKAGING_DIR}/qx-server.sysusers
    DESTINATION lib/sysusers.d
    RENAME qx-server.conf)
# The udev rule is a sample: it needs the adapter's own idVendor/idProduct
# before it may go into /etc/udev/rules.d.
install(FILES ${QX_PACKAGING_DIR}/99-qx-usb.rules DESTINATION share/doc/qx-server/examples)
install(FILES ${PROJECT_SOURCE_DIR}/docs/protocol.md ${PROJECT_SOURCE_DIR}/README.md
    DESTINATION share/doc/qx-server)

# The unit and its environment file name absolute paths, which depend on the
# prefix of the install itself (cpack installs with /usr, a developer may use
# another), so they are written when installing.
install(CODE "set(QX_PACKAGING_DIR \"${QX_PACKAGING_DIR}\")
set(QX_PACKAGING_BINARY_DIR \"${CMAKE_BINARY_DIR}/packaging\")")
install(SCRIPT ${QX_PACKAGING_DIR}/install_service.cmake)

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
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${QX_PACKAGING_DIR}/debian/postinst
    ${QX_PACKAGING_DIR}/debian/prerm
    ${QX_PACKAGING_DIR}/debian/postrm
    ${QX_PACKAGING_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

if(QX_BUILD_TESTS)
    add_subdirectory(${PROJECT_SOURCE_DIR}/tests/package ${CMAKE_BINARY_DIR}/tests/package)
endif()
