# Installs the systemd unit and its environment file for the prefix of this
# install: a package (prefix /usr) gets /usr/bin/qx-server and
# /etc/default/qx-server, as the unit in the source names them; any other
# prefix gets its own bin/ and etc/ in the unit.

if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(qx_sysconfdir /etc)
else()
    set(qx_sysconfdir ${CMAKE_INSTALL_PREFIX}/etc)
endif()

file(READ ${QX_PACKAGING_DIR}/qx-server.service qx_unit)
string(REPLACE "/usr/bin/qx-server" "${CMAKE_INSTALL_PREFIX}/bin/qx-server" qx_unit "${qx_unit}")
string(REPLACE "/etc/default/qx-server" "${qx_sysconfdir}/default/qx-server" qx_unit
    "${qx_unit}")
file(WRITE ${QX_PACKAGING_BINARY_DIR}/qx-server.service "${qx_unit}")

set(qx_permissions PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(INSTALL ${QX_PACKAGING_BINARY_DIR}/qx-server.service
    DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system
    ${qx_permissions})
file(INSTALL ${QX_PACKAGING_DIR}/qx-server.default
    DESTINATION ${qx_sysconfdir}/default
    RENAME qx-server
    ${qx_permissions})
