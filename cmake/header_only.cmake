# quorvane_header_only(<package> <target> <header>): a header-only library as <target>. Its
# package's CMake files name it where they are found; a cross build that finds none takes the
# build machine's headers, through a folder that holds them alone (not the machine's whole
# /usr/include), e.g. quorvane_header_only(CLI11 CLI11::CLI11 CLI/CLI.hpp).
function(quorvane_header_only package target header)
  find_package(${package} QUIET)
  if(TARGET ${target})
    return()
  endif()
  string(REGEX REPLACE "/.*" "" top "${header}")
  find_path(QUORVANE_${package}_INCLUDE_DIR ${header} PATHS /usr/include
            NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(only ${CMAKE_BINARY_DIR}/header-only/${package})
  file(MAKE_DIRECTORY ${only})
  file(CREATE_LINK ${QUORVANE_${package}_INCLUDE_DIR}/${top} ${only}/${top} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${target} SYSTEM INTERFACE ${only})
endfunction()
