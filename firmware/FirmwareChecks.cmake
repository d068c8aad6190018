# What a build may carry, checked when it is configured: an image of exactly 64 KiB, and
# identity numbers written in decimal from 0 to 65535. The build includes this file, and so
# does its test (run with cmake -P).

# Configuring fails unless Path names a file of exactly 65,536 bytes.
function(bootload_check_firmware_image path)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    message(FATAL_ERROR "FIRMWARE_IMAGE '${path}' does not exist")
  endif()
  file(SIZE "${path}" size)
  if(NOT size EQUAL 65536)
    message(FATAL_ERROR
      "FIRMWARE_IMAGE '${path}' is ${size} bytes; an image must be exactly 65536 bytes")
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
