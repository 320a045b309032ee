#include "link/file_to_write.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

namespace qmx {
namespace {

using Path = Result<std::filesystem::path>;

// As many links as the system itself follows before it gives up.
constexpr int kMaxLinks = 40;

// The temporary file written beside `target` before it is renamed over it.
std::filesystem::path PartFileOf(const std::filesystem::path& target) {
  std::filesystem::path part = target;
  part += ".part";
  return part;
}

// Renames the finished `part` over `target`, with the permissions of the
// file it replaces; the part is removed when that fails.
Done ReplaceWithPart(const std::filesystem::path& part, const std::filesystem::path& target) {
  std::error_code ec;
  const auto old = std::filesystem::status(target, ec);
  if (std::filesystem::is_regular_file(old)) std::filesystem::permissions(part, old.permissions(), ec);
  std::filesystem::rename(part, target, ec);
  if (!ec) return {};
  const std::string why = "cannot write " + target.string() + ": " + ec.message();
  std::filesystem::remove(part, ec);
  return Done::Fail(Status::FileError, why);
}

}  // namespace

Path FileToWrite(const std::filesystem::path& named, const std::filesystem::path& folder) {
  std::filesystem::path target = folder.empty() ? named : folder / named;
  std::error_code ec;
  for (int links = 0;; ++links) {
    const auto status = std::filesystem::symlink_status(target, ec);
    if (!std::filesystem::is_symlink(status)) break;
    if (links == kMaxLinks) return Path::Fail(Status::FileError, named.string() + ": too many levels of links");
    const std::filesystem::path next = std::filesystem::read_symlink(target, ec);
    if (ec) return Path::Fail(Status::FileError, "cannot follow " + target.string() + ": " + ec.message());
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  const auto status = std::filesystem::status(target, ec);
  if (std::filesystem::is_directory(status)) return Path::Fail(Status::FileError, named.string() + " is a folder");
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    return Path::Fail(Status::FileError, named.string() + " is not a regular file");
  const auto parent = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  if (!std::filesystem::is_directory(parent, ec))
    return Path::Fail(Status::FileError, "no folder " + parent.string() + " for " + named.string());
  const std::filesystem::path part = PartFileOf(target);
  std::FILE* probe = std::fopen(part.c_str(), "wb");
  if (probe == nullptr)
    return Path::Fail(Status::FileError, "cannot create " + named.string() + ": " + std::strerror(errno));
  std::fclose(probe);
  std::filesystem::remove(part, ec);
  return target;
}

Done WriteFileReplacing(const std::filesystem::path& named, std::string_view bytes,
                        const std::filesystem::path& folder) {
  const Path target = FileToWrite(named, folder);
  if (!target) return Done::From(target);
  const std::filesystem::path part = PartFileOf(*target);
  std::FILE* out = std::fopen(part.c_str(), "wb");
  if (out == nullptr)
    return Done::Fail(Status::FileError, "cannot create " + named.string() + ": " + std::strerror(errno));
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  int reason = errno;
  if (std::fclose(out) != 0 && written) {
    written = false;
    reason = errno;
  }
  if (!written) {
    std::error_code ec;
    std::filesystem::remove(part, ec);
    return Done::Fail(Status::FileError, "cannot write " + named.string() + ": " + std::strerror(reason));
  }
  return ReplaceWithPart(part, *target);
}

}  // namespace qmx
