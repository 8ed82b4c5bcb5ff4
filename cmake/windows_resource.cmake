# The Windows identity of the program: quorvane_add_version_resource(<target>) compiles
# app/quorvane.rc.in into <target>, with the program's version ("1.01.0001" gives the numeric
# version 1,1,0,1), its description and its icon (app/icons/quorvane.ico, written from the
# window icon's XPM images by scripts/make_ico.py).
set(QUORVANE_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/../app/quorvane.rc.in)
set(QUORVANE_ICON_FILE ${CMAKE_CURRENT_LIST_DIR}/../app/icons/quorvane.ico)
cmake_path(NORMAL_PATH QUORVANE_RC_TEMPLATE)
cmake_path(NORMAL_PATH QUORVANE_ICON_FILE)

function(quorvane_add_version_resource target)
  if(NOT QUORVANE_DISPLAY_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "QUORVANE_DISPLAY_VERSION \"${QUORVANE_DISPLAY_VERSION}\" is not major.minor.revision")
  endif()
  set(numbers "")
  foreach(part ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} 0 ${CMAKE_MATCH_3})
    string(REGEX REPLACE "^0+([0-9])" "\\1" part "${part}") # decimal, whatever its zeros
    list(APPEND numbers ${part})
  endforeach()
  list(JOIN numbers "," QUORVANE_FILEVERSION)
  set(QUORVANE_DESCRIPTION "${CMAKE_PROJECT_DESCRIPTION}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${QUORVANE_RC_TEMPLATE} ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${QUORVANE_ICON_FILE})
endfunction()
