// The view logic of the form: which text goes to which control, the language, the enabling
// rules, the message boxes, and the window operations every worker reports through (it is the
// workers' LineReport). It draws through a Form; its operations may be called from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "app/form.h"
#include "app/varnel_doc.h"
#include "line/line_handle.h"
#include "log/action_log.h"
#include "ports/line_binding.h"

namespace orbek {

// The hidden factory controls of the form (the multi-line tool's displays and settings), kept
// as state: the product never draws them.
struct FactoryControls {
  std::array<std::string, kLineCount> dataPortTexts;
  std::string nvDirectoryText;
  std::string defaultNvFileText;
  // The checked button of each radio group, by its value (-1: none checked).
  int nvModeChoice = -1;
  int downloadVariantChoice = -1;
  bool eraseBootChecked = false;
  bool eraseBootEnabled = true;
  std::array<bool, kLineCount> lineFlags{};
};

class CVarnelView : public LineReport {
 public:
  CVarnelView(Form& form, CVarnelDoc& doc, bool useGerman, std::string logDirectory);

  Form& form() { return form_; }
  CVarnelDoc& doc() { return doc_; }
  LineSession& Line(int line) { return doc_.lines[static_cast<size_t>(line)]; }
  // The line as a worker holds it.
  LineHandle Handle(int line) { return LineHandle(Line(line), doc_, *this); }
  bool useGerman() const { return useGerman_; }

  // The line a launch last started (the launch's own record of it).
  std::atomic<int> currentLine{0};
  // The local time of the stamps (replaceable for tests).
  std::function<LocalTime()> now = LocalTimeNow;
  // Ends the program with an exit status once an update has succeeded (the face that runs the
  // view decides how; tests record it).
  std::function<void(int status)> exitProgram = [](int status) { std::exit(status); };

  // With several lines: the line shows a stick ready for its start button (not busy).
  bool LineReady(int line) { return lineReady_[static_cast<size_t>(line)] && Line(line).busy == 0; }

  void ApplyLanguageTexts();
  void EnableLineControls(int line, bool enable);
  // The frame titled "Orbek Updater" and fitted to the form, and the release's versions shown.
  void CompleteForm();

  // The start-up steps on the hidden factory controls.
  void ResetFactoryDataPorts();
  void FillFactoryControls();
  void SetFactoryDefaults();
  void ResetLineFactoryFlags(int line);
  const FactoryControls& factory() const { return factory_; }

  // The dialog choices of the factory tool: a chosen directory becomes every line's NV
  // directory (nothing changes when the dialog was cancelled); a chosen file becomes the
  // default NV file.
  void ChooseNvDirectory(const std::optional<std::string>& chosen);
  void ChooseDefaultNvFile(const std::optional<std::string>& chosen);
  // A radio button of nvMode: the value (0 to 3) for every line.
  void SetNvMode(int value);

  // With several lines: a line's operation passed its checks and starts now. The row's last
  // result goes, and the production log keeps when it started and from which firmware.
  void NoteLineStarted(int line);
  // The passed and failed operations since start, on the form (with `note` after them).
  void ShowTally(const std::string& note = {});
  int passedCount() const { return passed_; }
  int failedCount() const { return failed_; }
  // The production log's path ("factory-log.csv" in the user's data folder; replaceable for
  // tests).
  std::string factoryLogPath;

  // LineReport
  int MessageBox(const std::string& text, const std::string& caption, uint32_t style) override;
  bool UseGerman() const override { return useGerman_; }
  void SetLineStatus(int line, const std::string& text, bool stamped) override;
  void SetLineProgress(int line, int percent) override;
  void SetLineState(int line, int state) override;
  void ShowLinePort(int line) override;
  void ShowLineVersions(int line, const LineVersions& versions) override;
  void EndLineOperation(int line, const std::string& text, int outcome) override;
  void WriteLineLog(int line) override;
  std::optional<std::string> StickLocationOf(int line) override;
  void KeepFoundPorts(int line, std::optional<int32_t> diagPort, std::optional<int32_t> dataPort,
                      const std::string& location) override;
  void RequestClose() override { form_.RequestClose(); }
  void ExitProgram(int status) override { exitProgram(status); }

 private:
  void FinishLineOperation(int line, const std::string& text, int outcome);
  void ShowFactoryLineVersions(int line, const LineVersions& versions);
  void ClearLineResult(int line);
  void RecordFactoryOperation(int line, const std::string& text, int outcome);

  Form& form_;
  CVarnelDoc& doc_;
  const bool useGerman_;
  const std::string logDirectory_;
  FactoryControls factory_;
  std::array<std::atomic<bool>, kLineCount> lineReady_{};
  // With several lines: the row shows the result of the line's last operation (its picture,
  // status and bar) until another stick is in its socket; the stick it is of.
  std::array<std::atomic<bool>, kLineCount> resultShown_{};
  std::array<StickIdentity, kLineCount> resultIdentity_{};
  // When each line's running operation started, and the firmware it found.
  struct LineStart {
    LocalTime time;
    std::string firmware;
  };
  std::array<LineStart, kLineCount> started_{};
  std::atomic<int> passed_{0};
  std::atomic<int> failed_{0};
  // With several lines, which stick each line holds; every line's search brings it up to date.
  std::mutex bindingMutex_;
  LineBinding binding_{kLineCount};
};

}  // namespace orbek
