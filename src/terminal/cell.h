// Colours, pens and cells: the packed words every other file of the
// terminal works with. A cell is three u32 words (12 bytes) so that a row
// of ordinary text is one flat array; the rare extras (combining text,
// underline style and colour, hyperlink) live in per-line maps.
#pragma once

#include <cstdint>
#include <string>

namespace mossbank::term {

// Colour: low 26 bits of a pen word. Bits 24-25 are the kind.
inline constexpr uint32_t kColourMask = 0x03FFFFFF;
inline constexpr uint32_t kColourKindShift = 24;
inline constexpr uint32_t kColourDefault = 0;
inline constexpr uint32_t kColourPalette = 1;  // 0-15
inline constexpr uint32_t kColourIndexed = 2;  // 256-colour index
inline constexpr uint32_t kColourRgb = 3;

constexpr uint32_t colour_kind(uint32_t word) { return (word >> kColourKindShift) & 3; }
constexpr uint32_t colour_palette(uint32_t i) {
  return kColourPalette << kColourKindShift | (i & 0xFF);
}
constexpr uint32_t colour_indexed(uint32_t i) {
  return kColourIndexed << kColourKindShift | (i & 0xFF);
}
constexpr uint32_t colour_rgb(uint32_t r, uint32_t g, uint32_t b) {
  return kColourRgb << kColourKindShift | (r & 0xFF) << 16 | (g & 0xFF) << 8 | (b & 0xFF);
}

// Foreground word attribute bits.
inline constexpr uint32_t kInverse = 1u << 26;
inline constexpr uint32_t kBold = 1u << 27;
inline constexpr uint32_t kUnderline = 1u << 28;
inline constexpr uint32_t kBlink = 1u << 29;
inline constexpr uint32_t kHidden = 1u << 30;
inline constexpr uint32_t kStrike = 1u << 31;
// Background word attribute bits.
inline constexpr uint32_t kItalic = 1u << 26;
inline constexpr uint32_t kDim = 1u << 27;
inline constexpr uint32_t kHasExtras = 1u << 28;
inline constexpr uint32_t kProtected = 1u << 29;
inline constexpr uint32_t kOverline = 1u << 30;
// Underline word: colour in bits 0-25, style in 26-28.
inline constexpr uint32_t kUnderlineStyleShift = 26;
inline constexpr uint32_t kUnderlineStyleMask = 7u << kUnderlineStyleShift;

constexpr uint32_t underline_style(uint32_t ul_word) {
  return (ul_word >> kUnderlineStyleShift) & 7;
}

// The drawing attributes, in the order of their words.
struct Pen {
  uint32_t underline = 0;
  uint32_t link = 0;
  uint32_t fg = 0;
  uint32_t bg = 0;

  bool has_extras() const { return (bg & kHasExtras) != 0; }
  friend bool operator==(const Pen&, const Pen&) = default;
};

// Word 0 of a cell: code point, has-extra-text bit, width.
inline constexpr uint32_t kCodePointMask = 0x1FFFFF;
inline constexpr uint32_t kHasText = 1u << 21;
inline constexpr uint32_t kWidthShift = 22;
inline constexpr uint32_t kWidthMask = 3u << kWidthShift;

constexpr uint32_t pack_word0(uint32_t cp, uint32_t width) { return cp | width << kWidthShift; }

struct Cell {
  uint32_t word0 = 1u << kWidthShift;  // empty, width 1
  uint32_t fg = 0;
  uint32_t bg = 0;

  uint32_t code_point() const { return word0 & kCodePointMask; }
  uint32_t width() const { return (word0 >> kWidthShift) & 3; }
  bool has_text() const { return (word0 & kHasText) != 0; }
  // Something is drawn here: a code point or combining text.
  bool has_content() const { return (word0 & (kCodePointMask | kHasText)) != 0; }
  bool is_default_blank() const { return word0 == (1u << kWidthShift) && fg == 0 && bg == 0; }
  bool is_wide() const { return width() == 2; }
  bool is_spacer() const { return width() == 0; }
  friend bool operator==(const Cell&, const Cell&) = default;
};
static_assert(sizeof(Cell) == 12);

inline constexpr Cell kBlankCell{};

// A cell with its side data lifted out, for copying between lines and for
// the serialiser.
struct StyledCell {
  std::string text;        // extra text, or empty
  uint32_t underline = 0;  // underline word
  uint32_t link = 0;
  uint32_t fg = 0;
  uint32_t bg = 0;
  uint32_t word0 = 1u << kWidthShift;

  Cell cell() const { return Cell{word0, fg, bg}; }
  Pen pen() const { return Pen{underline, link, fg, bg}; }
};

}  // namespace mossbank::term
