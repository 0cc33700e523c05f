target_sources(qxui PRIVATE)
