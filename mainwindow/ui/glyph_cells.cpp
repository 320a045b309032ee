#include "mainwindow/ui/glyph_cells.h"

#include <QGlyphRun>
#include <QPainter>
#include <algorithm>
#include <cctype>
#include <cmath>

namespace qmx {

bool MonoGlyphs::Covers(std::string_view text) const {
  return std::all_of(text.begin(), text.end(), [this](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < index.size() && index[u] != 0;
  });
}

bool MonoGlyphs::Draw(QPainter& painter, qreal x, qreal top, std::string_view text) const {
  if (!Covers(text)) return false;
  if (text.empty()) return true;
  const auto n = static_cast<qsizetype>(text.size());
  QList<quint32> indexes(n);
  QList<QPointF> positions(n);
  for (qsizetype i = 0; i < n; ++i) {
    indexes[i] = index[static_cast<unsigned char>(text[static_cast<std::size_t>(i)])];
    positions[i] = QPointF(x + advance * static_cast<qreal>(i), top + baseline);
  }
  QGlyphRun run;
  run.setRawFont(font);
  run.setGlyphIndexes(indexes);
  run.setPositions(positions);
  painter.drawGlyphRun(QPointF(0, 0), run);
  return true;
}

void GlyphCells::SetGlyphs(const MonoGlyphs& glyphs, int rowHeight) {
  glyphs_ = glyphs;
  rowHeight_ = rowHeight;
  Forget();
}

void GlyphCells::SetColours(QColor text, QColor background) {
  if (text == text_ && background == background_) return;
  text_ = text;
  background_ = background;
  Forget();
}

void GlyphCells::Forget() {
  cells_.clear();
  colours_.clear();
  colourIndex_.clear();
}

bool GlyphCells::Drawable(std::string_view text) const {
  if (glyphs_.advance <= 0 || !glyphs_.font.isValid()) return false;
  if (words_ == Words::OneShortWord)
    return text.size() <= kShortWord && text.find(' ') == std::string_view::npos && glyphs_.Covers(text);
  // "XX XX XX", maybe with a space after the last byte.
  if (text.size() % 3 == 1) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i % 3 == 2 ? text[i] != ' ' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return glyphs_.Covers(text);
}

std::uint64_t GlyphCells::Key(std::string_view word, int sixtyFourths) {
  std::uint64_t key = static_cast<std::uint64_t>(sixtyFourths);
  for (char c : word) key = key << 8 | static_cast<unsigned char>(c);
  return key;
}

const GlyphCells::Cell* GlyphCells::CellFor(std::string_view word, int sixtyFourths) {
  const std::uint64_t key = Key(word, sixtyFourths);
  if (auto found = cells_.find(key); found != cells_.end()) return &found->second;
  // A pixel of room on either side for ink past the glyphs' boxes.
  constexpr int kPad = 1;
  const qreal origin = kPad + sixtyFourths / 64.0;
  const int width = static_cast<int>(std::ceil(origin + glyphs_.advance * static_cast<qreal>(word.size()))) + kPad + 1;
  if (scratch_.width() < width || scratch_.height() != rowHeight_)
    scratch_ = QImage(std::max(width, scratch_.width()), rowHeight_, QImage::Format_RGB32);
  scratch_.fill(background_);
  QPainter painter(&scratch_);
  painter.setPen(text_);
  glyphs_.Draw(painter, origin, 0, word);
  painter.end();
  Cell cell;
  cell.left = -kPad;
  cell.width = width;
  cell.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(rowHeight_));
  auto out = cell.pixels.begin();
  for (int y = 0; y < rowHeight_; ++y) {
    const auto* line = reinterpret_cast<const quint32*>(scratch_.constScanLine(y));
    for (int x = 0; x < width; ++x) {
      auto [at, added] = colourIndex_.try_emplace(line[x], static_cast<std::uint8_t>(colours_.size()));
      if (added) {
        if (colours_.size() == colourLimit_) {
          colourIndex_.erase(at);
          return nullptr;
        }
        colours_.push_back(line[x]);
      }
      *out++ = at->second;
    }
  }
  return &cells_.emplace(key, std::move(cell)).first->second;
}

void GlyphCells::Copy(QImage& canvas, const Cell& cell, int x, int top, const QRect& clip) const {
  const QRect target = QRect(x + cell.left, top, cell.width, rowHeight_) & clip & canvas.rect();
  if (target.isEmpty()) return;
  const int width = target.width();
  const auto stride = canvas.bytesPerLine() / 4;
  // bits(), not scanLine(): one check for sharing per cell, not per line.
  auto* to = reinterpret_cast<quint32*>(canvas.bits()) + target.top() * stride + target.left();
  const std::uint8_t* from = cell.pixels.data() + (target.top() - top) * cell.width + (target.left() - (x + cell.left));
  const quint32* colour = colours_.data();
  for (int y = target.top(); y <= target.bottom(); ++y, to += stride, from += cell.width)
    for (int i = 0; i < width; ++i) to[i] = colour[from[i]];
}

bool GlyphCells::Draw(QImage& canvas, int x, int top, const QRect& clip, std::string_view text) {
  if (!Drawable(text)) return false;
  const bool bytes = words_ == Words::HexBytes;
  const std::size_t step = bytes ? 3 : text.size() + 1;
  // The row's cells are all found before any is copied: a word that cannot
  // have one leaves the whole row to the painter. A full cache starts again
  // before the row, never in its middle.
  if (cells_.size() + text.size() / step + 1 > kMaxCells) cells_.clear();
  placed_.clear();
  for (std::size_t at = 0; at < text.size(); at += step) {
    const std::string_view word = text.substr(at, bytes ? 2 : text.size());
    // The word's origin, as the glyph run places it: whole pixels and
    // sixty-fourths of a pixel.
    const qreal origin = glyphs_.advance * static_cast<qreal>(at);
    int whole = static_cast<int>(std::floor(origin));
    int sixtyFourths = static_cast<int>((origin - whole) * 64 + 0.5);
    if (sixtyFourths == 64) {
      ++whole;
      sixtyFourths = 0;
    }
    const Cell* cell = CellFor(word, sixtyFourths);
    if (cell == nullptr) return false;
    placed_.push_back({cell, x + whole});
  }
  for (const Placed& p : placed_) Copy(canvas, *p.cell, p.x, top, clip);
  return true;
}

}  // namespace qmx
