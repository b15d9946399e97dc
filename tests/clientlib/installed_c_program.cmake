# Installs the build into a scratch prefix and builds a plain C program
# against it the way a user would, with -lcwxmlclient alone, then runs it.
# -D BUILD_DIR, PREFIX, SOURCE, CC, FLAGS (a ;-list, may be empty)
file(REMOVE_RECURSE ${PREFIX})
foreach(component IN ITEMS runtime development)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                          --component ${component}
                  RESULT_VARIABLE rc OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "install of ${component} failed")
  endif()
endforeach()
file(GLOB_RECURSE library ${PREFIX}/*/libcwxmlclient.so)
if(NOT library)
  message(FATAL_ERROR "libcwxmlclient.so was not installed")
endif()
get_filename_component(libdir ${library} DIRECTORY)
file(GLOB stray ${libdir}/libplatform.a)
if(stray)
  message(FATAL_ERROR "libplatform.a is installed")
endif()
execute_process(COMMAND ${CC} -std=c11 -D_POSIX_C_SOURCE=200809L ${FLAGS} -I${PREFIX}/include
                        ${SOURCE} -o ${PREFIX}/c_program -L${libdir} -lcwxmlclient -pthread
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the C program does not build against the installed library")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${libdir} ${PREFIX}/c_program
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the C program failed")
endif()
