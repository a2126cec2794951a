#!/bin/sh
# Rebuilds the example images: blink/blink.hex (flash), blink/blink.eep (EEPROM) and, when the
# pack writer is given (or found in build/bin), blink.pack from the same two images.
# The outputs are committed, so the programs and the tests work without the AVR toolchain.
#
#   examples/build.sh [path/to/brindlemark-packwriter]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cd "$here/blink"

avr-gcc -mmcu=atmega328p -DF_CPU=16000000UL -Os -Wall -Wextra -std=gnu11 -o blink.elf blink.c
avr-objcopy -O ihex -R .eeprom blink.elf blink.hex
avr-objcopy -O ihex -j .eeprom --set-section-flags=.eeprom=alloc,load --change-section-lma .eeprom=0 \
  blink.elf blink.eep
rm -f blink.elf
echo "blink.hex, blink.eep rebuilt"

writer=${1:-}
[ -n "$writer" ] || for w in "$here/../build/bin/brindlemark-packwriter" "$here"/../build-*/bin/brindlemark-packwriter; do
  [ -x "$w" ] && { writer=$w; break; }
done
if [ -n "$writer" ] && [ -x "$writer" ]; then
  "$writer" --out "$here/blink.pack" --flash blink.hex --eeprom blink.eep --project Blink \
    --cpu ATmega328P --device-id 1E950F --boot-id 0101 --eeprom-max 1024 --clock 16000000 --voltage 500
else
  echo "brindlemark-packwriter not found: blink.pack not rebuilt" >&2
fi
