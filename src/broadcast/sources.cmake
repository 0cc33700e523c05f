target_sources(qxcore PRIVATE
    broadcast/broadcast_service.cpp broadcast/broadcast_service.h
    broadcast/housekeeping.cpp broadcast/housekeeping.h
)
