// A file the user named, to be written (a saved image, a profile). The name
// may be a symbolic link: the bytes go to the file it leads to, and the link
// stays. The new contents are written to a temporary file beside that file
// and renamed over it only when all of them were written, so a failure
// leaves an existing file as it was.
#pragma once

#include <filesystem>
#include <string_view>

#include "link/result.h"

namespace qmx {

// The file that writing `named` replaces, its links followed; FileError with
// the reason, before anything is written, when that is a folder or exists
// and is not a regular file (a pipe, a device, a socket), when its folder is
// missing, or when no file can be created beside it (tried, and removed
// again). A relative name is taken in `folder` (the current one when empty);
// messages give the name as it was given.
Result<std::filesystem::path> FileToWrite(const std::filesystem::path& named, const std::filesystem::path& folder = {});

// The whole of `bytes` into the file `named` (in `folder`), as above.
Done WriteFileReplacing(const std::filesystem::path& named, std::string_view bytes,
                        const std::filesystem::path& folder = {});

}  // namespace qmx
