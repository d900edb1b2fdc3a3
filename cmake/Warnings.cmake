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
