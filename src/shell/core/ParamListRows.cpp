#include "shell/core/ParamListRows.h"

#include <charconv>

namespace bm {

std::string GeneralNumber(double value) {
  // Fifteen significant digits hold every int32 divided by 100 or by a million exactly as
  // written, without the noise of the binary fraction in the last places.
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  return std::string(buffer, result.ptr);
}

std::string HundredthsHashDot00(int value) {
  const int whole = value / 100;
  const int cents = value % 100;
  std::string text = whole != 0 ? std::to_string(whole) : std::string();
  text += '.';
  text += static_cast<char>('0' + cents / 10);
  text += static_cast<char>('0' + cents % 10);
  return text;
}

std::string ParamListTitle(const dParamList::ParamSet& params) {
  return "Parameter list of " + params.eProjectName;
}

namespace {

std::string ClockText(int32_t clock) {
  const int32_t c = clock > 0 ? clock : 0;
  if (c >= 1000000) return GeneralNumber(c / 1000000.0) + "MHz";
  return std::to_string(c) + " Hz";
}

std::string SupplyText(uint16_t voltage) {
  const int mode = voltage & 0xFC00;
  if (mode == 0) return "Target itself";
  return "Zorrel " + HundredthsHashDot00(voltage & 0x3FF) + "V" +
         (mode == 0x400 ? " max 30mA" : " max 100mA");
}

const char* YesNo(bool yes) { return yes ? "yes" : "no"; }

}  // namespace

std::array<ParamRow, kParamRowCount> ParamListRows(const dParamList::ParamSet& p) {
  return {{
      {"Project Name", p.eProjectName},
      {"File created", std::to_string(p.eFileAge)},
      {"File downloaded", GeneralNumber(p.eCreateDate / 100.0)},
      {"CPU Name", p.eCPUname},
      {"CPU Clock", ClockText(p.eClock)},
      {"Flash to program", p.eProgFlash ? std::to_string(p.eFProgEnd) + "bytes" : "none"},
      {"EEprom to program", p.eProgEEprom ? std::to_string(p.eEProgEnd) + " bytes" : "none"},
      {"Fuse to program", YesNo(p.eProgFuses)},
      {"Lockbits to program", YesNo(!p.eNoLockDev)},
      {"Auto release target", YesNo(p.eAutoRelease)},
      {"SPI programming", "yes"},
      {"Target powered by", SupplyText(p.eVoltage)},
  }};
}

uint32_t ParamRowBackground(int row) { return row % 2 == 0 ? 0xFFFFFF : 0xF1F5FF; }

}  // namespace bm
