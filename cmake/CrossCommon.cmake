# SPDX-License-Identifier: GPL-2.0-or-later
# Shared by the cross toolchain files (ARM, s390x): libraries from a sysroot made by
# scripts/make-sysroot (VORLIX_SYSROOT), tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
# try_compile projects see only the variables named here
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VORLIX_SYSROOT)
if(NOT VORLIX_SYSROOT)
  set(VORLIX_SYSROOT $ENV{VORLIX_SYSROOT})
endif()
if(NOT VORLIX_SYSROOT)
  message(FATAL_ERROR "set VORLIX_SYSROOT to a sysroot made by scripts/make-sysroot")
endif()
set(sysroot_libs ${VORLIX_SYSROOT}/usr/lib/${VORLIX_TRIPLET})

set(CMAKE_C_COMPILER ${VORLIX_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VORLIX_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH ${VORLIX_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# mad.pc says libdir=/usr/lib on every architecture: the sysroot's own
# library folder is named here; its headers come before /usr/include, which
# the cross compiler also searches and where the build machine's mad.h lives
set(ENV{PKG_CONFIG_LIBDIR} ${sysroot_libs}/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${VORLIX_SYSROOT})
set(CMAKE_C_FLAGS_INIT "-I${VORLIX_SYSROOT}/usr/include")
set(CMAKE_CXX_FLAGS_INIT "-I${VORLIX_SYSROOT}/usr/include")
# libid3tag pulls in zlib
set(link_flags "-L${sysroot_libs} -Wl,-rpath-link,${sysroot_libs} -Wl,-rpath-link,${VORLIX_SYSROOT}/lib/${VORLIX_TRIPLET}")
set(CMAKE_EXE_LINKER_FLAGS_INIT ${link_flags})
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${link_flags})

# the C library comes from the cross toolchain, the rest from the sysroot
set(CMAKE_CROSSCOMPILING_EMULATOR ${VORLIX_QEMU} -L /usr/${VORLIX_TRIPLET}
    -E LD_LIBRARY_PATH=${sysroot_libs}:${VORLIX_SYSROOT}/lib/${VORLIX_TRIPLET})
