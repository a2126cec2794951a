// What the Qt window tests share: the fixtures of both systems' window tests (support/WindowFiles.h)
// and what a person does with the window (read a label or a lamp, click a button).
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "WindowRig.h"
#include "shell/qt/Lamp.h"
#include "support/WindowFiles.h"

namespace bm::test::window {

using test::Fixtures;
using test::HexFile;

inline QString Text(const WindowRig& rig, const char* name) { return rig.Find<QLabel>(name)->text(); }
inline uint32_t Lamp(const WindowRig& rig, const char* name) { return rig.Find<qt::Lamp>(name)->Fill(); }
inline void Click(const WindowRig& rig, const char* name) {
  QTest::mouseClick(rig.Find<QPushButton>(name), Qt::LeftButton);
}

}  // namespace bm::test::window
