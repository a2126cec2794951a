# The Windows installer (packaging/windows/brindlemark.nsi), made with NSIS:
#   cmake --build --preset windows --target windows-installer
# gives build-windows/brindlemark-VERSION-setup.exe. The loader images come from the Linux build
# (avr-gcc), BRINDLEMARK_WINDOWS_LOADERS: build/loaders unless told otherwise.
# Included by cmake/FloorsOnly.cmake.
find_program(MAKENSIS makensis)
set(BRINDLEMARK_WINDOWS_LOADERS ${PROJECT_SOURCE_DIR}/build/loaders
    CACHE PATH "The loader images the Windows installer carries (the Linux build's loaders/)")
if(NOT MAKENSIS)
  message(STATUS "makensis not found: no windows-installer target (install nsis)")
  return()
endif()

set(bm_setup ${CMAKE_BINARY_DIR}/brindlemark-${PROJECT_VERSION}-setup.exe)
# The installer carries the programs without their debugging information (a fifth of the size).
set(bm_staged ${CMAKE_BINARY_DIR}/installer)
set(bm_nsi ${PROJECT_SOURCE_DIR}/packaging/windows/brindlemark.nsi)
add_custom_command(
  OUTPUT ${bm_setup}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${bm_staged}
  COMMAND ${CMAKE_STRIP} -o ${bm_staged}/brindlemark.exe $<TARGET_FILE:brindlemark>
  COMMAND ${CMAKE_STRIP} -o ${bm_staged}/brindlemark-cli.exe $<TARGET_FILE:brindlemark-cli>
  COMMAND ${MAKENSIS} -V2 -INPUTCHARSET UTF8
          -DVERSION=${PROJECT_VERSION} "-DVERSION_TEXT=${BRINDLEMARK_VERSION_TEXT}" -DBIN=${bm_staged}
          -DLOADERS=${BRINDLEMARK_WINDOWS_LOADERS} -DSOURCE=${PROJECT_SOURCE_DIR} -DOUTFILE=${bm_setup}
          ${bm_nsi}
  DEPENDS ${bm_nsi} brindlemark brindlemark-cli ${PROJECT_SOURCE_DIR}/LICENSE
          ${PROJECT_SOURCE_DIR}/packaging/loaders-README.md
  COMMENT "Making the Windows installer ${bm_setup}"
  VERBATIM)
add_custom_target(windows-installer DEPENDS ${bm_setup})
