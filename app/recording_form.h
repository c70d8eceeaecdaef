// A form that records every call and answers message boxes from a script: the face of the
// tests (and of anything that wants to watch the view without a window).
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/form.h"

namespace orbek {

class RecordingForm final : public Form {
 public:
  struct Box {
    std::string text;
    std::string caption;
    uint32_t style;
  };

  void SetText(int controlId, const std::string& utf8) override;
  void Enable(int controlId, bool enabled) override;
  void SetProgressRange(int controlId, int low, int high) override;
  void SetProgressPosition(int controlId, int position) override;
  bool SetPicture(int controlId, int bitmapId) override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t style) override;
  void Invalidate() override;
  void RequestClose() override;
  void SetFrameTitle(const std::string& utf8) override;
  void FitFrameToForm() override;

  // What a control shows now ("" when never set), and whether it is enabled (true when never set).
  std::string Text(int controlId) const;
  bool Enabled(int controlId) const;
  int ProgressPosition(int controlId) const;
  std::pair<int, int> ProgressRange(int controlId) const;
  int Picture(int controlId) const;
  std::vector<Box> Boxes() const;
  // Every text a control was given, in order.
  std::vector<std::string> TextHistory(int controlId) const;
  int Invalidations() const;
  int CloseRequests() const;
  std::string FrameTitle() const;
  int FrameFits() const;

  // The answer to the next message box; without one, boxes are answered OK.
  void AnswerNextBox(int answer);
  // Bitmaps that fail to load.
  void FailBitmap(int bitmapId);
  // Told of every picture shown, on the caller's thread, after it is recorded: a watcher can act
  // at the moment a line's state changes. Set it before other threads draw.
  void WatchPictures(std::function<void(int controlId, int bitmapId)> watcher);

 private:
  mutable std::mutex mutex_;
  std::map<int, std::vector<std::string>> texts_;
  std::map<int, bool> enabled_;
  std::map<int, int> positions_;
  std::map<int, std::pair<int, int>> ranges_;
  std::map<int, int> pictures_;
  std::vector<Box> boxes_;
  std::deque<int> answers_;
  std::set<int> failingBitmaps_;
  std::function<void(int controlId, int bitmapId)> pictureWatcher_;
  int invalidations_ = 0;
  int closeRequests_ = 0;
  std::string frameTitle_;
  int frameFits_ = 0;
};

}  // namespace orbek
