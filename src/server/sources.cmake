target_sources(qxcore PRIVATE
    server/server.cpp server/server.h
)
