include(GNUInstallDirs)
install(TARGETS cwxmlclient
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
# The shared library exports the bitmap functions too: cc prog.c -lcwxmlclient
install(FILES clientlib/cwxmlclient.h clientlib/cw_bitmap.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
foreach(prog IN ITEMS clienttest cwcall cardwright-sim)
  if(TARGET ${prog})
    install(TARGETS ${prog} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endforeach()
if(TARGET cwcall_man)
  install(FILES ${PROJECT_BINARY_DIR}/cwcall/cwcall.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endif()
