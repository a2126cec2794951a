# Fails when the flash image of ELF is larger than MAX_BYTES (a loader must fit its boot section).
#   cmake -DELF=x.elf -DOBJCOPY=avr-objcopy -DMAX_BYTES=1024 -P CheckSize.cmake
execute_process(COMMAND ${OBJCOPY} -O binary -R .eeprom -R .noinit ${ELF} ${ELF}.bin RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read ${ELF}")
endif()
file(SIZE ${ELF}.bin bytes)
file(REMOVE ${ELF}.bin)
if(bytes GREATER MAX_BYTES)
  file(REMOVE ${ELF})
  message(FATAL_ERROR "${ELF}: ${bytes} bytes, more than the ${MAX_BYTES} its boot section holds")
endif()
message(STATUS "${ELF}: ${bytes} bytes")
