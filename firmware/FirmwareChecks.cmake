# What a build may carry, checked when it is configured: an image of exactly 64 KiB or an
# Intel HEX file, and identity numbers written in decimal from 0 to 65535. The build
# includes this file, and so does its test (run with cmake -P). A HEX file is read when the
# program is built (bootload_convert_image), and that refuses a file it cannot use.

# Configuring fails unless Path names a file of exactly 65,536 bytes or one that begins
# as a HEX file does (a colon, after an optional byte order mark and blank lines, in UTF-8
# or UTF-16); the converter decides finally, by the same rule as the program.
function(bootload_check_firmware_image path)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    message(FATAL_ERROR "FIRMWARE_IMAGE '${path}' does not exist")
  endif()
  file(SIZE "${path}" size)
  if(size EQUAL 65536)
    return()
  endif()
  file(READ "${path}" head LIMIT 256 HEX)
  # UTF-8 (or ASCII), UTF-16 little-endian, UTF-16 big-endian.
  if(NOT head MATCHES "^(efbbbf)?(20|09|0d|0a)*3a" AND
     NOT head MATCHES "^(fffe)?((20|09|0d|0a)00)*3a00" AND
     NOT head MATCHES "^(feff)?(00(20|09|0d|0a))*003a")
    message(FATAL_ERROR
      "FIRMWARE_IMAGE '${path}' is ${size} bytes; an image must be exactly 65536 bytes, "
      "or an Intel HEX file")
  endif()
endfunction()

# Sets Out to Value as a plain decimal number: leading zeros are still decimal (010 is 10).
# Configuring fails, naming Name, for anything but decimal digits or a value over 65535.
function(bootload_resource_number name value out)
  if(NOT value MATCHES "^[0-9]+$")
    message(FATAL_ERROR "${name} '${value}' is not a decimal number from 0 to 65535")
  endif()
  string(REGEX REPLACE "^0+([0-9])" "\\1" digits "${value}")
  string(LENGTH "${digits}" length)
  if(length GREATER 5 OR digits GREATER 65535)
    message(FATAL_ERROR "${name} '${value}' is not a decimal number from 0 to 65535")
  endif()
  set(${out} "${digits}" PARENT_SCOPE)
endfunction()
