# Writes OUT with the source tree's revision (the commit, "-dirty" when the tree has changes,
# "unknown" outside a git checkout). The file changes only when the revision does, so
# nothing is compiled again for an unchanged tree.
execute_process(COMMAND git -C "${SRC}" rev-parse --short=12 HEAD
  OUTPUT_VARIABLE rev OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR rev STREQUAL "")
  set(rev unknown)
else()
  execute_process(COMMAND git -C "${SRC}" diff --quiet HEAD -- RESULT_VARIABLE dirty ERROR_QUIET)
  if(NOT dirty EQUAL 0)
    set(rev "${rev}-dirty")
  endif()
endif()
file(WRITE "${OUT}.new" "#define POWERHOST_REVISION \"${rev}\"\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUT}.new" "${OUT}")
file(REMOVE "${OUT}.new")
