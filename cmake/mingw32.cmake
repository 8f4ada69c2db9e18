# SPDX-License-Identifier: MIT
# Cross-build for 32-bit Windows with the MinGW-w64 i686 toolchain.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake)
