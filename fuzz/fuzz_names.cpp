// The names file (names.ini), which anyone may have edited: any bytes read
// into names without a crash, every name kept is a line of its own (no line
// break or other control byte, no blanks at its ends) under a MAC in the
// table's form, and the file written from them reads back to the same names.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "link/network_nodes.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto names = qmx::net::ParseNames(text);
  for (const auto& [mac, name] : names) {
    Check(qmx::net::NormalMac(mac) == mac);
    Check(!name.empty() && name.front() != ' ' && name.back() != ' ');
    for (char c : name) Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
  }
  Check(qmx::net::ParseNames(qmx::net::NamesText(names)) == names);
  return 0;
}
