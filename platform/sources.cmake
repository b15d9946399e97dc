# The framework routines on Qt, in two parts: platform_text (the text routines
# and the message-bearing exception, Qt Core only, for the widget-free core and
# the command-line tools) and platform_vcl (the UI seam: message boxes, the
# file-open dialog, the blocking sleep and the application object that shows
# exceptions escaping event handlers).
find_package(Qt6 REQUIRED COMPONENTS Core Widgets)

add_library(platform_text STATIC ${CMAKE_CURRENT_LIST_DIR}/vcl_text.cpp)
target_include_directories(platform_text PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(platform_text PUBLIC Qt6::Core PRIVATE cw_settings)

add_library(platform_vcl STATIC ${CMAKE_CURRENT_LIST_DIR}/vcl.cpp)
target_include_directories(platform_vcl PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(platform_vcl PUBLIC platform_text Qt6::Widgets PRIVATE cw_settings)
