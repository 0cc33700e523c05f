target_sources(qxcore PRIVATE
    command/command_line.cpp command/command_line.h
    command/command_service.cpp command/command_service.h
    command/connection_socket.cpp command/connection_socket.h
    command/prog_mode.cpp command/prog_mode.h
    command/service_listener.cpp command/service_listener.h
    command/queue_worker.cpp command/queue_worker.h
)
