# Shared part of the cross toolchain files: Debian's cross compilers for ATSMS_CROSS_TRIPLE,
# their libraries in /usr/<triple>, and qemu-user to run what was built (tests, gtest discovery).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${ATSMS_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ATSMS_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${ATSMS_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Without binfmt, qemu-user must be named and told where the target's loader and libraries are.
find_program(ATSMS_QEMU ${ATSMS_QEMU_NAME})
if(ATSMS_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ATSMS_QEMU} -L /usr/${ATSMS_CROSS_TRIPLE})
endif()

# GoogleTest is not packaged for the target: build it from Debian's sources (googletest package).
if(NOT DEFINED GTest_DIR AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(GTest_DIR ${CMAKE_CURRENT_LIST_DIR}/gtest CACHE PATH "GoogleTest built from source for the target")
endif()
