# Writes the demo's sample firmware image: RECORDS records of 40 bytes from a 16-bit linear
# congruential sequence, the same on every build and different from record to record.
#   cmake -DOUTPUT=<file> [-DRECORDS=<count>] -P make_sample_image.cmake
# CMake strings cannot hold a zero byte, so the bytes run from 1 to 255.
if(NOT DEFINED OUTPUT)
  message(FATAL_ERROR "make_sample_image: OUTPUT is not set")
endif()
if(NOT DEFINED RECORDS)
  set(RECORDS 50)
endif()

math(EXPR byte_count "${RECORDS} * 40")
set(content "")
if(byte_count GREATER 0)
  set(state 12345)
  foreach(i RANGE 1 ${byte_count})
    math(EXPR state "(${state} * 25173 + 13849) % 65536")
    math(EXPR value "(${state} >> 8) % 255 + 1")
    string(ASCII ${value} byte)
    string(APPEND content "${byte}")
  endforeach()
endif()
file(WRITE "${OUTPUT}" "${content}")

file(SIZE "${OUTPUT}" written)
if(NOT written EQUAL byte_count)
  message(FATAL_ERROR "make_sample_image: wrote ${written} bytes instead of ${byte_count}")
endif()
