target_sources(qxcore PRIVATE sim/simulated_device.cpp sim/simulated_device.h)
