# Warnings are errors on both compilers.
add_library(dlt645_warnings INTERFACE)
target_compile_options(dlt645_warnings INTERFACE
  -Wall -Wextra -Wnon-virtual-dtor -Wcast-align -Wformat=2 -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # g++ 12 reports std::string copies as overlapping at -O3 (a known false positive).
  target_compile_options(dlt645_warnings INTERFACE -Wno-restrict)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # clang is only used for the fuzz targets; the tables use designated layouts it flags.
  target_compile_options(dlt645_warnings INTERFACE -Wno-unknown-warning-option)
endif()
