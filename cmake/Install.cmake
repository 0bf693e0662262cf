# SPDX-License-Identifier: GPL-2.0-or-later
# Installation: the libraries with their soname links and headers, pkg-config and
# CMake package files (both relocatable), the host and its man page.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS vorlix EXPORT VorlixTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# the file library, Vorlix::File in the same package
# (it finds libvorlix beside it wherever the prefix is)
set_target_properties(vorlixfile PROPERTIES EXPORT_NAME File INSTALL_RPATH "$ORIGIN")
install(TARGETS vorlixfile EXPORT VorlixTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT VorlixTargets NAMESPACE Vorlix::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Vorlix)

# the file library has a version of its own (its header's)
get_target_property(VORLIXFILE_VERSION vorlixfile VERSION)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VorlixConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/VorlixConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Vorlix)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VorlixConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VorlixConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/VorlixConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Vorlix)

file(RELATIVE_PATH VORLIX_PC_UP "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
configure_file(${CMAKE_CURRENT_LIST_DIR}/vorlix.pc.in ${CMAKE_CURRENT_BINARY_DIR}/vorlix.pc @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/vorlixfile.pc.in ${CMAKE_CURRENT_BINARY_DIR}/vorlixfile.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vorlix.pc ${CMAKE_CURRENT_BINARY_DIR}/vorlixfile.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET vorlix-decode)
  install(TARGETS vorlix-decode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/vorlix-decode.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

if(TARGET vorlix-play)
  install(TARGETS vorlix-play RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/vorlix-play.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# the installed programs find the installed library wherever the prefix is
foreach(program vorlix-decode vorlix-play)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  endif()
endforeach()
