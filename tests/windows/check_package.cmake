# Makes the Windows zip with CPack and checks it: its name, the files it holds, and the DLLs
# quorvane.exe, quorvane-demo.exe and quorvane-cli.exe import, each of which must be one that
# every Windows 10 and 11 has, and their subsystem (the windows 2, the console program 3). Fails
# on any other file or DLL.
#   cmake -DBUILD_DIR=... -DCPACK=... -DOBJDUMP=... -DVERSION=... -P check_package.cmake
# BCRYPT: the system's own SHA-256 (CNG), in Windows since Vista; SHELL32: CommandLineToArgvW,
# quorvane-cli's arguments as UTF-16, in every Windows with a desktop.
set(allowed_dlls KERNEL32 USER32 GDI32 COMCTL32 SETUPAPI HID WINMM OLEACC OLE32 OLEAUT32
    ADVAPI32 BCRYPT SHELL32 msvcrt)
set(folder quorvane-${VERSION}-windows-x86_64)
set(expected_files ${folder}/README.txt ${folder}/quorvane.exe ${folder}/quorvane-cli.exe
    ${folder}/demo/quorvane-demo.exe ${folder}/demo/quorvane.bin)

execute_process(COMMAND ${CPACK} --config ${BUILD_DIR}/CPackConfig.cmake
                WORKING_DIRECTORY ${BUILD_DIR} RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE out)
set(zip ${BUILD_DIR}/packages/${folder}.zip)
if(NOT status EQUAL 0 OR NOT EXISTS ${zip})
  message(FATAL_ERROR "cpack did not make ${zip}:\n${out}")
endif()

set(scratch ${BUILD_DIR}/packages/check)
file(REMOVE_RECURSE ${scratch})
file(MAKE_DIRECTORY ${scratch})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zip} WORKING_DIRECTORY ${scratch}
                RESULT_VARIABLE status)
file(GLOB_RECURSE files RELATIVE ${scratch} ${scratch}/*)
list(SORT files)
list(SORT expected_files)
if(NOT status EQUAL 0 OR NOT files STREQUAL expected_files)
  message(FATAL_ERROR "${zip} holds:\n  ${files}\nexpected:\n  ${expected_files}")
endif()
message(STATUS "${zip}: ${files}")

foreach(entry quorvane.exe:2 demo/quorvane-demo.exe:2 quorvane-cli.exe:3)
  string(REPLACE ":" ";" entry ${entry})
  list(GET entry 0 exe)
  list(GET entry 1 subsystem)
  file(SIZE ${scratch}/${folder}/${exe} size)
  execute_process(COMMAND ${OBJDUMP} -p ${scratch}/${folder}/${exe} OUTPUT_VARIABLE dump
                  RESULT_VARIABLE status)
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${dump}")
  if(NOT status EQUAL 0 OR NOT names)
    message(FATAL_ERROR "no import table read from ${exe}")
  endif()
  set(dlls "")
  foreach(name ${names})
    string(REGEX REPLACE "DLL Name: (.+)\\.[dD][lL][lL]$" "\\1" dll "${name}")
    list(APPEND dlls ${dll})
    string(TOUPPER "${dll}" upper)
    set(known FALSE)
    foreach(ok ${allowed_dlls})
      string(TOUPPER "${ok}" ok)
      if(upper STREQUAL ok)
        set(known TRUE)
      endif()
    endforeach()
    if(NOT known)
      message(FATAL_ERROR "${exe} imports ${dll}.dll, which is not one every Windows has")
    endif()
  endforeach()
  if(NOT dump MATCHES "Subsystem[ \t]+0*${subsystem}[ \t]")
    message(FATAL_ERROR "${exe} is not of subsystem ${subsystem} (2: a window, 3: a console)")
  endif()
  message(STATUS "${exe}: ${size} bytes, imports ${dlls}")
endforeach()
