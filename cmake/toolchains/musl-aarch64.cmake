# Static atsms against musl for 64-bit ARM (OpenWrt's AArch64 targets):
#   scripts/static aarch64
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ATSMS_CROSS_TRIPLE aarch64-linux-gnu)
set(ATSMS_QEMU_NAME qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-musl.cmake)
