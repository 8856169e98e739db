# Cross build for 64-bit ARM Debian (arm64) on a Debian host.
# Needs g++-aarch64-linux-gnu, libasound2-dev:arm64 and qemu-user
# (scripts/cross-test.sh arm64 installs them). No sysroot: the target's
# libraries come from Debian's multiarch folders.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CLICKTRACK_TRIPLET aarch64-linux-gnu)
set(CLICKTRACK_DEB_ARCH arm64)
set(CLICKTRACK_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-multiarch.cmake)
