# qxapp: command line and the program's start-up, shared by main() and the tests.
add_library(qxapp STATIC)
target_link_libraries(qxapp PUBLIC qxui)
target_sources(qxapp PRIVATE
    app/console_presenter.cpp app/console_presenter.h
    app/headless.cpp app/headless.h
    app/logging_setup.cpp app/logging_setup.h
    app/options.cpp app/options.h
    app/settings_access.cpp app/settings_access.h
    app/service_notifier.cpp app/service_notifier.h
    app/single_instance.cpp app/single_instance.h
)
# The settings steps of the start serve the window start-up in qxui as well.
target_sources(qxui PRIVATE
    app/startup_steps.cpp app/startup_steps.h
)
target_sources(qx-server PRIVATE app/main.cpp)

# Readiness, status and watchdog for systemd (Type=notify) come from libsystemd
# when it is there; without it the notifier only passes the status on.
option(QX_SYSTEMD "Tell systemd about readiness, status and the watchdog (libsystemd)" ON)
if(QX_SYSTEMD)
    find_package(PkgConfig QUIET)
    if(PkgConfig_FOUND)
        pkg_check_modules(LIBSYSTEMD IMPORTED_TARGET libsystemd)
    endif()
    if(TARGET PkgConfig::LIBSYSTEMD)
        target_link_libraries(qxapp PRIVATE PkgConfig::LIBSYSTEMD)
        target_compile_definitions(qxapp PRIVATE QX_HAVE_SYSTEMD)
    else()
        message(STATUS "libsystemd not found (Debian: libsystemd-dev): no systemd notifications")
    endif()
endif()
