# Installing and packaging what is not installed beside its own target: the man pages, the test
# that installs the build and uses it, and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/docs/man/qvctl.1 ${PROJECT_SOURCE_DIR}/docs/man/devodtool.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT devodtool)

if(QV_BUILD_TESTS)
  # Installs this build into a temporary prefix, builds a host of the library against it with
  # pkg-config and with find_package(QVLib), and runs both against the simulator.
  add_test(NAME install_consumer
           COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/install_test.sh
                   ${CMAKE_BINARY_DIR} $<TARGET_FILE:z31sim> "${SANITIZE}" ${CMAKE_INSTALL_LIBDIR}
                   ${CMAKE_C_COMPILER} ${CMAKE_COMMAND})
  set_tests_properties(install_consumer PROPERTIES LABELS "install" TIMEOUT 300)
endif()

set(CPACK_PACKAGE_NAME devodtool)
set(CPACK_PACKAGE_VENDOR "DevodTool developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}.0)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "DevodTool and QVLib: update and drive Z31-family devices")
set(CPACK_PACKAGE_DESCRIPTION
    "QVLib (libqvlib.so) drives Z31-family devices on serial ports through a plain C interface; \
DevodTool, the desktop program, updates the device's database, settings and user points.")
set(CPACK_PACKAGE_CONTACT "DevodTool developers <devodtool@example.com>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "DevodTool developers <devodtool@example.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The program's own library is in the package: dpkg-shlibdeps looks for it there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/qvlib)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
