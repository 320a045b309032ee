#include "mainwindow/events_lines.h"

namespace qmx {

std::vector<EventLine> EventLines::Add(const EventBlock& block) {
  std::vector<EventLine> out;
  out.reserve(block.lines.size());
  for (std::size_t i = 0; i < block.lines.size(); ++i) {
    if (i == block.colourAt && block.colour != TextColour::Unchanged)
      colour_ = block.colour == TextColour::Green ? kGreenRgb : kRedRgb;
    out.push_back({block.lines[i], colour_});
  }
  return out;
}

}  // namespace qmx
