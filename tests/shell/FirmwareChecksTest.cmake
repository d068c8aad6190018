# The configure-time checks of what a build carries (firmware/FirmwareChecks.cmake), run
# as a script: cmake -DCHECKS=<module> -DWORK=<scratch dir> -P FirmwareChecksTest.cmake,
# and the build-time converter (-DCONVERTER=<program>) that turns the image into resources.
# Each case runs in a cmake of its own, since a failing check ends the script it runs in.
include(${CHECKS})

if(DEFINED CASE)
  if(CASE STREQUAL "image")
    bootload_check_firmware_image("${ARG}")
  elseif(CASE STREQUAL "number")
    bootload_resource_number(RM_NUM "${ARG}" value)
    message("value=${value}")
  elseif(CASE STREQUAL "convert")
    file(REMOVE_RECURSE ${WORK}/out)
    file(MAKE_DIRECTORY ${WORK}/out)
    execute_process(COMMAND ${CONVERTER} ${ARG} 5525 ${WORK}/out RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "the converter refused ${ARG}")
    endif()
    file(SIZE ${WORK}/out/HFILE size)
    file(READ ${WORK}/out/HLAYOUT layout)
    message("HFILE ${size} bytes, HLAYOUT ${layout}")
  endif()
  return()
endif()

set(failures 0)
# Runs one case; Outcome is "ok" or "fails", Expected a text its output must hold.
function(expect outcome case arg expected)
  execute_process(COMMAND ${CMAKE_COMMAND} -DCHECKS=${CHECKS} -DCONVERTER=${CONVERTER}
                          -DWORK=${WORK} -DCASE=${case} -DARG=${arg}
                          -P ${CMAKE_CURRENT_LIST_FILE}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REPLACE "\n" " " out "${out}")
  string(REGEX REPLACE " +" " " out "${out}")
  set(bad FALSE)
  if(outcome STREQUAL "ok" AND NOT result EQUAL 0)
    set(bad TRUE)
  elseif(outcome STREQUAL "fails" AND result EQUAL 0)
    set(bad TRUE)
  endif()
  string(FIND "${out}" "${expected}" at)
  if(bad OR at EQUAL -1)
    message(SEND_ERROR "${case} '${arg}': expected ${outcome} with '${expected}', got "
                       "exit ${result}: ${out}")
  endif()
endfunction()

file(MAKE_DIRECTORY ${WORK})
# A memory image holds control bytes; text of that size would be read as a HEX file.
string(ASCII 1 control)
string(REPEAT "0123456789abcde${control}" 4096 whole)
file(WRITE ${WORK}/whole.bin "${whole}")
file(WRITE ${WORK}/short.bin "0123456789")
file(WRITE ${WORK}/long.bin "${whole}x")

expect(ok image ${WORK}/whole.bin "")
expect(fails image ${WORK}/short.bin "'${WORK}/short.bin' is 10 bytes")
expect(fails image ${WORK}/long.bin "'${WORK}/long.bin' is 65537 bytes")
expect(fails image ${WORK}/missing.bin "'${WORK}/missing.bin' does not exist")
# A HEX file may have any length; the converter reads it when the program is built, and
# refuses a bad record or a file without data in program memory (0x0800..0xBFFF here).
file(WRITE ${WORK}/small.hex ":020800001122C3\n:00000001FF\n")
file(WRITE ${WORK}/bad.hex ":020800001122C3\n:020900001122C4\n:00000001FF\n")
file(WRITE ${WORK}/low.hex ":020000001122CB\n:00000001FF\n")
expect(ok image ${WORK}/small.hex "")
expect(ok convert ${WORK}/small.hex "HFILE 65536 bytes, HLAYOUT hex 00000800-00000801")
expect(ok convert ${WORK}/whole.bin "HFILE 65536 bytes, HLAYOUT raw")
expect(fails convert ${WORK}/bad.hex "line 2: bad record checksum 0xC4")
expect(fails convert ${WORK}/low.hex "no data in program memory 0x0800..0xBFFF")
expect(ok number 010 "value=10")
expect(ok number 65535 "value=65535")
expect(ok number 0 "value=0")
expect(fails number 65536 "RM_NUM '65536'")
expect(fails number 0x10 "RM_NUM '0x10'")
expect(fails number -1 "RM_NUM '-1'")
