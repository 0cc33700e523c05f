# 64-bit ARM (Raspberry Pi 3, 4 and 5 with a 64-bit system): cmake
# -DCMAKE_TOOLCHAIN_FILE=packaging/toolchain-arm64.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QX_TRIPLET aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-multiarch.cmake)
