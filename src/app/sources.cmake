# qxapp: command line and the program's start-up, shared by main() and the tests.
add_library(qxapp STATIC)
target_link_libraries(qxapp PUBLIC qxui)
target_sources(qxapp PRIVATE
    app/options.cpp app/options.h
)
target_sources(qx-server PRIVATE app/main.cpp)
