# Static atsms against musl for 32-bit ARM, hard float (OpenWrt's ARM Cortex-A targets):
#   scripts/static armhf
set(CMAKE_SYSTEM_PROCESSOR arm)
set(ATSMS_CROSS_TRIPLE arm-linux-gnueabihf)
set(ATSMS_QEMU_NAME qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-musl.cmake)
