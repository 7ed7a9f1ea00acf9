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

# The event-log message table (Basalt/EventMessages.mc) for a program's
# resource script, which includes "generated/EventMessages.rc".
function(add_event_message_table target)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/generated)
  string(REPLACE "windres" "windmc" windmc ${CMAKE_RC_COMPILER})
  file(MAKE_DIRECTORY ${out}/mc)
  file(WRITE ${out}/EventMessages.rc "LANGUAGE 0x9, 0x1\n1 MESSAGETABLE \"generated/EventMessages.bin\"\n")
  add_custom_command(
    OUTPUT ${out}/EventMessages.bin
    COMMAND ${windmc} -U ${CMAKE_SOURCE_DIR}/Basalt/EventMessages.mc -h ${out}/mc -r ${out}/mc
    COMMAND ${CMAKE_COMMAND} -E copy ${out}/mc/MSG00409.bin ${out}/EventMessages.bin
    DEPENDS ${CMAKE_SOURCE_DIR}/Basalt/EventMessages.mc
    COMMENT "Generating the event message table")
  add_custom_target(${target} DEPENDS ${out}/EventMessages.bin)
endfunction()

# Fails the build when the code of a program (and of the libraries it
# links) uses a message name without a text in the program's own table;
# the names in MODULES are left to the language modules on purpose.
#   check_message_names(TARGET SOURCES dir... TABLES list... [MODULES list...])
function(check_message_names target)
  cmake_parse_arguments(ARG "" "" "SOURCES;TABLES;MODULES" ${ARGN})
  set(sources)
  foreach(dir ${ARG_SOURCES})
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/generated/${target}.messages-checked)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/check_messages.py ${stamp}
            --sources ${ARG_SOURCES} --tables ${ARG_TABLES} --modules ${ARG_MODULES}
    DEPENDS ${sources} ${ARG_TABLES} ${ARG_MODULES} ${CMAKE_SOURCE_DIR}/tools/check_messages.py
    COMMENT "Checking the message names of ${target}")
  add_custom_target(${target}MessageCheck DEPENDS ${stamp})
  add_dependencies(${target} ${target}MessageCheck)
endfunction()
