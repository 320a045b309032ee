// Text in a monospaced font, drawn fast for the received view.
//
// MonoGlyphs draws ASCII text as one glyph run from a table of glyph
// indexes: no shaping, no layout.
//
// GlyphCells goes further for text that repeats: each short word (a hex
// byte, an address, a link quality) is drawn once per position within a
// pixel into a small opaque image of its own, on the view's background, and
// from then on copied line by line into the row. A copy costs a fraction of
// blending the glyphs again, and gives the same pixels: the word is drawn by
// the same glyph run at the same fraction of a pixel. Words are at least one
// space apart, so no word's ink reaches another word's image. A cell keeps
// one byte a pixel, an index into the few colours that text of one colour
// on one background takes.
#pragma once

#include <QColor>
#include <QImage>
#include <QRawFont>
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class QPainter;
class QPointF;

namespace qmx {

struct MonoGlyphs {
  QRawFont font;
  std::array<quint32, 128> index{};  // 0: not in the table
  qreal advance = 0;                 // every character's width
  qreal baseline = 0;                // below the top of a row

  // Every character of the text has a glyph.
  bool Covers(std::string_view text) const;
  // Draws the text with its first character's origin at (x, top + baseline);
  // false, drawing nothing, when a character has no glyph.
  bool Draw(QPainter& painter, qreal x, qreal top, std::string_view text) const;
};

class GlyphCells {
 public:
  // Which rows are drawn from cells: rows of hex bytes one space apart, or
  // rows of one short word (addresses, link qualities).
  enum class Words { HexBytes, OneShortWord };
  static constexpr std::size_t kShortWord = 7;
  // Past this many cells (a few hundred bytes each) the cache starts again.
  static constexpr std::size_t kMaxCells = 8192;

  explicit GlyphCells(Words words) : words_(words) {}

  // The glyphs and row height the cells are drawn with; forgets the cells
  // drawn before.
  void SetGlyphs(const MonoGlyphs& glyphs, int rowHeight);
  // The colours of the text and its background; the cells drawn before are
  // forgotten when they change.
  void SetColours(QColor text, QColor background);
  // Copies the row's words into `canvas` (Format_RGB32, already showing the
  // background), the text starting at x (whole pixels) on a row whose top is
  // at `top`, clipped to `clip`. False, copying nothing, for a row these
  // cells do not draw.
  bool Draw(QImage& canvas, int x, int top, const QRect& clip, std::string_view text);
  // How many colours the cells may take (at most 256, the default); a word
  // that needs more is left to the painter.
  void LimitColours(std::size_t colours) {
    colourLimit_ = std::min<std::size_t>(colours, 256);
    Forget();
  }
  // Whether Draw() draws this row (it may still refuse it when the row's
  // colours do not fit in the table).
  bool Drawable(std::string_view text) const;

 private:
  struct Cell {
    std::vector<std::uint8_t> pixels;  // indexes into colours_, row by row
    int width = 0;
    int left = 0;  // from the whole pixel left of the word's origin
  };
  struct Placed {
    const Cell* cell;
    int x;
  };
  // Up to seven characters and the sixty-fourths, one byte each.
  static std::uint64_t Key(std::string_view word, int sixtyFourths);
  // Null when the word's colours do not fit in the table.
  const Cell* CellFor(std::string_view word, int sixtyFourths);
  void Copy(QImage& canvas, const Cell& cell, int x, int top, const QRect& clip) const;
  void Forget();

  Words words_;
  MonoGlyphs glyphs_;
  QColor text_, background_;
  int rowHeight_ = 0;
  std::unordered_map<std::uint64_t, Cell> cells_;
  std::vector<quint32> colours_;  // at most colourLimit_
  std::size_t colourLimit_ = 256;
  std::unordered_map<quint32, std::uint8_t> colourIndex_;
  QImage scratch_;               // where a new cell is drawn
  std::vector<Placed> placed_;  // the cells of the row being drawn
};

}  // namespace qmx
