// The package the updater carries: every file is a resource of the program, written out into
// the install directory at start, opened from there by path, and deleted again after a
// successful update or at the end.
#pragma once

#include <array>
#include <string>

#include "line/line_report.h"
#include "line/line_session.h"

namespace orbek {

class ConnectionManager;
class ReplugThread;

inline constexpr const char* kInstallDirectory =
    "C:\\Program Files\\Windows Service\\Tazlonewversion";

struct PackageFile {
  int resourceId;
  const char* fileName;
};

// The extraction order of start-up; ResetUSB.dll comes last, after the connection manager has
// been stopped.
inline constexpr std::array<PackageFile, 14> kImagePackage = {{{164, "amss.mbn"},
                                                               {169, "partition.mbn"},
                                                               {171, "qcsblhd_cfgdata.mbn"},
                                                               {172, "qcsbl.mbn"},
                                                               {167, "oemsblhd.mbn"},
                                                               {168, "oemsbl.mbn"},
                                                               {163, "amsshd.mbn"},
                                                               {166, "efs.mbn"},
                                                               {165, "armprg.bin"},
                                                               {179, "nandprghd.mbn"},
                                                               {180, "nandprgcombined.mbn"},
                                                               {181, "NVApp.ini"},
                                                               {185, "killsvr.bat"},
                                                               {173, "ResetUSB.dll"}}};

// The large images: deleted after a successful update. The programmers, NVApp.ini, the scripts
// and ResetUSB.dll stay.
inline constexpr std::array<const char*, 9> kDeletedImages = {
    "amss.mbn",   "armprg.bin", "partition.mbn", "qcsblhd_cfgdata.mbn", "qcsbl.mbn", "oemsblhd.mbn",
    "oemsbl.mbn", "amsshd.mbn", "efs.mbn"};

// Writes resource `resourceId` to `fileName` in the install directory, replacing what is there.
// A missing resource writes an empty file. When the file cannot be created, or not every byte
// could be written (a partial file is deleted again), a box shows "read <fileName> fail!" and
// the result is false.
bool ExtractImage(UserMessages& messages, int resourceId, const char* fileName);

// The start-up extraction: the thirteen files, then the connection manager's lookup and stop
// (which runs killsvr.bat), then ResetUSB.dll. Each step runs whatever the previous one gave.
void ExtractPackage(UserMessages& messages, ConnectionManager& connectionManager);

// Fills the line's image directory and the paths of its image files.
void SetImagePaths(LineSession& line);

// Joins `directory` and `fileName` into `path` (a drive root such as "C:\" takes the name
// directly) and tells whether something of that name exists.
bool FileExistsIn(const std::string& directory, const std::string& fileName, std::string& path);

// Deletes the nine large images from the install directory; failures are silent.
void DeleteImages();

// The clean-up at the end: the image deletions, the re-plug library unloaded (its thread is
// stopped first) and ResetUSB.dll deleted, then the connection manager restarted if it was
// found at start.
void RemovePackage(ReplugThread* replugThread, ConnectionManager& connectionManager);

}  // namespace orbek
