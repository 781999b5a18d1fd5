// Names for the controls, the ESC and CSI sequences and the modes that the
// terminal carries out, spelled as the VT and xterm manuals spell them. A
// sequence's key is final | intermediates << 8, the key the parser
// dispatches on; a private marker such as '?' or '>' counts as an
// intermediate, so CSI ? 1 $ p has the key '?' << 16 | '$' << 8 | 'p'.
#pragma once

#include <cstdint>

namespace mossbank::term {

constexpr uint32_t seq_key(char final_byte, uint32_t intermediates = 0) {
  return static_cast<uint8_t>(final_byte) | intermediates << 8;
}

// C0 and C1 control characters.
namespace ctl {
enum : uint32_t {
  BEL = 0x07,
  BS = 0x08,
  HT = 0x09,
  LF = 0x0A,
  VT = 0x0B,
  FF = 0x0C,
  CR = 0x0D,
  SO = 0x0E,
  SI = 0x0F,
  CAN = 0x18,
  SUB = 0x1A,
  ESC = 0x1B,
  DEL = 0x7F,
  IND = 0x84,
  NEL = 0x85,
  HTS = 0x88,
};
}  // namespace ctl

// The C1 controls, U+0080 to U+009F.
constexpr bool is_c1(uint32_t cp) { return cp >= 0x80 && cp <= 0x9F; }
// Space to '~'.
constexpr bool is_printable_ascii(uint32_t c) { return c >= ' ' && c < ctl::DEL; }

// ESC sequences with a fixed key. The character-set designations (ESC ( F
// and its kin) are keyed by their intermediate instead: see esc_dispatch.
namespace esc {
enum : uint32_t {
  DECSC = seq_key('7'),    // save cursor
  DECRC = seq_key('8'),    // restore cursor
  DECKPAM = seq_key('='),  // keypad application mode
  DECKPNM = seq_key('>'),  // keypad numeric mode
  IND = seq_key('D'),      // index
  NEL = seq_key('E'),      // next line
  HTS = seq_key('H'),      // tab stop here
  RI = seq_key('M'),       // reverse index
  RIS = seq_key('c'),      // full reset
  LS2 = seq_key('n'),
  LS3 = seq_key('o'),
  LS1R = seq_key('~'),
  LS2R = seq_key('}'),
  LS3R = seq_key('|'),
  DECALN = seq_key('8', '#'),  // screen alignment test
  DOCS_DEFAULT = seq_key('@', '%'),
  DOCS_UTF8 = seq_key('G', '%'),
};
}  // namespace esc

// The intermediates of ESC I F, designating the character set F.
namespace designate {
enum : uint32_t {
  G0 = '(',
  G1 = ')',
  G1_96 = '-',
  G2 = '*',
  G2_96 = '.',
  G3 = '+',
};
}  // namespace designate

namespace csi {
inline constexpr uint32_t kPrivate = '?';
inline constexpr uint32_t kGreater = '>';

enum : uint32_t {
  ICH = seq_key('@'),               // insert characters
  CUU = seq_key('A'),               // cursor up
  CUD = seq_key('B'),               // cursor down
  CUF = seq_key('C'),               // cursor forward
  CUB = seq_key('D'),               // cursor back
  CNL = seq_key('E'),               // next line
  CPL = seq_key('F'),               // previous line
  CHA = seq_key('G'),               // column absolute
  CUP = seq_key('H'),               // cursor position
  CHT = seq_key('I'),               // forward tab
  ED = seq_key('J'),                // erase in display
  EL = seq_key('K'),                // erase in line
  IL = seq_key('L'),                // insert lines
  DL = seq_key('M'),                // delete lines
  DCH = seq_key('P'),               // delete characters
  SU = seq_key('S'),                // scroll up
  SD = seq_key('T'),                // scroll down
  ECH = seq_key('X'),               // erase characters
  CBT = seq_key('Z'),               // back tab
  HPA = seq_key('`'),               // column absolute
  HPR = seq_key('a'),               // column relative
  REP = seq_key('b'),               // repeat the last character
  DA1 = seq_key('c'),               // primary device attributes
  VPA = seq_key('d'),               // row absolute
  VPR = seq_key('e'),               // row relative
  HVP = seq_key('f'),               // cursor position
  TBC = seq_key('g'),               // tab clear
  SM = seq_key('h'),                // set ANSI modes
  RM = seq_key('l'),                // reset ANSI modes
  SGR = seq_key('m'),               // graphic rendition
  DSR = seq_key('n'),               // device status report
  DECSTBM = seq_key('r'),           // scroll region
  SCOSC = seq_key('s'),             // save cursor
  SCORC = seq_key('u'),             // restore cursor
  DECSED = seq_key('J', kPrivate),  // selective erase in display
  DECSEL = seq_key('K', kPrivate),  // selective erase in line
  DECSET = seq_key('h', kPrivate),
  DECRST = seq_key('l', kPrivate),
  DECDSR = seq_key('n', kPrivate),
  DA2 = seq_key('c', kGreater),                // secondary device attributes
  SL = seq_key('@', ' '),                      // scroll left
  SR = seq_key('A', ' '),                      // scroll right
  DECSCUSR = seq_key('q', ' '),                // cursor style
  DECSCA = seq_key('q', '"'),                  // character protection
  DECSTR = seq_key('p', '!'),                  // soft reset
  DECIC = seq_key('}', '\''),                  // insert columns
  DECDC = seq_key('~', '\''),                  // delete columns
  DECRQM_ANSI = seq_key('p', '$'),             // request an ANSI mode
  DECRQM = seq_key('p', kPrivate << 8 | '$'),  // request a DEC mode
};
}  // namespace csi

// ANSI modes (SM, RM, DECRQM).
namespace ansi_mode {
enum : int32_t {
  KAM = 2,   // keyboard action
  IRM = 4,   // insert
  SRM = 12,  // send/receive
  LNM = 20,  // newline
};
}  // namespace ansi_mode

// DEC private modes (DECSET, DECRST, DECRQM).
namespace dec_mode {
enum : int32_t {
  DECCKM = 1,  // cursor keys application
  DECANM = 2,  // ANSI (set: every character set becomes ASCII)
  DECOM = 6,   // origin
  DECAWM = 7,  // auto-wrap
  DECARM = 8,  // auto-repeat
  MOUSE_X10 = 9,
  CURSOR_BLINK = 12,
  DECTCEM = 25,  // cursor shown
  REVERSE_WRAP = 45,
  ALT_SCREEN = 47,
  DECNKM = 66,  // keypad application
  DECBKM = 67,  // backspace sends BS
  MOUSE_NORMAL = 1000,
  MOUSE_HIGHLIGHT = 1001,
  MOUSE_BUTTON_EVENT = 1002,
  MOUSE_ANY_EVENT = 1003,
  FOCUS_EVENTS = 1004,
  MOUSE_UTF8 = 1005,
  MOUSE_SGR = 1006,
  MOUSE_URXVT = 1015,
  MOUSE_SGR_PIXELS = 1016,
  ALT_SCREEN_1047 = 1047,
  SAVE_CURSOR = 1048,
  ALT_SCREEN_SAVE_CURSOR = 1049,
  BRACKETED_PASTE = 2004,
  SYNCHRONIZED_OUTPUT = 2026,
};
}  // namespace dec_mode

}  // namespace mossbank::term
