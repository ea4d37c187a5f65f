# What `cmake --install` puts into a prefix and what `cpack -G DEB` packs: the installer
# Setup, the machine tool tlmachine, the viewer host morlane, the viewer library libMorlane.so
# and the engine library beside it (the viewer loads the engine from its own folder only), and
# a desktop entry for morlane.
#
# Installing never builds: the targets are installed as the last build left them.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS Setup tlmachine morlane RUNTIME DESTINATION bin)
install(TARGETS Morlane cad-ondravel LIBRARY DESTINATION ${TOLMERA_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/host/morlane.desktop DESTINATION share/applications)

set(CPACK_PACKAGE_NAME "tolmera")
set(CPACK_PACKAGE_VENDOR "TOLMERA")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TOLMERA installer and the Morlane model viewer with its CAD engine")
set(CPACK_PACKAGE_CONTACT "TOLMERA <support@tolmera.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The private libraries of the package are found where the programs look for them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}/lib")
# morlane render starts an X server of its own when the session has none.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xvfb")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
include(CPack)
