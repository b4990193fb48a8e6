# Shared part of the musl toolchain files: a static atsms linked against musl instead of glibc, for
# routers whose C library is musl (OpenWrt). Debian's compiler for ATSMS_CROSS_TRIPLE compiles it
# against musl's headers only and links it with musl's start files and libc.a and the compiler's own
# libgcc.a, so nothing of glibc ends up in the binary. scripts/static TARGET sets ATSMS_MUSL_PREFIX.
#
#   ATSMS_CROSS_TRIPLE  the compiler's triple (x86_64-linux-gnu, arm-linux-gnueabihf, ...)
#   ATSMS_MUSL_CFLAGS   ABI flags that musl was built with and the tool must match (-msoft-float)
#   ATSMS_CODE_FLAGS    code generation flags for the tool's own code (-mplt)
#   ATSMS_MUSL_PREFIX   (cache) musl's include/ and lib/, as its "make install" leaves them
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${ATSMS_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ATSMS_CROSS_TRIPLE}-g++)

set(ATSMS_MUSL_PREFIX "" CACHE PATH "musl built for ${ATSMS_CROSS_TRIPLE}: its include/ and lib/ directories")
if(NOT ATSMS_MUSL_PREFIX OR NOT EXISTS "${ATSMS_MUSL_PREFIX}/lib/libc.a")
  message(FATAL_ERROR "ATSMS_MUSL_PREFIX must name musl built for ${ATSMS_CROSS_TRIPLE} "
                      "(lib/libc.a and include/); scripts/static builds it and passes it on")
endif()
# try_compile projects read this file again: hand them the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ATSMS_MUSL_PREFIX)

# Nothing is searched for in the build machine's libraries.
set(CMAKE_FIND_ROOT_PATH "${ATSMS_MUSL_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own files: its freestanding headers (after musl's), libgcc.a and the crtbegin/crtend
# pair that runs static constructors.
foreach(file include crtbeginT.o crtend.o libgcc.a)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${ATSMS_MUSL_CFLAGS} -print-file-name=${file}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(MAKE_C_IDENTIFIER "${file}" name)
  set(ATSMS_GCC_${name} "${path}")
endforeach()

# Only musl's headers and the compiler's freestanding ones; no C++ library headers (the tool uses
# none). -fno-pie: a static binary is loaded at its link address, and the code is smaller.
string(JOIN " " ATSMS_MUSL_COMPILE_FLAGS ${ATSMS_MUSL_CFLAGS} ${ATSMS_CODE_FLAGS}
       -nostdinc -nostdinc++ -isystem "${ATSMS_MUSL_PREFIX}/include" -isystem "${ATSMS_GCC_include}"
       -fno-pie -ffunction-sections -fdata-sections)
set(CMAKE_C_FLAGS_INIT "${ATSMS_MUSL_COMPILE_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${ATSMS_MUSL_COMPILE_FLAGS}")

# Static, stripped, unused sections dropped; musl's start files around the objects, libc.a and
# libgcc.a (64-bit division on 32-bit CPUs, the floating-point arithmetic musl's printf has no
# instructions for) resolved together.
set(ATSMS_MUSL_LIB "${ATSMS_MUSL_PREFIX}/lib")
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_CXX_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> -static -no-pie -nostdlib -s -Wl,--gc-sections -Wl,-z,norelro \
${ATSMS_MUSL_LIB}/crt1.o ${ATSMS_MUSL_LIB}/crti.o ${ATSMS_GCC_crtbeginT_o} <OBJECTS> -o <TARGET> <LINK_LIBRARIES> \
-Wl,--start-group ${ATSMS_MUSL_LIB}/libc.a ${ATSMS_GCC_libgcc_a} -Wl,--end-group ${ATSMS_GCC_crtend_o} ${ATSMS_MUSL_LIB}/crtn.o")
set(CMAKE_C_LINK_EXECUTABLE "${CMAKE_CXX_LINK_EXECUTABLE}")

# qemu-user runs the static binary as it is (no -L: there is no loader to find).
if(ATSMS_QEMU_NAME)
  find_program(ATSMS_QEMU ${ATSMS_QEMU_NAME})
  if(ATSMS_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ATSMS_QEMU})
  endif()
endif()
