#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/files.h"
#include "platform/paths.h"

namespace orbek::platform {

std::string NativePath(const std::string& path) {
  std::string native;
  size_t start = 0;
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    native = OrbekRoot() + "/drive_" +
             static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    start = 2;
  }
  for (size_t i = start; i < path.size(); ++i)
    native += path[i] == '\\' ? '/' : path[i];
  return native;
}

std::string DisplayPath(const std::string& path) {
  std::string shown;
  for (char c : NativePath(path)) {
    if (c != '/' || shown.empty() || shown.back() != '/')
      shown += c;
  }
  return shown;
}

std::string CurrentDirectory() {
  char buffer[4096];
  return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string(".");
}

std::string ExecutableDirectory() {
  char buffer[4096];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0)
    return CurrentDirectory() + "/";
  std::string path(buffer, static_cast<size_t>(length));
  return path.substr(0, path.rfind('/') + 1);
}

bool PathExists(const std::string& path) {
  struct stat info {};
  return stat(NativePath(path).c_str(), &info) == 0;
}

std::optional<uint64_t> RegularFileSize(const std::string& path) {
  struct stat info {};
  if (stat(NativePath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return std::nullopt;
  return static_cast<uint64_t>(info.st_size);
}

bool CreateOneDirectory(const std::string& path) {
  // A drive belongs to the machine: its root under $ORBEK_ROOT is there for whoever needs it,
  // and so is the root itself on a fresh account (~/.local/share/orbek-updater).
  if (path.size() >= 3 && path[1] == ':') {
    std::error_code ignored;
    std::filesystem::create_directories(OrbekRoot(), ignored);
    mkdir(NativePath(path.substr(0, 2)).c_str(), 0777);
  }
  return mkdir(NativePath(path).c_str(), 0777) == 0;
}

bool CreateDirectories(const std::string& path) {
  std::error_code error;
  const std::filesystem::path native = NativePath(path);
  std::filesystem::create_directories(native, error);
  return std::filesystem::is_directory(native, error);
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty() || directory.back() == '/' || directory.back() == '\\')
    return directory + name;
  return directory + "/" + name;
}

std::string UserDataDirectory() {
  return OrbekRoot();
}

bool DirectoryWritable(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const std::string probe =
      JoinPath(NativePath(path),
               ".orbek-write-check-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0)
    return false;
  close(fd);
  unlink(probe.c_str());
  return true;
}

PathKind KindOfPath(const std::string& path) {
  struct stat info {};
  if (stat(NativePath(path).c_str(), &info) != 0)
    return errno == ENOENT ? PathKind::Missing : PathKind::Other;
  if (S_ISREG(info.st_mode))
    return PathKind::RegularFile;
  return S_ISDIR(info.st_mode) ? PathKind::Directory : PathKind::Other;
}

std::optional<RegularFileBytes> ReadRegularFile(const std::string& path, uint64_t maxBytes) {
  // Non-blocking, so that a pipe without a writer is refused instead of waited for.
  const int fd = open(NativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return std::nullopt;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return std::nullopt;
  }
  RegularFileBytes file;
  file.size = static_cast<uint64_t>(info.st_size);
  if (file.size <= maxBytes) {
    file.bytes.resize(static_cast<size_t>(file.size));
    size_t got = 0;
    while (got < file.bytes.size()) {
      const ssize_t read = ::read(fd, file.bytes.data() + got, file.bytes.size() - got);
      if (read < 0 && errno == EINTR)
        continue;
      if (read <= 0)
        break;
      got += static_cast<size_t>(read);
    }
    file.bytes.resize(got);  // cut short meanwhile: what was read
    file.size = got;
  }
  close(fd);
  return file;
}

namespace {

int CauseOf(int error) {
  switch (error) {
    case ENOENT:
      return kCauseFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
      return kCauseBadPath;
    case EMFILE:
    case ENFILE:
      return kCauseTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return kCauseAccessDenied;
    case ETXTBSY:
      return kCauseSharingViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kCauseDiskFull;
    default:
      return kCauseGeneric;
  }
}

void SetCause(int* cause, int error) {
  if (cause != nullptr)
    *cause = CauseOf(error);
}

}  // namespace

WriteResult WriteNewFile(const std::string& path, const void* data, size_t size,
                         WriteOptions options) {
  const int flags = options.exclusive ? O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC
                                      : O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
  const int fd = open(NativePath(path).c_str(), flags, 0666);
  if (fd < 0) {
    SetCause(options.cause, errno);
    return WriteResult::OpenFailed;
  }
  // One write; the kernel may take a large buffer in parts, so the rest follows until done.
  const char* next = static_cast<const char*>(data);
  size_t left = size;
  bool complete = true;
  while (left > 0) {
    const ssize_t written = write(fd, next, left);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0) {
      SetCause(options.cause, written == 0 ? ENOSPC : errno);
      complete = false;
      break;
    }
    next += written;
    left -= static_cast<size_t>(written);
  }
  if (complete && options.flush && fsync(fd) != 0) {
    SetCause(options.cause, errno);
    complete = false;
  }
  if (close(fd) != 0 && complete) {
    SetCause(options.cause, errno);
    complete = false;
  }
  return complete ? WriteResult::Written : WriteResult::WriteFailed;
}

bool TouchFile(const std::string& path) {
  // Non-blocking: a pipe without a reader fails at once instead of waiting for one.
  const int fd = open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0)
    return false;
  struct stat info {};
  const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  return close(fd) == 0 && regular;
}

bool AppendToFile(const std::string& path, const std::string& text) {
  const int fd =
      open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0)
    return false;
  struct stat info {};
  ssize_t written = -1;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    do {
      written = write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
  }
  const bool closed = close(fd) == 0;
  return closed && written == static_cast<ssize_t>(text.size());
}

bool DeleteOneFile(const std::string& path) {
  return unlink(NativePath(path).c_str()) == 0;
}

bool ReplaceFileWith(const std::string& target, const std::string& source, int* cause) {
  const std::string native = NativePath(target);
  if (std::rename(NativePath(source).c_str(), native.c_str()) != 0) {
    SetCause(cause, errno);
    return false;
  }
  // The rename itself reaches the disk only with its directory.
  const std::string directory = std::filesystem::path(native).parent_path().string();
  const int fd =
      open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
  return true;
}

}  // namespace orbek::platform
