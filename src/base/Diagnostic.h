// What a reader or the loading step found besides the image: each finding as a value, with its
// kind, a code a program can act on, and the exact text the window shows in its box.
//
// The readers append to a Diagnostics list and never show anything; the engine tells each one to
// its observers as it is found. The presenter shows each text as a message box, in order; the
// command-line tool takes the kind and the code for its JSON lines and exit status, so no front
// ever reads meaning back out of the wording.
#pragma once

#include <string>
#include <vector>

namespace bm {

enum class DiagnosticKind {
  Error,    // the file, or part of it, cannot be used as it stands
  Warning,  // the image loads and may be programmed; the user should know
};

enum class DiagnosticCode {
  NoFileSpecified,   // an empty path
  OpenFailed,        // the file does not exist or cannot be opened
  ReadFailed,        // a pack whose read stopped short
  OutOfMemory,       // a pack too large to hold, or with a negative parameter length
  NotATextFile,      // the chosen file cannot be opened for reading
  FormatError,       // a HEX record that cannot be read: the reading stopped there
  EndOfFileMissing,  // a HEX file without its end-of-file record
  EepromMissing,     // a project's .eep does not exist: a project without an EEPROM image
  UnknownKind,       // not a file kind the program reads
  Encrypted,         // an encrypted pack (.enc, .encr): never loaded
  UnusableBaudRate,  // the project's BaudRate cannot be used; the rate stays as it was
};

struct Diagnostic {
  DiagnosticKind kind = DiagnosticKind::Error;
  DiagnosticCode code = DiagnosticCode::FormatError;
  std::string text;  // the box's text, exactly as shown

  bool operator==(const Diagnostic&) const = default;
};

using Diagnostics = std::vector<Diagnostic>;

}  // namespace bm
