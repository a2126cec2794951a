// The parameter list window's content without a toolkit: its title, its twelve label/value rows
// and the background of each row, all derived from the parameter set of the pack file read last.
//
// Number texts never depend on the user's locale (the point is always "."), so the list reads
// the same on every machine.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "images/dParamList.h"

namespace bm {

struct ParamRow {
  const char* label;
  std::string value;
};

inline constexpr int kParamRowCount = 12;

std::string ParamListTitle(const dParamList::ParamSet& params);
std::array<ParamRow, kParamRowCount> ParamListRows(const dParamList::ParamSet& params);

// Even rows (counting from 0) are white, odd rows light blue; the same in both columns.
uint32_t ParamRowBackground(int row);

// The number forms of the list, exposed for their own tests.
std::string GeneralNumber(double value);     // as few digits as needed: 2.5, 123.45, 8
std::string HundredthsHashDot00(int value);  // "#.00" of value/100 for value >= 0: 330 -> 3.30, 50 -> .50

}  // namespace bm
