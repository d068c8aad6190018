# Writes the desktop entry with the window's title for this build's numbers.
# cmake -DTITLE_TOOL=... -DRM_NUM=... -DFW_VER=... -DPACKAGE_NAME=... -DIN=... -DOUT=... -P
execute_process(COMMAND "${TITLE_TOOL}" "${RM_NUM}" "${FW_VER}"
  OUTPUT_VARIABLE PRODUCT_TITLE OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR PRODUCT_TITLE STREQUAL "")
  message(FATAL_ERROR "no product title for RM ${RM_NUM}")
endif()
configure_file("${IN}" "${OUT}" @ONLY)
