# platform_vcl: the framework routines the test client relies on, on Qt
# (text routines, the message-bearing exception, modal boxes, the file-open
# dialog, the blocking sleep and the application object that shows exceptions
# escaping event handlers).
find_package(Qt6 REQUIRED COMPONENTS Widgets)

add_library(platform_vcl STATIC
  ${CMAKE_CURRENT_LIST_DIR}/vcl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vcl_text.cpp)
target_include_directories(platform_vcl PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(platform_vcl PUBLIC Qt6::Widgets PRIVATE cw_settings)
