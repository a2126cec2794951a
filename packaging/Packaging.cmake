# What `cmake --install` puts in place and what `cmake --build build --target package` packs into
# a Debian package: the three programs (stripped), their manual pages, the desktop entry and icon, the bash completion of
# brindlemark-cli and the copyright file.
#
# Everything here belongs to the install component "brindlemark", and only that component is
# packed: tests, benchmarks, the pack writer and the emulated-chip harness (tests/avr, which
# links the GPL-3 libsimavr) never reach the package, even should they get install rules of
# their own. The loader images (firmware/, built when avr-gcc is there) do: users install them
# on blank chips.
include(GNUInstallDirs)

set(BM_PACKAGE brindlemark)
set(BM_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

install(TARGETS brindlemark brindlemark-cli brindlemark-target-sim
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${BM_PACKAGE})

# Manual pages, gzipped as Debian wants them (-n: no name or time stamp, so builds repeat).
set(bm_man_pages)
foreach(program brindlemark brindlemark-cli brindlemark-target-sim)
  set(page ${PROJECT_SOURCE_DIR}/docs/man/${program}.1)
  set(gz ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  add_custom_command(
    OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" sh ${page} ${gz}
    DEPENDS ${page}
    COMMENT "Compressing the manual page ${program}.1"
    VERBATIM)
  list(APPEND bm_man_pages ${gz})
endforeach()
add_custom_target(man-pages ALL DEPENDS ${bm_man_pages})
install(FILES ${bm_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${BM_PACKAGE})

install(FILES ${BM_PACKAGING_DIR}/brindlemark.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications COMPONENT ${BM_PACKAGE})
# The project and pack file types the desktop entry opens.
install(FILES ${BM_PACKAGING_DIR}/brindlemark-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages RENAME brindlemark.xml COMPONENT ${BM_PACKAGE})
# The window icon, so the menu and the window show the same picture.
install(FILES ${PROJECT_SOURCE_DIR}/src/shell/qt/resources/brindlemark.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps COMPONENT ${BM_PACKAGE})
install(FILES ${BM_PACKAGING_DIR}/brindlemark-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME brindlemark-cli
        COMPONENT ${BM_PACKAGE})
install(FILES ${BM_PACKAGING_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${BM_PACKAGE} COMPONENT ${BM_PACKAGE})
# The command-line tool's manual beyond its man page, and the schema of its JSON lines.
install(FILES ${PROJECT_SOURCE_DIR}/docs/cli.md ${PROJECT_SOURCE_DIR}/docs/brindlemark-cli.schema.json
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${BM_PACKAGE} COMPONENT ${BM_PACKAGE})
# The loader images, with their README and manual.
if(TARGET brindlemark-loader-atmega328p-16mhz-57600)
  install(DIRECTORY ${CMAKE_BINARY_DIR}/loaders/
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/${BM_PACKAGE}/loaders COMPONENT ${BM_PACKAGE}
          FILES_MATCHING PATTERN "brindlemark-loader-*.hex")
  install(FILES ${BM_PACKAGING_DIR}/loaders-README.md
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/${BM_PACKAGE}/loaders RENAME README.md COMPONENT ${BM_PACKAGE})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/docs/loader.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${BM_PACKAGE} COMPONENT ${BM_PACKAGE})
# A native package's changelog, gzipped as Debian wants it.
set(bm_changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(
  OUTPUT ${bm_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" sh ${BM_PACKAGING_DIR}/changelog ${bm_changelog}
  DEPENDS ${BM_PACKAGING_DIR}/changelog
  COMMENT "Compressing the changelog"
  VERBATIM)
add_custom_target(changelog ALL DEPENDS ${bm_changelog})
install(FILES ${bm_changelog} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${BM_PACKAGE} COMPONENT ${BM_PACKAGE})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${BM_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Brindlemark developers")
set(CPACK_PACKAGE_CONTACT "Brindlemark developers <developers@brindlemark.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brindlemark developers <developers@brindlemark.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write firmware into AVR microcontrollers through a serial bootloader")
set(CPACK_PACKAGE_DESCRIPTION
    "Brindlemark loads an Intel HEX image, a project or a pack file, finds the
bootloader listening on a serial port, identifies the chip and the loader,
refuses a mismatch, and downloads flash and EEPROM or erases the flash.
.
The package holds the desktop program (brindlemark), a command-line tool for
scripts and production lines (brindlemark-cli) and a simulated target on a
pseudo-terminal for use without hardware (brindlemark-target-sim).")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

# One package made of the one component.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${BM_PACKAGE})
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME ${BM_PACKAGE})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps sees the libraries the programs link; the desktop program also needs Qt's
# platform plugins, which it loads at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
