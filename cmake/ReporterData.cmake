# The reporter's data ("ELDATA") in an executable or DLL: a two-pass link.
#
#   kv_add_reporter_data(target [OPTIONS file])
#
# Call it after the target is complete (sources, libraries, link options).
# The target's own sources move into an OBJECT library; a first link of those
# objects (target_pass1, in <build>/pass1) is read by tools/eldata/make-eldata.sh
# (line rows, code symbols, the options file), which writes the resource
# object; the target itself is the second link of the same objects in the same
# order with that object last. The build fails when .text, .data or .rdata of
# the two links differ.

set(KV_REPORTER_OPTIONS ${CMAKE_SOURCE_DIR}/resources/ReporterOptions.txt CACHE INTERNAL "")

function(kv_add_reporter_data target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "OPTIONS" "")
  if(NOT arg_OPTIONS)
    set(arg_OPTIONS ${KV_REPORTER_OPTIONS})
  endif()
  get_target_property(type ${target} TYPE)
  get_target_property(sources ${target} SOURCES)
  get_target_property(libraries ${target} LINK_LIBRARIES)
  get_target_property(link_options ${target} LINK_OPTIONS)
  get_target_property(win32 ${target} WIN32_EXECUTABLE)
  get_target_property(source_dir ${target} SOURCE_DIR)

  set(objects ${target}_objects)
  set(absolute "")
  foreach(source ${sources})
    get_filename_component(path ${source} ABSOLUTE BASE_DIR ${source_dir})
    list(APPEND absolute ${path})
  endforeach()
  add_library(${objects} OBJECT ${absolute})
  if(libraries)
    # Usage requirements (include folders, definitions) of what the target links.
    target_link_libraries(${objects} PRIVATE ${libraries})
  endif()
  set_property(TARGET ${target} PROPERTY SOURCES $<TARGET_OBJECTS:${objects}>)

  set(pass1 ${target}_pass1)
  if(type STREQUAL "SHARED_LIBRARY")
    add_library(${pass1} SHARED $<TARGET_OBJECTS:${objects}>)
    set_target_properties(${pass1} PROPERTIES PREFIX "" OUTPUT_NAME ${target}
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/pass1 LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/pass1
      ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/pass1)
  else()
    add_executable(${pass1} $<TARGET_OBJECTS:${objects}>)
    set_target_properties(${pass1} PROPERTIES OUTPUT_NAME ${target}
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/pass1)
    if(win32)
      set_target_properties(${pass1} PROPERTIES WIN32_EXECUTABLE ON)
    endif()
  endif()
  if(libraries)
    target_link_libraries(${pass1} PRIVATE ${libraries})
  endif()
  if(link_options)
    target_link_options(${pass1} PRIVATE ${link_options})
  endif()
  if(type STREQUAL "SHARED_LIBRARY")
    # ld derives a DLL's automatic base from its output path: both links
    # must load at the same base.
    target_link_options(${pass1} PRIVATE -Wl,--disable-auto-image-base)
    target_link_options(${target} PRIVATE -Wl,--disable-auto-image-base)
  endif()

  set(resource ${CMAKE_BINARY_DIR}/eldata/${target}.eldata.o)
  add_custom_command(OUTPUT ${resource}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/eldata
    COMMAND ${CMAKE_COMMAND} -E env KV_BUILD=${CMAKE_BINARY_DIR}
            bash ${CMAKE_SOURCE_DIR}/tools/eldata/make-eldata.sh
            $<TARGET_FILE:${pass1}> ${arg_OPTIONS} $<TARGET_FILE:ELDataWriter> ${resource}
    DEPENDS ${pass1} ELDataWriter ${arg_OPTIONS} ${CMAKE_SOURCE_DIR}/tools/eldata/make-eldata.sh
    VERBATIM)
  add_custom_target(${target}_eldata DEPENDS ${resource})
  add_dependencies(${target} ${target}_eldata)
  # After every object and library: only .rsrc grows.
  target_link_libraries(${target} PRIVATE ${resource})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${resource})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/eldata/check-sections.sh $<TARGET_FILE:${pass1}> $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
