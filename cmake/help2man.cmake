# cmake -DPROGRAM=... -DNAME=... -DVERSION=... -DINCLUDE=... -DOUTPUT=....1.gz -P help2man.cmake
# A gzipped manual page from the program's --help, with German section names: the help text is German.
execute_process(
  COMMAND help2man --locale=C.UTF-8 --no-info --no-discard-stderr --version-string=${VERSION}
          --name=${NAME} --manual=Benutzerbefehle --include=${INCLUDE} ${PROGRAM}
  OUTPUT_VARIABLE page
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "help2man ${PROGRAM} failed: ${result}")
endif()
string(REGEX REPLACE "\n\\.SH NAME\n" "\n.SH BEZEICHNUNG\n" page "${page}")
string(REGEX REPLACE "\n\\.SH DESCRIPTION\n" "\n.SH BESCHREIBUNG\n" page "${page}")
# man-db runs preconv on pages that say their encoding.
string(PREPEND page ".\\\" -*- coding: UTF-8 -*-\n")
get_filename_component(stem ${OUTPUT} NAME_WLE)
set(plain ${OUTPUT}.tmp/${stem})
file(WRITE ${plain} "${page}")
execute_process(COMMAND gzip -9nc ${plain} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE result)
file(REMOVE_RECURSE ${OUTPUT}.tmp)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip ${plain} failed: ${result}")
endif()
