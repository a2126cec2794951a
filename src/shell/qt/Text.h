// Text conversion between the logic's byte strings and Qt.
//
// File names and pack-file texts are usually UTF-8, but a pack written on another system may
// carry Latin-1 bytes; those are shown as Latin-1 rather than as replacement characters.
#pragma once

#include <QString>
#include <string>

namespace bm::qt {

QString ToQString(const std::string& text);

}  // namespace bm::qt
