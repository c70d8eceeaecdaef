#include "app/recording_form.h"

#include <utility>

namespace orbek {

void RecordingForm::SetText(int controlId, const std::string& utf8) {
  std::lock_guard<std::mutex> hold(mutex_);
  texts_[controlId].push_back(utf8);
}

void RecordingForm::Enable(int controlId, bool enabled) {
  std::lock_guard<std::mutex> hold(mutex_);
  enabled_[controlId] = enabled;
}

void RecordingForm::SetProgressRange(int controlId, int low, int high) {
  std::lock_guard<std::mutex> hold(mutex_);
  ranges_[controlId] = {low, high};
}

void RecordingForm::SetProgressPosition(int controlId, int position) {
  std::lock_guard<std::mutex> hold(mutex_);
  positions_[controlId] = position;
}

bool RecordingForm::SetPicture(int controlId, int bitmapId) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (failingBitmaps_.count(bitmapId) != 0)
      return false;
    pictures_[controlId] = bitmapId;
  }
  if (pictureWatcher_)
    pictureWatcher_(controlId, bitmapId);
  return true;
}

void RecordingForm::WatchPictures(std::function<void(int controlId, int bitmapId)> watcher) {
  pictureWatcher_ = std::move(watcher);
}

int RecordingForm::MessageBox(const std::string& text, const std::string& caption, uint32_t style) {
  std::lock_guard<std::mutex> hold(mutex_);
  boxes_.push_back({text, caption, style});
  if (answers_.empty())
    return box::kAnswerOk;
  int answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void RecordingForm::Invalidate() {
  std::lock_guard<std::mutex> hold(mutex_);
  ++invalidations_;
}

void RecordingForm::RequestClose() {
  std::lock_guard<std::mutex> hold(mutex_);
  ++closeRequests_;
}

std::string RecordingForm::Text(int controlId) const {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = texts_.find(controlId);
  return found == texts_.end() || found->second.empty() ? std::string() : found->second.back();
}

bool RecordingForm::Enabled(int controlId) const {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = enabled_.find(controlId);
  return found == enabled_.end() || found->second;
}

int RecordingForm::ProgressPosition(int controlId) const {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = positions_.find(controlId);
  return found == positions_.end() ? 0 : found->second;
}

std::pair<int, int> RecordingForm::ProgressRange(int controlId) const {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = ranges_.find(controlId);
  return found == ranges_.end() ? std::pair<int, int>{0, 0} : found->second;
}

int RecordingForm::Picture(int controlId) const {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = pictures_.find(controlId);
  return found == pictures_.end() ? 0 : found->second;
}

std::vector<RecordingForm::Box> RecordingForm::Boxes() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return boxes_;
}

std::vector<std::string> RecordingForm::TextHistory(int controlId) const {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = texts_.find(controlId);
  return found == texts_.end() ? std::vector<std::string>{} : found->second;
}

int RecordingForm::Invalidations() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return invalidations_;
}

int RecordingForm::CloseRequests() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return closeRequests_;
}

void RecordingForm::AnswerNextBox(int answer) {
  std::lock_guard<std::mutex> hold(mutex_);
  answers_.push_back(answer);
}

void RecordingForm::FailBitmap(int bitmapId) {
  std::lock_guard<std::mutex> hold(mutex_);
  failingBitmaps_.insert(bitmapId);
}

void RecordingForm::SetFrameTitle(const std::string& utf8) {
  std::lock_guard<std::mutex> hold(mutex_);
  frameTitle_ = utf8;
}

void RecordingForm::FitFrameToForm() {
  std::lock_guard<std::mutex> hold(mutex_);
  ++frameFits_;
}

std::string RecordingForm::FrameTitle() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return frameTitle_;
}

int RecordingForm::FrameFits() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return frameFits_;
}

}  // namespace orbek
