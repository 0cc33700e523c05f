target_sources(qxcore PRIVATE)
