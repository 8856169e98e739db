# Cross build for 32-bit ARM hard-float Debian (armhf, ARMv7) on a Debian host.
# Needs g++-arm-linux-gnueabihf, libasound2-dev:armhf and qemu-user
# (scripts/cross-test.sh armhf installs them). No sysroot: the target's
# libraries come from Debian's multiarch folders.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CLICKTRACK_TRIPLET arm-linux-gnueabihf)
set(CLICKTRACK_DEB_ARCH armhf)
set(CLICKTRACK_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross-multiarch.cmake)
