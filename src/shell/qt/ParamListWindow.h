// ParamListWindow (dParamListWND): the parameters of the pack file read last, as a read-only
// two-column list of twelve rows.
//
// It copies the texts when it opens, so a pack file read while it stays open does not change
// it; OK (or Esc) closes it and the instance deletes itself, so the next one starts afresh.
// Not modal.
#pragma once

#include <QWidget>

#include "images/dParamList.h"

class QPushButton;
class QTreeWidget;

namespace bm::qt {

class ParamListWindow : public QWidget {
 public:
  ParamListWindow(QWidget* parent, const dParamList::ParamSet& params);

  QTreeWidget* ListBox1() const { return list_; }
  QPushButton* OKbutton() const { return ok_; }

 private:
  QTreeWidget* list_;
  QPushButton* ok_;
};

}  // namespace bm::qt
