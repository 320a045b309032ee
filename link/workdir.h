// The one directory that every file the program reads or writes lives in
// (logs, settings, backups). Tests point it at a temporary directory.
#pragma once

#include <filesystem>
#include <mutex>
#include <string_view>

namespace qmx {

class WorkDir {
 public:
  explicit WorkDir(std::filesystem::path dir = std::filesystem::current_path());
  std::filesystem::path File(std::string_view name) const;
  std::filesystem::path Dir() const;
  void SetDir(std::filesystem::path dir);

 private:
  mutable std::mutex mutex_;
  std::filesystem::path dir_;
};

}  // namespace qmx
