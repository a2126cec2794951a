#include "shell/core/WindowTexts.h"

#include <array>
#include <utility>

namespace bm {

std::string HelpContentsText() {
  return R"(# Brindlemark

Brindlemark writes firmware into an AVR microcontroller through the bootloader that already
runs on the board and listens on a serial line.

## Writing a board, step by step

1. **Load** a firmware file. The red lamp goes dark and the yellow lamp lights: a file is loaded.
   The file name, the image sizes, the device ID and CPU name the file expects are shown on the
   left.
2. **Comport** searches the serial ports, from the last one to the first, for a listening
   bootloader. When one answers, the chip is identified; the green lamp lights and the target's
   device and loader IDs are shown on the right. A chip that differs from what the file expects
   is refused.
3. **Download** writes the flash image and then the EEPROM image (tick the boxes on the left to
   choose which). The red lamp blinks while it runs and the bar on the right shows its progress.
4. **Erase** erases the flash pages the loaded image covers.
5. **Stop** leaves the bootloader, which starts the program on the chip, and closes the port.
   Stop also ends a download or erase that is running.

## The lamps

* red alone: nothing loaded
* yellow alone: a file is loaded
* green alone: a target is connected
* red blinking with yellow: erasing or downloading

## File kinds

* `.hex` — an Intel HEX flash image; `.eep` — an Intel HEX EEPROM image
* `.ppro` — a project file naming the expected device, loader, EEPROM limit and baud rate; its
  images are the `.hex` and `.eep` files of the same name beside it
* `.pac`, `.pack` — a production pack with parameters, flash and EEPROM images in one file;
  *File > Parameter* shows its parameters

## Baud rate

A project file sets the rate (57600 when it names none). The pop-up in the target frame shows
the rate in use, and choosing an entry sets the port to it at once. A project's rate that is not
one of the four entries shows as a fifth entry for as long as it is in use. The pop-up is
disabled while a file loads, while Comport searches the ports and while a download or erase
runs.

## Without hardware

Start the program with `--simulated-target` to offer a simulated board as port "sim".
)";
}

std::string ReleaseNotesText() {
  return R"(# Brindlemark 1.0 (v043)

* Loads Intel HEX flash and EEPROM images, project files and production packs.
* Finds the bootloader on any serial port, identifies the chip and its loader, and refuses a
  chip the file was not built for.
* Downloads flash page by page, skipping pages that hold nothing, then the EEPROM; erases the
  pages an image covers; Stop leaves the loader at any time, also in the middle of a run.
* Shows the parameters of a production pack.
* Quitting during a run ends the run and closes the port; the board is left in its bootloader.
* A command-line tool, `brindlemark-cli`, does the same jobs without a window.
)";
}

std::string NoUpdateCheckText() {
  return "This build of Brindlemark does not check for updates.\n"
         "You are running version 1.0 (v043).";
}

std::string CreditsText() {
  return "<b>Engineering:</b>\n"
         "    The Brindlemark developers\n"
         "\n"
         "<b>Artwork:</b>\n"
         "    Icon drawn for Brindlemark\n"
         "\n"
         "<b>Documentation:</b>\n"
         "    The Brindlemark developers\n"
         "\n"
         "<b>Testing:</b>\n"
         "    Bench and production-line users\n"
         "\n"
         "<b>Description:</b>\n"
         "<font size=\"9\">    Writes firmware into AVR microcontrollers through the bootloader already "
         "running on the target, over a serial line: Intel HEX images, project files and "
         "production packs.</font>\n"
         "\n"
         "<b>Disclaimer:</b>\n"
         "<font size=\"10\"><i>    This program is provided as it is, without warranty of any kind. "
         "Check what you write into a device before you ship it.</i></font>\n";
}

std::string AboutNoticeText() { return "Writes firmware into AVR chips over a serial bootloader."; }

std::string AboutVersionText() { return "Version 1.0 (v043)"; }

std::string QuitQuestionText(RunKind running) {
  return running == RunKind::Erase ? "An erase is running. Stop it and quit?"
                                   : "A download is running. Stop it and quit?";
}

namespace {

// What each control does and, for the lamps, what their colours say (the mode table in
// UpdateButtons.cpp sets them).
constexpr std::array<std::pair<std::string_view, const char*>, 19> kTips{{
    {"LedRed", "Red lamp: lit when nothing is loaded, blinking while programming"},
    {"LedYellow", "Yellow lamp: lit when a file is loaded"},
    {"LedGreen", "Green lamp: lit when the target is connected"},
    {"ProgFlashChk", "Write the flash image"},
    {"ProgEEpChk", "Write the EEPROM image"},
    {"BaudSelect", "Baud rate of the serial port; disabled during a load, search or run"},
    {"ProgressBar1", "Progress of a download or erase"},
    {"FOpenBtn", "Load a HEX image, a project or a pack file"},
    {"ComportBtn", "Search the serial ports for the target"},
    {"DownLdBtn", "Write the chosen images into the target"},
    {"EraseBtn", "Erase the flash pages the loaded image covers"},
    {"StopBtn", "Stop the run and leave the target's loader"},
    {"ModeLabel", "The window's mode: none, file loaded, Target connected or programming"},
    {"FlashSizeCapt", "Size of the loaded flash image: address 0 to its end, in bytes"},
    {"EEpSizeCapt", "Size of the loaded EEPROM image: address 0 to its end, in bytes"},
    {"SourceDevIDcapt",
     "The device ID the loaded file expects (from a project or pack file; --- for a HEX file)"},
    {"CPUnameCapt", "The CPU the loaded file names (from a project or pack file)"},
    {"TargDevIDcapt", "The device ID the connected target reported"},
    {"TargLoaderIDcapt", "The loader ID the connected target reported"},
}};

}  // namespace

std::string ControlTip(std::string_view control) {
  if (control == "status0") return StatusLineTip(0);
  if (control == "status1") return StatusLineTip(1);
  for (const auto& [name, tip] : kTips)
    if (name == control) return tip;
  return {};
}

std::string StatusLineTip(int line) {
  return line == 0 ? "What the program is doing, or how the last run ended"
                   : "The port of the connected target, or how a run that closed it ended";
}

}  // namespace bm
