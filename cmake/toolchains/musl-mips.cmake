# Static atsms against musl for 32-bit big-endian MIPS, soft float (OpenWrt's ath79 routers):
#   scripts/static mips
set(CMAKE_SYSTEM_PROCESSOR mips)
set(ATSMS_CROSS_TRIPLE mips-linux-gnu)
set(ATSMS_QEMU_NAME qemu-mips)
set(ATSMS_MUSL_CFLAGS -msoft-float)
# The tool's code alone (musl keeps its own): a static executable calls directly, not through the
# GOT, which takes an eighth of MIPS code.
set(ATSMS_CODE_FLAGS -mplt)
include(${CMAKE_CURRENT_LIST_DIR}/linux-musl.cmake)
