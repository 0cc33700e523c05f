target_sources(qxcore PRIVATE
    core/clock.h
    core/close_reason.h
    core/logging.cpp core/logging.h
    core/server_control.h
    core/command_ring.cpp core/command_ring.h
    core/hex_line.cpp core/hex_line.h
    core/idle.h
    core/leading_number.cpp core/leading_number.h
    core/presentation.h
    core/server_state.h
    core/settings_store.cpp core/settings_store.h
    core/slot_search.cpp core/slot_search.h
    core/status_looks.cpp core/status_looks.h
    core/string_table.cpp core/string_table.h
)
