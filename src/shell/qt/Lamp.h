// Lamp: one of the main window's three status lamps, an oval with a black 1-pixel border.
//
// It only paints; the logic sets and reads its fill colour through the status display, and the
// colour read back is exactly the one set (the blink timer compares it with the lit colour).
#pragma once

#include <QWidget>
#include <cstdint>

namespace bm::qt {

class Lamp : public QWidget {
 public:
  Lamp(QWidget* parent, uint32_t rgb);

  void SetFill(uint32_t rgb);
  uint32_t Fill() const { return fill_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  uint32_t fill_;
};

}  // namespace bm::qt
