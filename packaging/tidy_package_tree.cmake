# Run by CPack after it has installed the project into its staging folder and
# before it builds the package, to give the files the form Debian policy
# asks of a package:
# - programs stripped of symbols, and of the .comment and .note sections
#   that strip alone leaves (as dh_strip does);
# - man pages gzip -9n compressed (no file name or time in the stream, so
#   the bytes are the same from build to build).
file(GLOB programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*")
foreach(program IN LISTS programs)
  execute_process(COMMAND "${CPACK_MORVEL_STRIP}" --remove-section=.comment --remove-section=.note
                          "${program}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot strip ${program}")
  endif()
endforeach()

file(GLOB_RECURSE pages LIST_DIRECTORIES false
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man[1-9]/*.[1-9]")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot compress ${page}")
  endif()
endforeach()
