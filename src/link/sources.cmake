target_sources(qxcore PRIVATE
    link/receive_buffer.cpp link/receive_buffer.h
    link/port_map.cpp link/port_map.h
    link/stored_port.cpp link/stored_port.h
    link/serial_link.cpp link/serial_link.h
    link/transaction.cpp link/transaction.h
    link/interface_search.cpp link/interface_search.h
)
