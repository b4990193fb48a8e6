# Big-endian 32-bit MIPS (many routers), with Debian's g++-mips-linux-gnu:
#   cmake -S . -B build-mips -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mips-linux-gnu.cmake
set(CMAKE_SYSTEM_PROCESSOR mips)
set(ATSMS_CROSS_TRIPLE mips-linux-gnu)
set(ATSMS_QEMU_NAME qemu-mips)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
