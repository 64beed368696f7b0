# zlib from the distribution's MinGW package; minizip compiled from the
# distribution's zlib source package (unpacked by tools/setup.sh).
find_library(KV_ZLIB_LIBRARY NAMES libz.a z REQUIRED)
find_path(KV_ZLIB_INCLUDE zlib.h REQUIRED)
add_library(zlib::zlib STATIC IMPORTED GLOBAL)
set_target_properties(zlib::zlib PROPERTIES
  IMPORTED_LOCATION ${KV_ZLIB_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${KV_ZLIB_INCLUDE})

set(KV_MINIZIP_DIR ${KV_ZLIB_SOURCE}/contrib/minizip)
if(NOT EXISTS ${KV_MINIZIP_DIR}/zip.c)
  message(FATAL_ERROR "minizip sources not found in ${KV_MINIZIP_DIR}; run tools/setup.sh first")
endif()
add_library(minizip STATIC
  ${KV_MINIZIP_DIR}/zip.c ${KV_MINIZIP_DIR}/unzip.c
  ${KV_MINIZIP_DIR}/ioapi.c ${KV_MINIZIP_DIR}/iowin32.c)
target_include_directories(minizip PUBLIC ${KV_MINIZIP_DIR})
target_compile_options(minizip PRIVATE -w)
target_link_libraries(minizip PUBLIC zlib::zlib)

# GoogleTest, cross-built from the distribution's sources.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
