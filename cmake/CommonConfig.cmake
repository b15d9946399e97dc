# Build settings every target of the project links against.
add_library(cw_settings INTERFACE)
add_library(cw::settings ALIAS cw_settings)
target_compile_features(cw_settings INTERFACE cxx_std_20 c_std_11)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_C_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

target_compile_options(cw_settings INTERFACE -Wall -Wextra -Wpedantic -Wshadow $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
                                             $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast>)
if(CW_WERROR)
  target_compile_options(cw_settings INTERFACE -Werror)
endif()
target_compile_definitions(cw_settings INTERFACE QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT)

if(CW_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz build: every library instrumented for coverage and checked by
# ASan/UBSan; only the fuzz programs link libFuzzer's driver (tests/fuzz).
if(CW_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "CW_BUILD_FUZZ needs clang (libFuzzer); use the fuzz preset")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
