target_sources(qxcore PRIVATE
    command/command_line.cpp command/command_line.h
    command/prog_mode.cpp command/prog_mode.h
)
