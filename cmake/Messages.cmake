# A program's message catalogue comes from one list file (NAME, tab, text).
# The generator checks that the names are sorted by UTF-16 code units and
# unique, and writes the string table (.rc), the name table (.inc) and the
# message-name declarations (.h) from it, so names, ids and texts cannot drift.
# Several list files may make one table (each sorted; merged by the tool).
function(add_message_table target stem)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/generated)
  set(lists)
  foreach(list_file ${ARGN})
    get_filename_component(list_abs ${list_file} ABSOLUTE)
    list(APPEND lists ${list_abs})
  endforeach()
  add_custom_command(
    OUTPUT ${out}/${stem}.rc ${out}/${stem}.inc ${out}/${stem}.h
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/msgtable.py ${out} ${stem} ${lists}
    DEPENDS ${lists} ${CMAKE_SOURCE_DIR}/tools/msgtable.py
    COMMENT "Generating message table ${stem}")
  add_custom_target(${target} DEPENDS ${out}/${stem}.rc ${out}/${stem}.inc ${out}/${stem}.h)
endfunction()
