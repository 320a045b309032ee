#include "link/workdir.h"

namespace qmx {

WorkDir::WorkDir(std::filesystem::path dir) : dir_(std::move(dir)) {}

std::filesystem::path WorkDir::File(std::string_view name) const {
  std::lock_guard lock(mutex_);
  return dir_ / std::filesystem::path(name);
}

std::filesystem::path WorkDir::Dir() const {
  std::lock_guard lock(mutex_);
  return dir_;
}

void WorkDir::SetDir(std::filesystem::path dir) {
  std::lock_guard lock(mutex_);
  dir_ = std::move(dir);
}

}  // namespace qmx
