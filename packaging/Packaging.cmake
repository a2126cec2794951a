# What `cmake --install` puts in place and what `cmake --build build --target package` packs into
# two Debian packages from the one build:
#
#   brindlemark      the desktop program (Qt 6): its manual page, desktop entry, file types and icon;
#                    it depends on brindlemark-cli
#   brindlemark-cli  brindlemark-cli and brindlemark-target-sim (stripped), their manual pages, the
#                    bash completion, the manuals of the tool and the loader, the JSON Schema and the
#                    loader images; no toolkit
#
# Each file belongs to the install component of its package ("window" or "cli"), each package has
# its own copyright file and changelog, and only these two components are packed: tests,
# benchmarks, the pack writer and the emulated-chip harness (tests/avr, which links the GPL-3
# libsimavr) never reach a package, even should they get install rules of their own. The loader
# images (firmware/, built when avr-gcc is there) do: users install them on blank chips.
include(GNUInstallDirs)

set(BM_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(BM_WINDOW_PACKAGE brindlemark)
set(BM_CLI_PACKAGE brindlemark-cli)

install(TARGETS brindlemark RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
install(TARGETS brindlemark-cli brindlemark-target-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)

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
install(FILES ${CMAKE_BINARY_DIR}/man/brindlemark.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT window)
install(FILES ${CMAKE_BINARY_DIR}/man/brindlemark-cli.1.gz ${CMAKE_BINARY_DIR}/man/brindlemark-target-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)

# The window's desktop entry, the project and pack file types it opens, and its icon, so the menu
# and the window show the same picture.
install(FILES ${BM_PACKAGING_DIR}/brindlemark.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications COMPONENT window)
install(FILES ${BM_PACKAGING_DIR}/brindlemark-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages RENAME brindlemark.xml COMPONENT window)
install(FILES ${PROJECT_SOURCE_DIR}/src/shell/qt/resources/brindlemark.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps COMPONENT window)

install(FILES ${BM_PACKAGING_DIR}/brindlemark-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME brindlemark-cli
        COMPONENT cli)
# The command-line tool's manual beyond its man page, the schema of its JSON lines and the
# loader's manual.
install(FILES ${PROJECT_SOURCE_DIR}/docs/cli.md ${PROJECT_SOURCE_DIR}/docs/records.md ${PROJECT_SOURCE_DIR}/docs/brindlemark-cli.schema.json
              ${PROJECT_SOURCE_DIR}/docs/loader.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${BM_CLI_PACKAGE} COMPONENT cli)
# The loader images, with their README. The folder keeps its name: brindlemark-cli looks for
# them in share/brindlemark/loaders of its installation.
if(TARGET brindlemark-loader-atmega328p-16mhz-57600)
  install(DIRECTORY ${CMAKE_BINARY_DIR}/loaders/
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/brindlemark/loaders COMPONENT cli
          FILES_MATCHING PATTERN "brindlemark-loader-*.hex")
  install(FILES ${BM_PACKAGING_DIR}/loaders-README.md
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/brindlemark/loaders RENAME README.md COMPONENT cli)
endif()

# Each package's copyright file and changelog (a native package's, gzipped as Debian wants it).
foreach(component window cli)
  if(component STREQUAL "window")
    set(package ${BM_WINDOW_PACKAGE})
  else()
    set(package ${BM_CLI_PACKAGE})
  endif()
  set(changelog ${CMAKE_BINARY_DIR}/doc/${package}/changelog.gz)
  add_custom_command(
    OUTPUT ${changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc/${package}
    COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" sh ${BM_PACKAGING_DIR}/${package}/changelog ${changelog}
    DEPENDS ${BM_PACKAGING_DIR}/${package}/changelog
    COMMENT "Compressing the changelog of ${package}"
    VERBATIM)
  add_custom_target(changelog-${package} ALL DEPENDS ${changelog})
  install(FILES ${BM_PACKAGING_DIR}/${package}/copyright ${changelog}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${BM_WINDOW_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Brindlemark developers")
set(CPACK_PACKAGE_CONTACT "Brindlemark developers <developers@brindlemark.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brindlemark developers <developers@brindlemark.invalid>")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

# One package per component.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL window cli)
set(CPACK_COMPONENTS_GROUPING IGNORE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps names the libraries each package's programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Each description's first line is its summary.
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME ${BM_WINDOW_PACKAGE})
set(CPACK_DEBIAN_WINDOW_DESCRIPTION
    "write firmware into AVR microcontrollers through a serial bootloader
Brindlemark loads an Intel HEX image, a project or a pack file, finds the
bootloader listening on a serial port, identifies the chip and the loader,
refuses a mismatch, and downloads flash and EEPROM or erases the flash.
.
This package holds the desktop program (brindlemark, Qt 6). The
command-line tool, the simulated target and the loader images are in
brindlemark-cli.")
# Beyond what dpkg-shlibdeps finds: Qt's platform plugins, which the window loads at run time,
# and the command-line package of the same build.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "qt6-qpa-plugins, ${BM_CLI_PACKAGE} (= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME ${BM_CLI_PACKAGE})
set(CPACK_DEBIAN_CLI_DESCRIPTION
    "write firmware into AVR chips through a serial bootloader, command line
brindlemark-cli loads an Intel HEX image, a project or a pack file, finds the
bootloader listening on a serial port, identifies the chip and the loader,
refuses a mismatch, and downloads flash and EEPROM or erases the flash; for
scripts, test jigs and production lines (many boards at once, a station that
flashes each board as its port appears, JSON lines for machines).
.
The package also holds a simulated target on a pseudo-terminal for use
without hardware (brindlemark-target-sim) and the loader images for blank
chips. It needs no graphical toolkit.")
# Records on a PostgreSQL server load its client library when they are made (not linked: every
# start would pay for it); SQLite records need nothing more.
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "libpq5")
# These files were in the brindlemark package before this version.
set(CPACK_DEBIAN_CLI_PACKAGE_REPLACES "${BM_WINDOW_PACKAGE} (<< ${PROJECT_VERSION})")
set(CPACK_DEBIAN_CLI_PACKAGE_BREAKS "${BM_WINDOW_PACKAGE} (<< ${PROJECT_VERSION})")

include(CPack)
