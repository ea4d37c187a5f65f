# Run by cpack after the packages are written (CPACK_POST_BUILD_SCRIPTS): mends the debug
# symbols package that CPack's DEB generator writes beside the package.
# - Its md5sums name each file by the absolute path of CPack's staging folder, so dpkg could
#   verify nothing; they are written again with the paths inside the package.
# - The .debug files are data, not programs: mode 0644.
# - Its documentation is the main package's: /usr/share/doc/tolmera-dbgsym is a link to
#   /usr/share/doc/tolmera (the package depends on exactly that version of it).
# A Release build has no DWARF: its .debug files hold the symbol tables only (the names of a
# backtrace), and lintian says so (debug-file-with-no-debug-symbols; a debug package may carry
# no override). A RelWithDebInfo build gives the full debug information.
foreach(ddeb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT ddeb MATCHES "-dbgsym_[^/]*\\.ddeb$")
    continue()
  endif()
  set(tree "${ddeb}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb -R "${ddeb}" "${tree}" RESULT_VARIABLE status ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "repair_dbgsym: dpkg-deb -R ${ddeb}: ${error}")
  endif()
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${tree}" "${tree}/usr/*")
  list(SORT files)
  set(sums "")
  foreach(f IN LISTS files)
    file(MD5 "${tree}/${f}" sum)
    string(APPEND sums "${sum}  ${f}\n")
    file(CHMOD "${tree}/${f}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endforeach()
  string(REGEX REPLACE "^.*/([^/_]+)_[^/]*$" "\\1" name "${ddeb}")
  file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")
  file(CHMOD "${tree}/DEBIAN/md5sums" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  string(REGEX REPLACE "-dbgsym$" "" main "${name}")
  file(MAKE_DIRECTORY "${tree}/usr/share/doc")
  file(CREATE_LINK "${main}" "${tree}/usr/share/doc/${name}" SYMBOLIC)
  execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip -b "${tree}" "${ddeb}"
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE error)
  file(REMOVE_RECURSE "${tree}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "repair_dbgsym: dpkg-deb -b ${ddeb}: ${error}")
  endif()
endforeach()
