// What a line's worker tells the person in front of the window, and the few answers it gets
// back. The window implements it (CVarnelView); the workflow reports through it and never sees
// the window, the form or another line. Every call may come from any thread and returns once
// the window shows it; a message box blocks its caller until answered.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orbek {

// Message box styles and answers, with the values Windows gives them.
namespace box {
inline constexpr uint32_t kOk = 0x00;
inline constexpr uint32_t kYesNo = 0x04;
inline constexpr uint32_t kIconError = 0x10;
inline constexpr uint32_t kIconQuestion = 0x20;
inline constexpr uint32_t kIconExclamation = 0x30;
inline constexpr uint32_t kIconInformation = 0x40;
// The second button (No) is the default: the answer that is safe when nobody is asked.
inline constexpr uint32_t kDefaultNo = 0x100;
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;
}  // namespace box

// Message boxes and the language: all that the package and the start-up steps below the window
// need of it.
class UserMessages {
 public:
  virtual ~UserMessages() = default;
  virtual int MessageBox(const std::string& text, const std::string& caption, uint32_t style) = 0;
  virtual bool UseGerman() const = 0;
  // The text in the chosen language.
  const char* Text(const char* english, const char* german) const {
    return UseGerman() ? german : english;
  }
};

// The versions a line shows: the stick's firmware, Windows and Mac texts, and whether it is
// ready for an update.
struct LineVersions {
  std::string firmware;
  std::string windows;
  std::string mac;
  bool ready = false;
  // The stick is in its boot loader's download mode: no versions, but UPDATE rescues it.
  bool inDownloadMode = false;
};

// The window operations of a line, addressed by the line's index.
class LineReport : public UserMessages {
 public:
  virtual void SetLineStatus(int line, const std::string& text, bool stamped) = 0;
  virtual void SetLineProgress(int line, int percent) = 0;
  virtual void SetLineState(int line, int state) = 0;
  virtual void ShowLinePort(int line) = 0;
  virtual void ShowLineVersions(int line, const LineVersions& versions) = 0;
  // Log file, state, reset of the stick, release of the line and resume of its search.
  virtual void EndLineOperation(int line, const std::string& text, int outcome) = 0;
  // The line's action log of what it did so far, written now.
  virtual void WriteLineLog(int line) = 0;
  // Where the line looks for its stick: "" at every stick (the one line of the product, where
  // the last enumerated stick wins, until an update holds it to its stick's socket), else the
  // USB location of the stick bound to the line; nothing when no stick is bound to it now.
  virtual std::optional<std::string> StickLocationOf(int line) = 0;
  // What the line's port discovery found: a diagnostic port (0 when it found none) and a modem
  // port, each absent when its number could not be read, and the stick's USB location. The
  // product keeps them where discovery results always go, in the first line's ports; with
  // several lines, each line keeps its own.
  virtual void KeepFoundPorts(int line, std::optional<int32_t> diagPort,
                              std::optional<int32_t> dataPort, const std::string& location) = 0;
  // Asks the window to close (the close question applies).
  virtual void RequestClose() = 0;
  // Ends the program after a successful update; the face decides how.
  virtual void ExitProgram(int status) = 0;
};

}  // namespace orbek
