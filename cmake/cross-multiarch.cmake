# Shared part of the toolchain files: a Debian cross compiler for
# CLICKTRACK_TRIPLET, the target's libraries and pkg-config files from the
# multiarch folders (/usr/lib/<triplet>), and programs run through qemu.
set(CMAKE_C_COMPILER ${CLICKTRACK_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${CLICKTRACK_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${CLICKTRACK_TRIPLET})

# Look for libraries only in the target's folders, never in the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_SYSTEM_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)

# pkg-config reads the target's .pc files.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${CLICKTRACK_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Test programs, test discovery and the program under test run in user-mode
# emulation against the target's multiarch run-time libraries (libc6,
# libstdc++6 and libasound2 for the target architecture), as on a board.
# No "-L /usr/<triplet>": qemu would then take the dynamic loader from the
# cross compiler's copy of glibc and libc.so.6 from the multiarch one, and
# the two builds of glibc do not mix (fork crashes in the child).
find_program(CLICKTRACK_QEMU_PATH ${CLICKTRACK_QEMU} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CLICKTRACK_QEMU_PATH})

# The Debian package is for the target's architecture.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${CLICKTRACK_DEB_ARCH})
