# SPDX-License-Identifier: MIT
# Cross-build for 64-bit Windows with the MinGW-w64 x86-64 toolchain: only
# the kernel-mode port driver (torvex64.sys) and its checks. Its user-mode
# clients stay 32-bit (mingw32.cmake) and reach it through WoW64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake)
