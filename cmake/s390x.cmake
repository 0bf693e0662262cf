# SPDX-License-Identifier: GPL-2.0-or-later
# 64-bit IBM Z (Debian s390x), big-endian: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/s390x.cmake -DVORLIX_SYSROOT=DIR
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(VORLIX_TRIPLET s390x-linux-gnu)
set(VORLIX_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/CrossCommon.cmake)
