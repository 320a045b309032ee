// The Events tab's decisions without its widget: the colour of each line
// the decoder hands over. A colour set by one announcement stays in force
// for the lines after it, until another is set.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/decoder.h"

namespace qmx {

struct EventLine {
  std::string text;
  std::optional<std::uint32_t> rgb;  // none: the view's own text colour
};

class EventLines {
 public:
  // The lines of one block, each with the colour it is written in.
  std::vector<EventLine> Add(const EventBlock& block);
  // A line of the window's own (transmit started or stopped).
  EventLine Add(std::string text) { return {std::move(text), colour_}; }

 private:
  std::optional<std::uint32_t> colour_;
};

}  // namespace qmx
