#include "update/version_check.h"

#include "line/form_texts.h"
#include "package/image_set.h"

namespace orbek {
namespace {

bool HasProductTag(const std::string& tag) {
  return tag.find(kProductTag) != std::string::npos;
}

bool HasExcludedTag(const std::string& tag) {
  return tag.find(kExcludedTag) != std::string::npos;
}

void RefuseBoard(const LineHandle& line) {
  line.MessageBox(line.Text("Selected Update Version does not apply to your device!",
                            "Gewählte Software Version stimmt nicht mit dem Gerät überein!"),
                  kApplicationTitle, box::kOk | box::kIconExclamation);
  line.report().RequestClose();
}

}  // namespace

bool CheckBoardTag(const LineHandle& line) {
  const std::string& tag = line.choices().selectedBoardTag;
  if (HasProductTag(tag) && !HasExcludedTag(tag))
    return true;
  RefuseBoard(line);
  return false;
}

void CheckBoardTagTwice(const LineHandle& line) {
  const std::string tag = line.choices().selectedBoardTag;
  if (!HasProductTag(tag))
    RefuseBoard(line);
  if (HasExcludedTag(tag))
    RefuseBoard(line);
}

void SendDownloadCheck(const LineHandle& line) {
  SendVersionRecord(line, {200, 1000});
}

}  // namespace orbek
