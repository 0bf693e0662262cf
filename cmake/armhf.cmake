# SPDX-License-Identifier: GPL-2.0-or-later
# 32-bit ARM (Debian armhf): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/armhf.cmake -DVORLIX_SYSROOT=DIR
set(CMAKE_SYSTEM_PROCESSOR arm)
set(VORLIX_TRIPLET arm-linux-gnueabihf)
set(VORLIX_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/CrossCommon.cmake)
