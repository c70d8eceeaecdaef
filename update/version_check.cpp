#include "update/version_check.h"

#include "app/form_texts.h"
#include "package/image_set.h"

namespace orbek {
namespace {

bool HasProductTag(const std::string& tag) {
  return tag.find(kProductTag) != std::string::npos;
}

bool HasExcludedTag(const std::string& tag) {
  return tag.find(kExcludedTag) != std::string::npos;
}

void RefuseBoard(CVarnelView& view) {
  view.form().MessageBox(view.Text("Selected Update Version does not apply to your device!",
                                   "Gewählte Software Version stimmt nicht mit dem Gerät überein!"),
                         kApplicationTitle, box::kOk | box::kIconExclamation);
  view.form().RequestClose();
}

}  // namespace

bool CheckBoardTag(CVarnelView& view) {
  const std::string& tag = view.doc().selectedBoardTag;
  if (HasProductTag(tag) && !HasExcludedTag(tag))
    return true;
  RefuseBoard(view);
  return false;
}

void CheckBoardTagTwice(CVarnelView& view) {
  const std::string tag = view.doc().selectedBoardTag;
  if (!HasProductTag(tag))
    RefuseBoard(view);
  if (HasExcludedTag(tag))
    RefuseBoard(view);
}

void SendDownloadCheck(CVarnelView& view, int line) {
  SendVersionRecord(view, line, {200, 1000});
}

}  // namespace orbek
