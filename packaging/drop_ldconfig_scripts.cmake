# Run by CPack after it has made the packages (CPACK_POST_BUILD_SCRIPTS).
# CPack gives every package holding a shared library under /usr/lib a postinst
# and postrm that call ldconfig, and has no switch to leave them out. Debian
# runs ldconfig through the dpkg trigger our runtime package declares
# (cmake/packaging.cmake), so those scripts go: each package that has them is
# rebuilt without them, its other control files, contents and file times kept.
find_program(CW_DPKG_DEB dpkg-deb REQUIRED)

foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(work ${deb}.unpacked)
  file(REMOVE_RECURSE ${work})
  execute_process(COMMAND ${CW_DPKG_DEB} --raw-extract ${deb} ${work} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot unpack ${deb}")
  endif()
  set(dropped "")
  foreach(script IN ITEMS postinst postrm)
    set(path ${work}/DEBIAN/${script})
    if(NOT EXISTS ${path})
      continue()
    endif()
    # Only CPack's own: a script that does anything besides ldconfig is an
    # error to look into, not something to drop.
    file(READ ${path} content)
    string(REGEX REPLACE "^#![^\n]*" "" rest "${content}")
    string(REGEX REPLACE "set -e|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then|ldconfig|fi" "" rest "${rest}")
    if(NOT rest MATCHES "^[ \t\n]*$")
      message(FATAL_ERROR "${deb}: ${script} does more than call ldconfig:\n${content}")
    endif()
    file(REMOVE ${path})
    list(APPEND dropped ${script})
  endforeach()
  if(dropped)
    execute_process(COMMAND ${CW_DPKG_DEB} --root-owner-group -Zgzip --build ${work} ${deb}
                    OUTPUT_QUIET RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "cannot rebuild ${deb}")
    endif()
    get_filename_component(name ${deb} NAME)
    list(JOIN dropped " or " dropped)
    message(STATUS "${name}: no ${dropped} (ldconfig runs from the package's trigger)")
  endif()
  file(REMOVE_RECURSE ${work})
endforeach()
