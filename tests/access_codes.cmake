# Configures the project with access codes that are not 3 and 8 bytes of 0x00..0xFF: each
# configure must fail, naming the setting. Run with -DSOURCE_DIR= -DWORK_DIR=.
set(rows
  "QUORVANE_UNLOCK_CODE=0x55,0x4E|must be exactly 8 bytes"
  "QUORVANE_UNLOCK_CODE=1,2,3,4,5,6,7,8,9|must be exactly 8 bytes"
  "QUORVANE_ENTER_BOOTLOADER_CODE=0xB0,0x07|must be exactly 3 bytes"
  "QUORVANE_ENTER_BOOTLOADER_CODE=0xB0,0x107,0x1D|is beyond a byte"
  "QUORVANE_ENTER_BOOTLOADER_CODE=0xB0,x7,0x1D|is no byte")
set(failures 0)
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 setting)
  list(GET row 1 expected)
  file(REMOVE_RECURSE "${WORK_DIR}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR} "-D${setting}"
            -DQUORVANE_BUILD_TESTS=OFF -DQUORVANE_BUILD_WINDOW=OFF
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(FIND "${err}" "${expected}" at)
  if(status EQUAL 0 OR at EQUAL -1)
    message(SEND_ERROR "-D${setting}: expected a failed configure saying \"${expected}\"; "
                       "status ${status}\n${err}")
  else()
    message(STATUS "-D${setting}: refused (${expected})")
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK_DIR}")
