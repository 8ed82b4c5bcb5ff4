# The portable zip for Windows, made by CPack in the cross build:
# quorvane-<version>-windows-x86_64.zip, one folder holding quorvane.exe, quorvane-cli.exe (the
# same from a console, taking the same quorvane.bin by default) and README.txt, and
# demo\ with quorvane-demo.exe and its sample image (kept apart so that the sample image never
# lies beside the real program). The executables are stripped of their debug information.
#
#   cpack --config build/windows/CPackConfig.cmake   (writes build/windows/packages/)
install(TARGETS quorvane quorvane-cli RUNTIME DESTINATION . COMPONENT portable)
install(FILES windows-README.txt RENAME README.txt DESTINATION . COMPONENT portable)
install(TARGETS quorvane-demo RUNTIME DESTINATION demo COMPONENT portable)
install(FILES $<TARGET_FILE_DIR:quorvane-demo>/quorvane.bin DESTINATION demo COMPONENT portable)

set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR "quorvane developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tarvex firmware update")
set(CPACK_PACKAGE_FILE_NAME quorvane-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_GENERATOR ZIP)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
include(CPack)
