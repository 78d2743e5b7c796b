# cmake -DINPUT=... -DOUTPUT=....gz -P gzip.cmake: gzip -9n, as Debian wants manual pages (no name, no time).
execute_process(COMMAND gzip -9nc ${INPUT} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "gzip ${INPUT} failed: ${result}")
endif()
