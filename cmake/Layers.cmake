# The program's layers, one library per source folder.
#
#   kv_add_layer(FOLDER folder [RECURSE] [DEPENDS layer-folders...] [SYSTEM libs...])
#
# makes the library kv_<folder with / as _> from the folder's sources
# (RECURSE: its subfolders too) and links the layers it DEPENDS on PUBLIC
# (their headers appear in ours). A folder without sources yet gets an
# INTERFACE library of the same name, so executables can link it today and get
# its code as soon as the first source lands (the globs re-run on every build).
#
# The declared dependencies are what tools/check-layers.py reads: a source may
# include headers only of its own folder and of the folders its library
# declares. kv_write_layer_map writes them, read back from the targets, so the
# build and the check cannot drift.

set_property(GLOBAL PROPERTY KV_LAYERS "")

function(kv_layer_target folder out)
  string(REPLACE "/" "_" name "kv_${folder}")
  set(${out} ${name} PARENT_SCOPE)
endfunction()

function(kv_add_layer)
  cmake_parse_arguments(PARSE_ARGV 0 arg "RECURSE" "FOLDER" "DEPENDS;SYSTEM")
  kv_layer_target(${arg_FOLDER} target)
  set(dir ${CMAKE_SOURCE_DIR}/${arg_FOLDER})
  if(arg_RECURSE)
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.S)
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.S)
  endif()
  # The program's entry point is the program's, not a library's.
  list(FILTER sources EXCLUDE REGEX "/cleaner/windows/Kestrelvane\\.cpp$")

  set(deps "")
  foreach(folder ${arg_DEPENDS})
    kv_layer_target(${folder} dep)
    list(APPEND deps ${dep})
  endforeach()

  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${deps} ${arg_SYSTEM})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${deps} ${arg_SYSTEM})
  endif()
  set_target_properties(${target} PROPERTIES KV_LAYER_FOLDER ${arg_FOLDER}
                                             KV_LAYER_RECURSE "${arg_RECURSE}")
  set_property(GLOBAL APPEND PROPERTY KV_LAYERS ${target})
endfunction()

# Writes one line per layer: "folder recurse|flat: dependency-folder ...",
# from the link libraries the targets carry at the end of configuration (so a
# target_link_libraries added anywhere else counts too).
function(kv_write_layer_map file)
  get_property(layers GLOBAL PROPERTY KV_LAYERS)
  set(layer_folders "")
  foreach(target ${layers})
    get_target_property(folder ${target} KV_LAYER_FOLDER)
    list(APPEND layer_folders ${folder})
  endforeach()
  set(content "# Written by cmake/Layers.cmake at configure time; read by tools/check-layers.py.\n")
  foreach(target ${layers})
    get_target_property(folder ${target} KV_LAYER_FOLDER)
    get_target_property(recurse ${target} KV_LAYER_RECURSE)
    get_target_property(type ${target} TYPE)
    set(links "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(private ${target} LINK_LIBRARIES)
      if(private)
        list(APPEND links ${private})
      endif()
    endif()
    get_target_property(public ${target} INTERFACE_LINK_LIBRARIES)
    if(public)
      list(APPEND links ${public})
    endif()
    set(dep_folders "")
    foreach(link ${links})
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      if(TARGET ${link})
        get_target_property(dep_folder ${link} KV_LAYER_FOLDER)
        if(dep_folder)
          list(APPEND dep_folders ${dep_folder})
        endif()
      endif()
    endforeach()
    list(REMOVE_DUPLICATES dep_folders)
    if(recurse)
      set(kind recurse)
    else()
      set(kind flat)
    endif()
    list(JOIN dep_folders " " dep_text)
    string(APPEND content "${folder} ${kind}: ${dep_text}\n")
  endforeach()
  file(WRITE ${file} "${content}")
endfunction()

# Code that must be linked although nothing names it (static initialisers,
# operator new/delete replacements, exported procedures) cannot live in an
# archive: the linker takes only the archive members something references.
#
#   kv_add_linked_objects(NAME name INTO target SOURCES sources... [LINK libs...])
#
# makes an OBJECT library and puts its object files into every executable that
# links INTO (an INTERFACE target such as kv_reporter_link, or an executable).
function(kv_add_linked_objects)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;INTO" "SOURCES;LINK")
  add_library(${arg_NAME} OBJECT ${arg_SOURCES})
  target_include_directories(${arg_NAME} PUBLIC ${CMAKE_SOURCE_DIR})
  if(arg_LINK)
    target_link_libraries(${arg_NAME} PUBLIC ${arg_LINK})
  endif()
  get_target_property(type ${arg_INTO} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    # Object files do not travel through a link to an INTERFACE target; as
    # interface sources they are linked by each consumer.
    target_sources(${arg_INTO} INTERFACE $<TARGET_OBJECTS:${arg_NAME}>)
    target_link_libraries(${arg_INTO} INTERFACE ${arg_LINK})
  else()
    target_sources(${arg_INTO} PRIVATE $<TARGET_OBJECTS:${arg_NAME}>)
    target_link_libraries(${arg_INTO} PRIVATE ${arg_LINK})
  endif()
endfunction()
