# The access codes agreed with the device's firmware, checked before anything is built: a code of
# the wrong length, or a byte that is no 0x00..0xFF, would be padded or cut by the compiler and
# lock the device out.
function(quorvane_check_access_code name bytes)
  if("${${name}}" STREQUAL "")
    return() # the default of device/tarvex_protocol.h
  endif()
  string(REPLACE "," ";" values "${${name}}")
  list(LENGTH values count)
  if(NOT count EQUAL bytes)
    message(FATAL_ERROR "${name} must be exactly ${bytes} bytes (0x00..0xFF, comma-separated); "
                        "it holds ${count}: ${${name}}")
  endif()
  foreach(value IN LISTS values)
    string(STRIP "${value}" value)
    if(NOT value MATCHES "^(0[xX][0-9a-fA-F]+|[0-9]+)$")
      message(FATAL_ERROR "${name}: \"${value}\" is no byte (write 0x00..0xFF or 0..255)")
    endif()
    math(EXPR number "${value}")
    if(number GREATER 255)
      message(FATAL_ERROR "${name}: ${value} is beyond a byte (0x00..0xFF)")
    endif()
  endforeach()
endfunction()

quorvane_check_access_code(QUORVANE_ENTER_BOOTLOADER_CODE 3)
quorvane_check_access_code(QUORVANE_UNLOCK_CODE 8)
