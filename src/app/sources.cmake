# qxapp: command line and the program's start-up, shared by main() and the tests.
add_library(qxapp STATIC)
target_link_libraries(qxapp PUBLIC qxui)
target_sources(qxapp PRIVATE
    app/console_presenter.cpp app/console_presenter.h
    app/headless.cpp app/headless.h
    app/logging_setup.cpp app/logging_setup.h
    app/options.cpp app/options.h
    app/settings_access.cpp app/settings_access.h
    app/single_instance.cpp app/single_instance.h
)
# The settings steps of the start serve the window start-up in qxui as well.
target_sources(qxui PRIVATE
    app/startup_steps.cpp app/startup_steps.h
)
target_sources(qx-server PRIVATE app/main.cpp)
