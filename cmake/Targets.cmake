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

# bv_library(target [QT] SOURCES...): one folder's static library. Its includes are rooted at
# src/ ("core/db/database.h"), so every include names its layer; only libraries that say QT run
# Qt's meta-object compiler.
function(bv_library target)
  cmake_parse_arguments(ARG "QT" "" "" ${ARGN})
  add_library(${target} STATIC ${ARG_UNPARSED_ARGUMENTS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  if(WIN32)
    target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
  endif()
  if(NOT ARG_QT)
    set_target_properties(${target} PROPERTIES AUTOMOC OFF)
  endif()
  bv_warnings(${target})
endfunction()
