# SPDX-License-Identifier: GPL-2.0-or-later
# 64-bit ARM (Debian arm64): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/arm64.cmake -DVORLIX_SYSROOT=DIR
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VORLIX_TRIPLET aarch64-linux-gnu)
set(VORLIX_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/CrossCommon.cmake)
