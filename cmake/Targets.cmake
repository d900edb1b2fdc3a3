# bv_warnings(target): the project's warning set, the same for every target.
function(bv_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${BRACKENVALE_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
      -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual
      $<$<BOOL:${BRACKENVALE_WERROR}>:-Werror>)
  endif()
endfunction()

# The table of layers (cmake/layers.txt, or BV_LAYERS_FILE): for each library its folder and the
# libraries it uses.
if(NOT DEFINED BV_LAYERS_FILE)
  set(BV_LAYERS_FILE ${CMAKE_CURRENT_LIST_DIR}/layers.txt)
endif()
file(STRINGS ${BV_LAYERS_FILE} bv_layer_lines REGEX "^[a-z]")
foreach(line IN LISTS bv_layer_lines)
  string(REGEX REPLACE "[ \t]+" ";" words "${line}")
  list(POP_FRONT words library folder)
  set(BV_LAYER_FOLDER_${library} ${folder})
  set(BV_LAYER_USES_${library} ${words})
endforeach()

# bv_layer(target): gives a library of the table what the table says. It sees the headers of its
# own folder and of the libraries it links, and nothing else of the tree: each library's folder
# appears, under its rooted path ("core/db", "standin/sql"), in an include root of its own in the
# build tree, and a library links the ones it uses, which passes their roots on.
function(bv_layer target)
  if(NOT DEFINED BV_LAYER_FOLDER_${target})
    message(FATAL_ERROR "${target} is not in cmake/layers.txt")
  endif()
  set(folder ${BV_LAYER_FOLDER_${target}})
  # The product's includes are rooted at src/, the stand-in's at the top of the tree.
  string(REGEX REPLACE "^src/" "" rooted ${folder})
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  get_filename_component(parent ${root}/${rooted} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${root}/${rooted})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${rooted} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
  foreach(used IN LISTS BV_LAYER_USES_${target})
    target_link_libraries(${target} PUBLIC ${used})
  endforeach()
endfunction()

# bv_library(target [QT] SOURCES...): one folder's static library, its includes and links from
# the table of layers; only libraries that say QT run Qt's meta-object compiler.
function(bv_library target)
  cmake_parse_arguments(ARG "QT" "" "" ${ARGN})
  add_library(${target} STATIC ${ARG_UNPARSED_ARGUMENTS})
  bv_layer(${target})
  if(WIN32)
    target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
  endif()
  if(NOT ARG_QT)
    set_target_properties(${target} PROPERTIES AUTOMOC OFF)
  endif()
  bv_warnings(${target})
endfunction()
