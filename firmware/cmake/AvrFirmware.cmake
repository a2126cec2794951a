# avr_firmware(NAME MCU SOURCES... [DEFINES...] [LINK_OPTIONS...] [OUTPUT_DIR dir] [SEGMENTED_HEX]
#              [MAX_BYTES n])
#
# Cross-compiles one AVR program with avr-gcc (no second toolchain: the host
# build stays as it is) and gives
#   <dir>/<NAME>.elf
#   <dir>/<NAME>.hex   flash image; with SEGMENTED_HEX rewritten by srec_cat
#                      with 20-bit segment addresses (type 02 records, never
#                      04), the only form the host program's reader accepts
#                      above 64 KiB
#   <dir>/<NAME>.eep   EEPROM image (empty file when the program has none)
# and a target NAME that builds them. SOURCES may list headers; only the .c
# files are compiled, the rest are dependencies. With MAX_BYTES, a program
# whose flash image is larger fails the build.
set(AVR_FIRMWARE_DIR ${CMAKE_CURRENT_LIST_DIR})
function(avr_firmware name)
  cmake_parse_arguments(FW "SEGMENTED_HEX" "MCU;OUTPUT_DIR;MAX_BYTES" "SOURCES;DEFINES;LINK_OPTIONS" ${ARGN})
  if(NOT FW_OUTPUT_DIR)
    set(FW_OUTPUT_DIR ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  set(elf ${FW_OUTPUT_DIR}/${name}.elf)
  set(hex ${FW_OUTPUT_DIR}/${name}.hex)
  set(eep ${FW_OUTPUT_DIR}/${name}.eep)

  set(c_files)
  set(deps)
  foreach(src IN LISTS FW_SOURCES)
    get_filename_component(abs ${src} ABSOLUTE)
    list(APPEND deps ${abs})
    if(abs MATCHES "\\.c$")
      list(APPEND c_files ${abs})
    endif()
  endforeach()
  set(defs)
  foreach(d IN LISTS FW_DEFINES)
    list(APPEND defs -D${d})
  endforeach()

  add_custom_command(
    OUTPUT ${elf}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${FW_OUTPUT_DIR}
    COMMAND ${AVR_GCC} -mmcu=${FW_MCU} -Os -std=gnu11 -Wall -Wextra -Werror -g -I${PROJECT_SOURCE_DIR}/src -I${PROJECT_SOURCE_DIR}/firmware
            -ffunction-sections -fdata-sections -Wl,--gc-sections
            ${defs} ${FW_LINK_OPTIONS} -o ${elf} ${c_files}
    DEPENDS ${deps}
    COMMENT "avr-gcc ${name} (${FW_MCU})"
    VERBATIM)
  if(FW_MAX_BYTES)
    add_custom_command(
      OUTPUT ${elf} APPEND
      COMMAND ${CMAKE_COMMAND} -DELF=${elf} -DOBJCOPY=${AVR_OBJCOPY} -DMAX_BYTES=${FW_MAX_BYTES}
              -P ${AVR_FIRMWARE_DIR}/CheckSize.cmake)
  endif()

  if(FW_SEGMENTED_HEX)
    add_custom_command(
      OUTPUT ${hex}
      COMMAND ${AVR_OBJCOPY} -O ihex -R .eeprom ${elf} ${hex}.linear
      COMMAND ${SREC_CAT} ${hex}.linear -Intel -o ${hex} -Intel --address-length=3
      DEPENDS ${elf}
      VERBATIM)
  else()
    add_custom_command(
      OUTPUT ${hex}
      COMMAND ${AVR_OBJCOPY} -O ihex -R .eeprom ${elf} ${hex}
      DEPENDS ${elf}
      VERBATIM)
  endif()
  add_custom_command(
    OUTPUT ${eep}
    COMMAND ${AVR_OBJCOPY} -O ihex -j .eeprom --set-section-flags=.eeprom=alloc,load
            --change-section-lma .eeprom=0 --no-change-warnings ${elf} ${eep}
    DEPENDS ${elf}
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${elf} ${hex} ${eep})
endfunction()
