# Static atsms against musl for 32-bit little-endian MIPS, soft float (OpenWrt's ramips routers):
#   scripts/static mipsel
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(ATSMS_CROSS_TRIPLE mipsel-linux-gnu)
set(ATSMS_QEMU_NAME qemu-mipsel)
set(ATSMS_MUSL_CFLAGS -msoft-float)
# The tool's code alone (musl keeps its own): a static executable calls directly, not through the
# GOT, which takes an eighth of MIPS code.
set(ATSMS_CODE_FLAGS -mplt)
include(${CMAKE_CURRENT_LIST_DIR}/linux-musl.cmake)
