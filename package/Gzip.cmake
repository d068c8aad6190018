# gzip -9n: no name or time stamp in the header, so the same input gives the same bytes.
# cmake -DIN=... -DOUT=... -P Gzip.cmake
execute_process(COMMAND gzip -9n -c "${IN}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip failed for ${IN}")
endif()
