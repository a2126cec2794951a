// What a reader found in one call, shown in `dialogs` as the presenter shows it (a box each, in order) once
// the call's full expression has ended, even when the reader threw: reader tests then read the
// findings as the boxes the user sees.
#pragma once

#include "base/Diagnostic.h"
#include "platform/Dialogs.h"

namespace bm::test {

class ShownFindings {
 public:
  explicit ShownFindings(Dialogs& dialogs) : dialogs_(dialogs) {}
  ~ShownFindings() {
    for (const Diagnostic& d : found_) dialogs_.MessageBox(d.text);
  }
  ShownFindings(const ShownFindings&) = delete;
  ShownFindings& operator=(const ShownFindings&) = delete;
  operator Diagnostics&() { return found_; }

 private:
  Dialogs& dialogs_;
  Diagnostics found_;
};

inline ShownFindings Shown(Dialogs& dialogs) { return ShownFindings(dialogs); }

}  // namespace bm::test
