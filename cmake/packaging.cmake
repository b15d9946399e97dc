# Debian packages, one per install component:
#   cpack --config build/package/CPackConfig.cmake -B build/packages
# (scripts/package does this). Dependencies on other packages come from
# dpkg-shlibdeps; those between our own packages are declared here.
set(CW_MAINTAINER "Cardwright XML-RPC team <xmlrpc@cardwright.example>")
set(CW_CHANGELOG_DATE "Mon, 07 Dec 2026 09:00:00 +0000")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cardwright-xmlrpc)
set(CPACK_PACKAGE_VENDOR Cardwright)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${CW_MAINTAINER}")
# CPack puts any other project-wide summary in front of each package's own
# description; only its default value is left out.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Install scripts see the packages' own prefix, not CPack's staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 0)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CW_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# dpkg-shlibdeps finds our own library here while the packages are made.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})

# Package names, sections and descriptions (a summary line, then the long
# text in lines short enough for lintian).
set(CW_PACKAGE_runtime libcwxmlclient${CW_LIBRARY_SOVERSION})
set(CW_SECTION_runtime libs)
set(CW_DESCRIPTION_runtime "Cardwright XML-RPC client library
The library carries the remote-control calls of the Cardwright
badge-design application over XML-RPC/HTTP: 68 plain C functions that
open designs, read and change roster records, queue commands and fetch
badge pictures.")
set(CW_PACKAGE_development libcwxmlclient-dev)
set(CW_SECTION_development libdevel)
set(CW_DESCRIPTION_development "Cardwright XML-RPC client library (development files)
The header cwxmlclient.h, the link to the shared library, a pkg-config
file (cwxmlclient) and a CMake package (find_package(cwxmlclient),
target cwxmlclient::cwxmlclient) for programs that call the Cardwright
XML-RPC client library.")
set(CW_PACKAGE_testclient cardwright-testclient)
set(CW_SECTION_testclient devel)
set(CW_DESCRIPTION_testclient "workbench window for Cardwright's XML-RPC interface
The Cardwright XML RPC Test Client connects to Cardwright, lists its
remote methods and calls any of them with Name=Value arguments, showing
the lists, numbers, texts, pictures or errors that come back, the
methods' help and the raw XML exchanged.")
set(CW_PACKAGE_simulator cardwright-sim)
set(CW_SECTION_simulator devel)
set(CW_DESCRIPTION_simulator "stand-in Cardwright serving its XML-RPC interface
cardwright-sim serves the remote-control interface of Cardwright (or of
RosterLink) from a card design file and its SQLite roster, so that the
client library and the test client can be used and tested without the
application. A sample design is in /usr/share/cardwright-sim/samples.")

set(CPACK_COMPONENTS_ALL runtime development testclient simulator)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  set(package ${CW_PACKAGE_${component}})
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${CW_SECTION_${component}})
  set(CPACK_DEBIAN_${upper}_DESCRIPTION "${CW_DESCRIPTION_${component}}")

  # Every package carries its copyright and changelog.
  set(doc ${CMAKE_BINARY_DIR}/packaging/doc/${package})
  set(CW_PACKAGE ${package})
  configure_file(${CW_PACKAGING_DIR}/changelog.in ${doc}/changelog @ONLY)
  cw_gzip(${doc}/changelog ${doc}/changelog.gz)
  add_custom_target(cw_changelog_${component} ALL DEPENDS ${doc}/changelog.gz)
  install(FILES ${CW_PACKAGING_DIR}/copyright ${doc}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

# The library and cwcall open libpng at the first picture rather than link it,
# so dpkg-shlibdeps does not see it; 1.6.22 brought png_image_write_to_memory.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libpng16-16 (>= 1.6.22)")
set(CPACK_DEBIAN_TESTCLIENT_PACKAGE_DEPENDS "libpng16-16 (>= 1.6.22)")
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_COMPONENT_TESTCLIENT_DEPENDS runtime)
# The shlibs file tells other packages' dpkg-shlibdeps about the library;
# the trigger runs ldconfig once after all packages are unpacked. The
# postinst and postrm that CPack adds to call ldconfig themselves are taken
# out again once the packages are made.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
file(WRITE ${CMAKE_BINARY_DIR}/packaging/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/triggers)
set(CPACK_POST_BUILD_SCRIPTS ${CW_PACKAGING_DIR}/drop_ldconfig_scripts.cmake)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS cardwright-sim)
set(CPACK_DEBIAN_TESTCLIENT_PACKAGE_RECOMMENDS "cardwright-sim, fonts-dejavu-core")
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_RECOMMENDS fonts-dejavu-core)

include(CPack)
