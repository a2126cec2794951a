#include "shell/core/SkipReason.h"

#include "base/HexText.h"

namespace bm {

std::string SkipReason(const PortTry& tried) {
  if (tried.status != PortTry::Status::Skipped) return {};
  switch (tried.liveness) {
    case Liveness::Alive:
      return {};
    case Liveness::Silent:
      return "no answer to \"?\"";
    case Liveness::WrongAnswer:
      return "wrong answer to \"?\" (" + HexBytes(tried.answer) + " instead of \"KW\")";
    case Liveness::NotOpened:
      break;
  }
  const OpenFailure& f = tried.openFailure;
  switch (f.kind) {
    case OpenFailure::Kind::PermissionDenied:
      if (!f.group.empty())
        return "could not open — permission denied (the device belongs to group '" + f.group +
               "'; join it with: sudo adduser $USER " + f.group + ", then log in again)";
      if (!f.owner.empty())
        return "could not open — permission denied (the device is " + f.owner +
               ", no group to join; a udev rule can give you access, see the README)";
      return "could not open — permission denied";
    case OpenFailure::Kind::Busy:
      return "could not open — busy (held by another program)";
    case OpenFailure::Kind::NoDevice:
      return "could not open — no such device" + (f.detail.empty() ? "" : " (" + f.detail + ")");
    case OpenFailure::Kind::None:
    case OpenFailure::Kind::Other:
      break;
  }
  return "could not open" + (f.detail.empty() ? std::string() : " — " + f.detail);
}

const char* SkipReasonCode(const PortTry& tried) {
  if (tried.status != PortTry::Status::Skipped) return "";
  switch (tried.liveness) {
    case Liveness::Alive:
      return "";
    case Liveness::Silent:
      return "no-answer";
    case Liveness::WrongAnswer:
      return "wrong-answer";
    case Liveness::NotOpened:
      break;
  }
  switch (tried.openFailure.kind) {
    case OpenFailure::Kind::PermissionDenied:
      return "permission-denied";
    case OpenFailure::Kind::Busy:
      return "busy";
    case OpenFailure::Kind::NoDevice:
      return "no-device";
    case OpenFailure::Kind::None:
    case OpenFailure::Kind::Other:
      break;
  }
  return "cannot-open";
}

}  // namespace bm
