#include "package/image_package.h"

#include <span>

#include "host/connection_manager.h"
#include "line/form_texts.h"
#include "platform/files.h"
#include "platform/resources.h"
#include "platform/text_format.h"
#include "ports/replug_thread.h"

namespace orbek {
namespace {

std::string InstallPath(const char* fileName) {
  return Format("%s\\%s", kInstallDirectory, fileName);
}

void DeleteIfPresent(const char* fileName) {
  std::string path;
  if (FileExistsIn(kInstallDirectory, fileName, path))
    platform::DeleteOneFile(path);
}

}  // namespace

bool ExtractImage(UserMessages& messages, int resourceId, const char* fileName) {
  const platform::ResourceBytes bytes = platform::LoadPackageResource(resourceId);
  const std::string path = InstallPath(fileName);
  const platform::WriteResult result = platform::WriteNewFile(path, bytes.data, bytes.size);
  if (result == platform::WriteResult::Written)
    return true;
  // A file that holds only part of an image must not pass for the image later.
  if (result == platform::WriteResult::WriteFailed)
    platform::DeleteOneFile(path);
  messages.MessageBox(Format("read %s fail!", fileName), kApplicationTitle, box::kOk);
  return false;
}

void ExtractPackage(UserMessages& messages, ConnectionManager& connectionManager) {
  // The last row, ResetUSB.dll, waits until the connection manager has been stopped.
  const std::span<const PackageFile> files(kImagePackage);
  for (const PackageFile& file : files.first(files.size() - 1))
    ExtractImage(messages, file.resourceId, file.fileName);
  connectionManager.FindConnectionManager();
  connectionManager.StopConnectionManager();
  ExtractImage(messages, files.back().resourceId, files.back().fileName);
}

void SetImagePaths(LineSession& line) {
  line.imageDirectory = kInstallDirectory;
  const char* directory = line.imageDirectory.c_str();
  line.partitionPath = Format("%s\\partition.mbn", directory);
  line.qcsblHeaderPath = Format("%s\\qcsblhd_cfgdata.mbn", directory);
  line.qcsblPath = Format("%s\\qcsbl.mbn", directory);
  line.oemsblHeaderPath = Format("%s\\oemsblhd.mbn", directory);
  line.oemsblPath = Format("%s\\oemsbl.mbn", directory);
  line.amssHeaderPath = Format("%s\\amsshd.mbn", directory);
  line.amssPath = Format("%s\\amss.mbn", directory);
  line.efsPath = Format("%s\\efs.mbn", directory);
  line.armprgPath = Format("%s\\armprg.bin", directory);
  line.nandprgHeaderPath = Format("%s\\nandprghd.mbn", directory);
  line.nandprgPath = Format("%s\\nandprgcombined.mbn", directory);
}

bool FileExistsIn(const std::string& directory, const std::string& fileName, std::string& path) {
  const bool driveRoot = directory.size() == 3 && directory[1] == ':';
  path = driveRoot ? directory + fileName : directory + "\\" + fileName;
  return platform::PathExists(path);
}

void DeleteImages() {
  for (const char* name : kDeletedImages)
    DeleteIfPresent(name);
}

void RemovePackage(ReplugThread* replugThread, ConnectionManager& connectionManager) {
  DeleteImages();
  if (replugThread != nullptr) {
    replugThread->Stop();
    replugThread->UnloadLibrary();
  }
  DeleteIfPresent("ResetUSB.dll");
  if (connectionManager.cmPresent())
    connectionManager.RestartConnectionManager();
}

}  // namespace orbek
