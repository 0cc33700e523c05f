# Installs the systemd units and the service's environment file for the prefix
# of this install: a package (prefix /usr) gets /usr/bin/qx-server and
# /etc/default/qx-server, as the units in the source name them; any other
# prefix gets its own bin/ and etc/ in the units.

if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(qx_sysconfdir /etc)
else()
    set(qx_sysconfdir ${CMAKE_INSTALL_PREFIX}/etc)
endif()

set(qx_permissions PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
foreach(unit qx-server.service qx-server@.service)
    file(READ ${QX_PACKAGING_DIR}/${unit} qx_unit)
    string(REPLACE "/usr/bin/qx-server" "${CMAKE_INSTALL_PREFIX}/bin/qx-server" qx_unit
        "${qx_unit}")
    string(REPLACE "/etc/default/qx-server" "${qx_sysconfdir}/default/qx-server" qx_unit
        "${qx_unit}")
    file(WRITE ${QX_PACKAGING_BINARY_DIR}/${unit} "${qx_unit}")
    file(INSTALL ${QX_PACKAGING_BINARY_DIR}/${unit}
        DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system
        ${qx_permissions})
endforeach()
file(INSTALL ${QX_PACKAGING_DIR}/qx-server.default
    DESTINATION ${qx_sysconfdir}/default
    RENAME qx-server
    ${qx_permissions})
