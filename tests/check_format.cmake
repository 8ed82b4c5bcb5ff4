# Fails when a source file differs from what clang-format makes of it (.clang-format at the root).
# cmake -DCLANG_FORMAT=<program> -DSOURCE_DIR=<root> -P check_format.cmake
set(sources)
foreach(dir app cli device history lock power update bench tools packaging tests)
  file(GLOB_RECURSE found "${SOURCE_DIR}/${dir}/*.cpp" "${SOURCE_DIR}/${dir}/*.h")
  list(APPEND sources ${found})
endforeach()
list(LENGTH sources count)
if(count EQUAL 0)
  message(FATAL_ERROR "no sources found under ${SOURCE_DIR}")
endif()
execute_process(COMMAND "${CLANG_FORMAT}" --dry-run --Werror ${sources}
                RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "clang-format would change these sources:\n${errors}")
endif()
message(STATUS "${count} sources formatted as .clang-format says")
