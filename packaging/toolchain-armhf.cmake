# 32-bit ARM with hard float (Debian armhf: ARMv7, so a Raspberry Pi 2 or
# later with a 32-bit system): cmake
# -DCMAKE_TOOLCHAIN_FILE=packaging/toolchain-armhf.cmake
set(CMAKE_SYSTEM_PROCESSOR arm)
set(QX_TRIPLET arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-multiarch.cmake)
