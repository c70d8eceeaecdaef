#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/paths.h"
#include "platform/single_instance.h"

namespace orbek::platform {
namespace {

// A lock on a file of the machine's root; the system releases it when the process ends.
class LockFileInstance final : public NamedInstance {
 public:
  explicit LockFileInstance(int fd) : fd_(fd) {}
  ~LockFileInstance() override { close(fd_); }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<NamedInstance> NamedInstance::Take(const std::string& name, bool& alreadyTaken) {
  alreadyTaken = false;
  const std::string path = OrbekRoot() + "/" + name + ".lock";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0)
    return nullptr;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    alreadyTaken = errno == EWOULDBLOCK;
  return std::make_unique<LockFileInstance>(fd);
}

}  // namespace orbek::platform
