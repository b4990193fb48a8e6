# Static atsms against musl for x86-64 (PCs, x86 routers):
#   scripts/static x86_64
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ATSMS_CROSS_TRIPLE x86_64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-musl.cmake)
