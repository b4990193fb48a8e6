# 32-bit ARM, hard float (ARMv7 routers and boards), with Debian's g++-arm-linux-gnueabihf:
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake
set(CMAKE_SYSTEM_PROCESSOR arm)
set(ATSMS_CROSS_TRIPLE arm-linux-gnueabihf)
set(ATSMS_QEMU_NAME qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
