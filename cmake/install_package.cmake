# What a host needs to build against the installed library: qrx7730.pc for
# pkg-config and a CMake package (find_package(qrx7730) gives qrx7730::qrx7730).
# Both locate the prefix relative to their own place, so that an install moved as
# a whole, or made with `cmake --install --prefix`, stays usable.
include(CMakePackageConfigHelpers)

set(QRX_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(QRX_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qrx7730)

# pkg-config: the prefix as a path from the .pc file's directory.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(QRX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH QRX_PC_UP ${CMAKE_INSTALL_PREFIX}/${QRX_PKGCONFIG_DIR} ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" QRX_PC_UP "${QRX_PC_UP}")
  set(QRX_PC_PREFIX "\${pcfiledir}/${QRX_PC_UP}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/qrx7730.pc.in ${PROJECT_BINARY_DIR}/qrx7730.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qrx7730.pc DESTINATION ${QRX_PKGCONFIG_DIR})

# CMake package.
install(EXPORT qrx7730Targets NAMESPACE qrx7730:: DESTINATION ${QRX_CMAKE_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/qrx7730Config.cmake.in
  ${PROJECT_BINARY_DIR}/qrx7730Config.cmake INSTALL_DESTINATION ${QRX_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qrx7730ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qrx7730Config.cmake
              ${PROJECT_BINARY_DIR}/qrx7730ConfigVersion.cmake
        DESTINATION ${QRX_CMAKE_PACKAGE_DIR})

# The manual page of the C interface, qrx7730(3).
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/include/qrx7730.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)
endif()
