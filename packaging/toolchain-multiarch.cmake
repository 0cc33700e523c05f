# Cross-building with Debian's multiarch packages: the compiler from
# crossbuild-essential-<arch>, the target's libraries (Qt, libsystemd) from
# the <arch> packages installed beside the machine's own, and Qt's host tools
# (moc, rcc, uic) from the machine's own Qt. Included by toolchain-<arch>.cmake,
# which names the target's processor and GNU triplet.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${QX_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QX_TRIPLET}-g++)
# find_package and find_library look in /usr/lib/<triplet>, never in the
# machine's own library folder.
set(CMAKE_LIBRARY_ARCHITECTURE ${QX_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(QT_HOST_PATH /usr)
# pkg-config (libsystemd) reads the target's .pc files alone.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${QX_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
