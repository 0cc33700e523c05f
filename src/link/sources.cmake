target_sources(qxcore PRIVATE
    link/receive_buffer.cpp link/receive_buffer.h
    link/port_map.cpp link/port_map.h
    link/stored_port.cpp link/stored_port.h
)
