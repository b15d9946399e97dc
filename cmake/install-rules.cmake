include(GNUInstallDirs)
install(TARGETS cwxmlclient
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
# The shared library exports the bitmap functions too: cc prog.c -lcwxmlclient
install(FILES clientlib/cwxmlclient.h clientlib/cw_bitmap.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

# Components, one Debian package each (cmake/packaging.cmake):
#   runtime      libcwxmlclient.so.1
#   development  headers, the .so link, pkg-config and CMake package files
#   testclient   cardwright-testclient, its menu entry, icons and manual
#   simulator    cardwright-sim, its sample design and manual
set(CW_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR}/../packaging)

# gzip without a time stamp, so that the packages come out the same each time.
# Only Ninja makes an output's folder itself; Unix Makefiles do not, so every
# command here makes its own. The result appears whole or not at all: a failed
# run leaves no truncated file that a later build would take as up to date.
function(cw_gzip input output)
  get_filename_component(dir ${output} DIRECTORY)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                     COMMAND gzip -9n -c ${input} > ${output}.part
                     COMMAND ${CMAKE_COMMAND} -E rename ${output}.part ${output}
                     DEPENDS ${input} COMMENT "Compressing ${input}")
endfunction()

# Manual pages go in compressed, as Debian has them.
#   cw_install_manual(PAGE COMPONENT [TARGET that generates PAGE])
function(cw_install_manual page component)
  get_filename_component(name ${page} NAME)
  set(out ${CMAKE_BINARY_DIR}/packaging/man/${name}.gz)
  cw_gzip(${page} ${out})
  add_custom_target(cw_manual_${name} ALL DEPENDS ${out})
  if(ARGC GREATER 2)
    add_dependencies(cw_manual_${name} ${ARGV2})
  endif()
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

# Installed programs find the library through a RUNPATH relative to
# themselves, so an installation works from any prefix and can be moved.
file(RELATIVE_PATH CW_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
foreach(prog IN ITEMS clienttest cwcall)
  if(TARGET ${prog})
    set_target_properties(${prog} PROPERTIES INSTALL_RPATH "$ORIGIN/${CW_BIN_TO_LIB}")
  endif()
endforeach()

# --- the library's development files ---------------------------------------
get_target_property(CW_LIBRARY_SOVERSION cwxmlclient SOVERSION)
get_target_property(CW_LIBRARY_VERSION cwxmlclient VERSION)
set(CW_LIBRARY_SONAME libcwxmlclient.so.${CW_LIBRARY_SOVERSION})
set(CW_LIBRARY_FILE libcwxmlclient.so.${CW_LIBRARY_VERSION})

# pkg-config: libdir and includedir relative to ${prefix} where they can be.
foreach(kind IN ITEMS LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(CW_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(CW_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
# The prefix is written at install time: the one given to cmake --install
# (or CPack's /usr), not the one the build was configured with.
set(CW_PC_PREFIX "@CW_PREFIX@")
configure_file(${CW_PACKAGING_DIR}/cwxmlclient.pc.in ${CMAKE_BINARY_DIR}/packaging/cwxmlclient.pc.in
               @ONLY)
install(CODE "
  set(CW_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(pc \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/cwxmlclient.pc\")
  message(STATUS \"Installing: \${pc}\")
  configure_file(\"${CMAKE_BINARY_DIR}/packaging/cwxmlclient.pc.in\" \"\${pc}\" @ONLY)
" COMPONENT development)

include(CMakePackageConfigHelpers)
set(CW_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/cwxmlclient)
configure_package_config_file(${CW_PACKAGING_DIR}/cwxmlclientConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/packaging/cwxmlclientConfig.cmake
                              INSTALL_DESTINATION ${CW_CMAKE_DIR}
                              PATH_VARS CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/cwxmlclientConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/packaging/cwxmlclientConfig.cmake
              ${CMAKE_BINARY_DIR}/packaging/cwxmlclientConfigVersion.cmake
        DESTINATION ${CW_CMAKE_DIR} COMPONENT development)

# --- the test client --------------------------------------------------------
if(TARGET clienttest)
  # Installed under the product's name; the target keeps its short one.
  set_target_properties(clienttest PROPERTIES OUTPUT_NAME cardwright-testclient)
  install(TARGETS clienttest RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT testclient)
  install(FILES ${CW_PACKAGING_DIR}/cardwright-testclient.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT testclient)
  cw_install_manual(${CW_PACKAGING_DIR}/man/cardwright-testclient.1 testclient)

  # The menu's icon is the window's own, rendered at build time.
  add_executable(cw_render_icons ${CW_PACKAGING_DIR}/render_icons.cpp)
  target_link_libraries(cw_render_icons PRIVATE clienttest_gui cw_settings)
  set(CW_ICON_SIZES 48 128 256)
  set(CW_ICON_DIR ${CMAKE_BINARY_DIR}/packaging/icons)
  list(TRANSFORM CW_ICON_SIZES APPEND .png OUTPUT_VARIABLE CW_ICON_FILES)
  list(TRANSFORM CW_ICON_FILES PREPEND ${CW_ICON_DIR}/)
  add_custom_command(OUTPUT ${CW_ICON_FILES}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CW_ICON_DIR}
                     COMMAND cw_render_icons ${CW_ICON_DIR} ${CW_ICON_SIZES}
                     DEPENDS cw_render_icons
                     COMMENT "Rendering the test client's icon")
  add_custom_target(cw_icons ALL DEPENDS ${CW_ICON_FILES})
  foreach(side IN LISTS CW_ICON_SIZES)
    install(FILES ${CW_ICON_DIR}/${side}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${side}x${side}/apps
            RENAME cardwright-testclient.png COMPONENT testclient)
  endforeach()
endif()

# cwcall travels with the test client: the same workbench as a command.
if(TARGET cwcall)
  install(TARGETS cwcall RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT testclient)
  if(TARGET cwcall_man)
    cw_install_manual(${PROJECT_BINARY_DIR}/cwcall/cwcall.1 testclient cwcall_man)
  endif()
endif()

# --- cardwright-sim ---------------------------------------------------------
if(TARGET cardwright-sim)
  install(TARGETS cardwright-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT simulator)
  install(FILES samples/visitors.idc samples/visitors.csv
          DESTINATION ${CMAKE_INSTALL_DATADIR}/cardwright-sim/samples COMPONENT simulator)
  # Scenarios against the sample design, for cwcall test (beside the samples
  # folder, which holds only what a copy of the design needs).
  install(DIRECTORY samples/scenarios/ DESTINATION ${CMAKE_INSTALL_DATADIR}/cardwright-sim/scenarios
          COMPONENT simulator FILES_MATCHING PATTERN "*.cwt")
  cw_install_manual(${CW_PACKAGING_DIR}/man/cardwright-sim.1 simulator)
endif()

include(packaging)
