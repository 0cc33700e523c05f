# Installs the manual pages and the changelog compressed, as Debian keeps them
# (gzip -9, without the file name and time stamp, so that the package is the
# same from build to build).

function(qx_install_gzipped source destination)
    get_filename_component(name ${source} NAME)
    set(compressed ${QX_PACKAGING_BINARY_DIR}/${name}.gz)
    execute_process(COMMAND gzip -9 -n -c ${source} OUTPUT_FILE ${compressed}
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "gzip could not compress ${source}")
    endif()
    file(INSTALL ${compressed} DESTINATION ${CMAKE_INSTALL_PREFIX}/${destination}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

foreach(page qx-server.1 qx-client.1 qx-sim.1)
    qx_install_gzipped(${QX_PACKAGING_DIR}/${page} share/man/man1)
endforeach()
qx_install_gzipped(${QX_PACKAGING_DIR}/debian/changelog share/doc/qx-server)
