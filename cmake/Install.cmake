# What `cmake --install` puts into a prefix and what `cpack -G DEB` packs:
#   bin/                      Setup, tlmachine, tlpack, tlmsiexec (which msiexec.exe of every
#                             machine starts, found beside the program that made the machine)
#                             and morlane
#   lib/<triplet>/tolmera/    libMorlane.so and the engine beside it (the viewer loads the
#                             engine from its own folder only); private, found through morlane's
#                             run path, so no ldconfig
#   share/applications/       the desktop entry of morlane with the model types it opens
#   share/mime/packages/      those types the system's database lacks: Morlane model files and
#                             STEP (shared-mime-info's trigger makes the database from it)
#   share/tolmera/            the sample product's package with its answer files, the sample
#                             models and the viewer's language file
#   share/man/man1/           a manual page per program
#   share/doc/tolmera/        copyright (machine-readable) and the changelog
#   share/lintian/overrides/  the package's reasoned lintian overrides
# The package is stripped; the debug symbols go into tolmera-dbgsym (a .ddeb beside it).
#
# Installing never builds: the targets are installed as the last build left them.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(TOLMERA_DEBIAN_DIR ${CMAKE_SOURCE_DIR}/cmake/debian)
set(TOLMERA_PROGRAMS Setup tlmachine tlpack tlmsiexec morlane)
set(TOLMERA_DATADIR share/tolmera)
set(TOLMERA_DOCDIR share/doc/tolmera)

# What is installed binds its symbols at load time and keeps its relocations read-only.
foreach(target ${TOLMERA_PROGRAMS} Morlane cad-ondravel)
  target_link_options(${target} PRIVATE LINKER:-z,relro,-z,now)
endforeach()
install(TARGETS ${TOLMERA_PROGRAMS} RUNTIME DESTINATION bin)
install(TARGETS Morlane cad-ondravel LIBRARY DESTINATION ${TOLMERA_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/host/morlane.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/host/morlane-mime.xml DESTINATION share/mime/packages
        RENAME morlane.xml)

# Samples: the package as the build packed it, its answer files, the models, the language file.
file(GLOB sample_answers ${CMAKE_SOURCE_DIR}/examples/sample-product/answers*.txt)
install(FILES ${CMAKE_BINARY_DIR}/examples/sample-product/Setup.data ${sample_answers}
        DESTINATION ${TOLMERA_DATADIR}/sample-product)
file(GLOB sample_models ${CMAKE_SOURCE_DIR}/examples/models/*.xml)
install(FILES ${sample_models} DESTINATION ${TOLMERA_DATADIR}/models)
install(FILES ${CMAKE_SOURCE_DIR}/examples/viewer-language/Morlane.lng
        DESTINATION ${TOLMERA_DATADIR}/viewer-language)

# The manual pages and the changelog, compressed as Debian wants them (gzip -9n: no name, no
# time stamp, so that the same source gives the same bytes).
find_program(TOLMERA_GZIP gzip REQUIRED)
set(docs_dir ${CMAKE_BINARY_DIR}/doc)
set(compressed "")
foreach(program ${TOLMERA_PROGRAMS})
  set(page ${CMAKE_SOURCE_DIR}/docs/man/${program}.1)
  add_custom_command(
    OUTPUT ${docs_dir}/man1/${program}.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${docs_dir}/man1
    COMMAND ${TOLMERA_GZIP} -9nc ${page} > ${docs_dir}/man1/${program}.1.gz
    DEPENDS ${page}
    VERBATIM)
  list(APPEND compressed ${docs_dir}/man1/${program}.1.gz)
  install(FILES ${docs_dir}/man1/${program}.1.gz DESTINATION share/man/man1)
endforeach()
add_custom_command(
  OUTPUT ${docs_dir}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${docs_dir}
  COMMAND ${TOLMERA_GZIP} -9nc ${TOLMERA_DEBIAN_DIR}/changelog > ${docs_dir}/changelog.gz
  DEPENDS ${TOLMERA_DEBIAN_DIR}/changelog
  VERBATIM)
add_custom_target(tolmera_docs ALL DEPENDS ${compressed} ${docs_dir}/changelog.gz)
# The version is native (no Debian revision): lintian looks for changelog.gz.
install(FILES ${docs_dir}/changelog.gz ${TOLMERA_DEBIAN_DIR}/copyright DESTINATION ${TOLMERA_DOCDIR})
install(FILES ${TOLMERA_DEBIAN_DIR}/lintian-overrides DESTINATION share/lintian/overrides
        RENAME tolmera)

set(CPACK_PACKAGE_NAME "tolmera")
set(CPACK_PACKAGE_VENDOR "TOLMERA")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "installer of the TOLMERA products and the Morlane CAD model viewer")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${TOLMERA_DEBIAN_DIR}/description)
set(CPACK_PACKAGE_CONTACT "TOLMERA <support@tolmera.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The private libraries of the package are found where the programs look for them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}/lib")
# msiexec.exe of the machine reads a client package's tables with msitools.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "msitools")
# morlane render starts an X server of its own when the session has none; morlane share puts
# the WebGL library of libjs-three into its pages; the window shows the toolkit's own texts
# (stock buttons, the progress dialog) in the language file's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xvfb, libjs-three, wx3.2-i18n")
# Stripped programs and libraries; their debug symbols in tolmera-dbgsym.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS ${TOLMERA_DEBIAN_DIR}/repair_dbgsym.cmake)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
include(CPack)

# The package tests: the package made once from this build (the fixture tolmera_deb), then
# looked into, unpacked into a throwaway root and its programs run from there, and checked with
# lintian. They skip (77) where the Debian tools are missing.
set(package_tests ${TOLMERA_DEBIAN_DIR}/tests)
add_test(NAME tolmera_deb_make
  COMMAND ${package_tests}/make_package.sh ${CMAKE_CPACK_COMMAND} ${CMAKE_BINARY_DIR} ${TOLMERA_PACKAGE_TEST_DIR})
set_tests_properties(tolmera_deb_make PROPERTIES FIXTURES_SETUP tolmera_deb)
add_test(NAME tolmera_deb_installed
  COMMAND ${package_tests}/installed_test.sh ${TOLMERA_PACKAGE_TEST_DIR} ${CMAKE_BINARY_DIR})
add_test(NAME tolmera_deb_lintian COMMAND ${package_tests}/lintian_test.sh ${TOLMERA_PACKAGE_TEST_DIR})
set_tests_properties(tolmera_deb_installed tolmera_deb_lintian PROPERTIES FIXTURES_REQUIRED tolmera_deb)
set_tests_properties(tolmera_deb_make tolmera_deb_installed tolmera_deb_lintian PROPERTIES
  LABELS package SKIP_RETURN_CODE 77 TIMEOUT 300)
