// The contrast helpers of widgets/contrast.h for Qt colours.
#pragma once

#include <QColor>
#include <cstdint>

#include "widgets/contrast.h"

namespace qmx {

inline std::uint32_t Rgb(const QColor& c) { return c.rgb() & 0xFFFFFFu; }

inline QColor LiftContrast(const QColor& colour, const QColor& background, double ratio) {
  return QColor::fromRgb(LiftContrast(Rgb(colour), Rgb(background), ratio));
}

inline QColor ShownOn(const QColor& colour, const QColor& background) {
  return QColor::fromRgb(ShownOn(Rgb(colour), Rgb(background)));
}

}  // namespace qmx
