target_sources(qxcore PRIVATE
    control/start_stop.cpp control/start_stop.h
)
