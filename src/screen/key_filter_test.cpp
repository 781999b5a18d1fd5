#include "screen/key_filter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace mossbank::screen {
namespace {

using namespace std::chrono_literals;

const KeyClock::time_point t0{};

// A screen whose tests answer what the test sets, counting how often they
// are asked.
struct FakeScreen {
  uint64_t generation = 1;
  bool approval = false;
  bool center = false;
  int approval_asked = 0;
  int center_asked = 0;

  KeyScreen keys() {
    return KeyScreen{
        [this] { return generation; },
        [this] {
          ++approval_asked;
          return approval;
        },
        [this] {
          ++center_asked;
          return center;
        },
    };
  }
  void change() { ++generation; }
};

// Feeds the chunks one by one to a new filter; the bytes of each call.
std::vector<std::string> feed(const std::vector<std::string>& chunks) {
  KeyFilterState state;
  FakeScreen screen;
  std::vector<std::string> out;
  for (const std::string& chunk : chunks) {
    out.push_back(filter_input_keys(state, chunk, screen.keys(), t0).bytes);
  }
  return out;
}

using Out = std::vector<std::string>;

TEST(KeyFilter, RemovesRepliesReportsAndReleases) {
  struct Case {
    std::string chunk;
    std::string bytes;
  };
  const Case cases[] = {
      {"\x1b[12;40R", ""},                             // cursor position
      {"a\x1b[?62;22cb", "ab"},                        // device attributes
      {"\x1b[>1;10;0c", ""},                           // secondary attributes
      {"\x1b[?2004;2$y", ""},                          // mode report
      {"\x1b[?1u", ""},                                // keyboard flags
      {"\x1b[0n", ""},                                 // status
      {"\x1b[8;50;200t", ""},                          // window size
      {"\x1b]11;rgb:1e1e/1e1e/1e1e\x07", ""},          // colour, BEL
      {"\x1b]2;héllo wörld\x1b\\x", "x"},              // title with UTF-8, ST
      {"\x1bP>|xterm(390)\x1b\\", ""},                 // version
      {"\x1bP1$r0;1m\x1b\\", ""},                      // DECRQSS
      {"\x1b_Gi=31;OK\x1b\\", ""},                     // graphics
      {"\x1b[<0;10;5M\x1b[<0;10;5m", ""},              // mouse
      {"\x1b[I\x1b[O", ""},                            // focus
      {"\x1b[97;1:3u", ""},                            // release
      {"\x1b[1;1:3A", ""},                             // arrow release
      {"\x1b[97u", "\x1b[97u"},                        // press
      {"\x1b[97;5:1u", "\x1b[97;5:1u"},                // press with its event type
      {"\x1b[A\x1bOB\x1b[3~", "\x1b[A\x1bOB\x1b[3~"},  // keys pass
      {"\x1b[200~pasted\x1b[201~", "\x1b[200~pasted\x1b[201~"},
      {"\x1b]abc\x07", ""},  // any OSC string, numbered or not
  };
  for (const Case& c : cases) EXPECT_EQ(feed({c.chunk}), Out{c.bytes}) << c.chunk;
}

TEST(KeyFilter, WindowsKeyRecords) {
  struct Case {
    std::string record;
    std::string bytes;
  };
  const Case cases[] = {
      {"\x1b[65;30;97;1;0;1_", "a"},
      {"\x1b[65;30;97;0;0;1_", ""},                    // key up
      {"\x1b[16;42;0;1;16;1_", ""},                    // Shift alone
      {"\x1b[17;29;0;1;8;1_", ""},                     // Ctrl alone
      {"\x1b[91;91;0;1;0;1_", ""},                     // Windows key
      {"\x1b[112;59;0;1;0;1_", std::string(1, '\0')},  // F1: no character
      {"\x1b[13;28;13;1;0;1_", "\r"},
      {"\x1b[27;1;27;1;0;1_", "\x1b"},
      {"\x1b[0;0;233;1;0;1_", "é"},
      {"\x1b[0;0;55357;1;0;1_", "\uFFFD"},  // a lone surrogate
      {"\x1b[0;0;70000;1;0;1_", std::string(1, '\0')},
      {"\x1b[0;0;97_", "a"},                  // three parameters
      {"\x1b[65;30_", std::string(1, '\0')},  // no character
      {"\x1b[18_", ""},                       // Alt, one parameter
      {"\x1b[_", std::string(1, '\0')},
      {"\x1b[;;98;;;_", ""},  // empty fourth: key up
  };
  for (const Case& c : cases) EXPECT_EQ(feed({c.record}), Out{c.bytes}) << c.record;
  // A whole typed word, keys down and up.
  EXPECT_EQ(feed({"\x1b[72;35;104;1;0;1_\x1b[72;35;104;0;0;1_\x1b[73;23;105;1;0;1_"}), Out{"hi"});
}

TEST(KeyFilter, KeysFromRecordsAreNeverTakenForReplies) {
  // Esc, "[" and "I" pressed: not a focus report.
  EXPECT_EQ(feed({"\x1b[27;1;27;1;0;1_\x1b[219;26;91;1;0;1_\x1b[73;23;73;1;0;1_"}), Out{"\x1b[I"});
}

TEST(KeyFilter, HoldsBackWhatTheNextChunkCompletes) {
  EXPECT_EQ(feed({"\x1b]11;rgb:0000/0000/0000", "\x1b\\x"}), (Out{"", "x"}));
  EXPECT_EQ(feed({"ab\x1b[12;4", "0R"}), (Out{"ab", ""}));
  EXPECT_EQ(feed({"\x1bP>|xterm", "(390)\x1b", "\\"}), (Out{"", "", ""}));
  EXPECT_EQ(feed({"\x1b_Gi=1;O", "K\x07z"}), (Out{"", "z"}));
  EXPECT_EQ(feed({"\x1b[65;30;9", "7;1;0;1_"}), (Out{"", "a"}));
  // A lone Esc: the next chunk either continues it or follows the Esc key.
  EXPECT_EQ(feed({"abc\x1b", "a"}), (Out{"abc",
                                         "\x1b"
                                         "a"}));
  EXPECT_EQ(feed({"abc\x1b", "[A"}), (Out{"abc", "\x1b[A"}));
  EXPECT_EQ(feed({"\x1b", "]0;t\x07"}), (Out{"", ""}));
  EXPECT_EQ(feed({"\x1b", "\x1b[A"}), (Out{"", "\x1b\x1b[A"}));
  EXPECT_EQ(feed({"\x1b", ""}), (Out{"", ""}));
  // UTF-8 cut inside a character.
  EXPECT_EQ(feed({"caf\xc3", "\xa9!"}), (Out{"caf", "é!"}));
  EXPECT_EQ(feed({"\xf0\x9f", "\x98", "\x80"}), (Out{"", "", "😀"}));
  EXPECT_EQ(feed({"\xe2\x82"}), (Out{""}));
}

TEST(KeyFilter, InvalidUtf8PassesUnchanged) {
  EXPECT_EQ(feed({"a\xff\xfe"
                  "b\x80"}),
            Out{"a\xff\xfe"
                "b\x80"});
  EXPECT_EQ(feed({"\xc3", "x"}), (Out{"", "\xc3x"}));  // a started character not finished
  EXPECT_EQ(feed({"\xe0\x80"}), Out{"\xe0\x80"});      // overlong: never a beginning
  EXPECT_EQ(feed({"\xed\xa0"}), Out{"\xed\xa0"});      // a surrogate's beginning
  EXPECT_EQ(feed({"\xf4\x90"}), Out{"\xf4\x90"});      // past U+10FFFF
  // Around and inside sequences.
  EXPECT_EQ(feed({"\xff\x1b[I\xff"}), Out{"\xff\xff"});
  EXPECT_EQ(feed({"\x1b]2;\xff\xfe\x07"}), Out{""});
  EXPECT_EQ(feed({"\x1b]2;\xff", "\x07"}), (Out{"", ""}));
  EXPECT_EQ(feed({"\x1b[\xff"}), Out{"\x1b[\xff"});
}

// Input that a terminal sends: keys (plain, with Alt, cursor and function
// keys, extended-protocol presses and releases, key records), typed and
// pasted text, and the replies and reports the filter removes. Each piece
// is a whole key or reply; an Alt key is never one that starts a sequence.
const std::vector<std::string> kPieces = {
    "a",
    "Z9",
    "é",
    "日本",
    "😀",
    "\xff",
    "\r",
    "\x7f",
    "\x03",
    "\t",
    "[",
    "]x",
    "P",
    "_",
    "\x1b",
    "\x1bx",
    "\x1bO",
    "\x1bOA",
    "\x1b[A",
    "\x1b[1;5D",
    "\x1b[3~",
    "\x1b[97u",
    "\x1b[97;1:3u",
    "\x1b[13;2u",
    "\x1b[27u",
    "\x1b[200~x\ny\x1b[201~",
    "\x1b[12;40R",
    "\x1b[?62;22c",
    "\x1b[?2004;2$y",
    "\x1b[?1u",
    "\x1b[0n",
    "\x1b[8;5;2t",
    "\x1b]11;rgb:1e1e/1e1e/1e1e\x07",
    "\x1b]10;rgb:ff/ff/ff\x1b\\",
    "\x1b]2;wörld\x07",
    "\x1bP>|xterm(390)\x1b\\",
    "\x1bP1+r544e=787465726d\x1b\\",
    "\x1bP!|7E565445\x1b\\",
    "\x1b_Gi=31,p=2;OK\x1b\\",
    "\x1b_Gi=31;ENOENT\x07",
    "\x1b[<0;10;5M",
    "\x1b[I",
    "\x1b[O",
    "\x1b[65;30;97;1;0;1_",
    "\x1b[65;30;97;0;0;1_",
    "\x1b[16;42;0;1;16;1_",
    "\x1b[27;1;27;1;0;1_",
};

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += p;
  return out;
}

struct Fed {
  std::string bytes;
  std::string pending;
};

Fed feed_cut(std::string_view input, const std::vector<size_t>& cuts) {
  KeyFilterState state;
  FakeScreen screen;
  Fed fed;
  size_t from = 0;
  for (size_t k = 0; k <= cuts.size(); ++k) {
    const size_t to = k < cuts.size() ? cuts[k] : input.size();
    fed.bytes += filter_input_keys(state, input.substr(from, to - from), screen.keys(), t0).bytes;
    from = to;
  }
  fed.pending = state.pending;
  return fed;
}

void expect_cuts_change_nothing(const std::string& input) {
  const Fed whole = feed_cut(input, {});
  for (size_t cut = 0; cut <= input.size(); ++cut) {
    const Fed split = feed_cut(input, {cut});
    ASSERT_EQ(split.bytes, whole.bytes)
        << "cut at " << cut << " of " << testing::PrintToString(input);
    ASSERT_EQ(split.pending, whole.pending);
  }
  std::vector<size_t> every_byte;
  for (size_t k = 1; k < input.size(); ++k) every_byte.push_back(k);
  const Fed bytewise = feed_cut(input, every_byte);
  ASSERT_EQ(bytewise.bytes, whole.bytes) << "byte by byte: " << testing::PrintToString(input);
}

TEST(KeyFilter, CuttingAnywhereGivesTheSameBytes) {
  for (const std::string& a : kPieces) {
    for (const std::string& b : kPieces) expect_cuts_change_nothing(a + b);
  }
  expect_cuts_change_nothing(joined(kPieces));
  std::vector<std::string> reversed(kPieces.rbegin(), kPieces.rend());
  expect_cuts_change_nothing(joined(reversed));
}

TEST(KeyFilter, HoldsBackAtMost1024Characters) {
  // "\x1b]2;" and a body: 4 + body characters held back. Two-byte
  // characters, so that bytes and characters differ.
  auto osc_start = [](size_t chars) {
    return "\x1b]2;" + [&] {
      std::string body;
      for (size_t k = 4; k < chars; ++k) body += "é";
      return body;
    }();
  };
  {
    KeyFilterState state;
    FakeScreen screen;
    const std::string start = osc_start(kMaxHeldBack);
    EXPECT_EQ(filter_input_keys(state, start, screen.keys(), t0).bytes, "");
    EXPECT_EQ(state.pending, start);
    EXPECT_EQ(filter_input_keys(state, "\x07", screen.keys(), t0).bytes, "");
  }
  {
    KeyFilterState state;
    FakeScreen screen;
    const std::string start = osc_start(kMaxHeldBack + 1);
    EXPECT_EQ(filter_input_keys(state, start, screen.keys(), t0).bytes, start);
    EXPECT_EQ(state.pending, "");
    // Its end, alone, is no reply: it passes too.
    EXPECT_EQ(filter_input_keys(state, "é\x07", screen.keys(), t0).bytes, "é\x07");
    // Whole, the same reply goes.
    EXPECT_EQ(feed({start + "é\x07"}), Out{""});
  }
  {
    // A longer start still keeps an unfinished character back.
    KeyFilterState state;
    FakeScreen screen;
    const std::string start = osc_start(kMaxHeldBack + 1);
    EXPECT_EQ(filter_input_keys(state, start + "\xc3", screen.keys(), t0).bytes, start);
    EXPECT_EQ(state.pending, "\xc3");
  }
}

TEST(KeyFilter, LoneEscGoesAsTheEscKeyAfterItsWait) {
  KeyFilterState state;
  FakeScreen screen;
  EXPECT_EQ(lone_esc_deadline(state), std::nullopt);
  EXPECT_EQ(filter_input_keys(state, "x\x1b", screen.keys(), t0).bytes, "x");
  ASSERT_EQ(lone_esc_deadline(state), t0 + kLoneEscWait);
  // An empty chunk does not start the wait again.
  filter_input_keys(state, "", screen.keys(), t0 + 10ms);
  EXPECT_EQ(lone_esc_deadline(state), t0 + kLoneEscWait);

  const uint64_t serial = state.input_serial;
  EXPECT_EQ(release_lone_esc(state, screen.keys(), t0 + 49ms).bytes, "");
  EXPECT_EQ(state.pending, "\x1b");
  EXPECT_EQ(release_lone_esc(state, screen.keys(), t0 + 50ms).bytes, "\x1b");
  EXPECT_EQ(state.pending, "");
  EXPECT_TRUE(state.lone_esc);
  EXPECT_EQ(state.input_serial, serial + 1);
  EXPECT_EQ(state.last_input, t0 + 50ms);
  EXPECT_EQ(lone_esc_deadline(state), std::nullopt);
  // Released, it no longer joins what follows; and typing after an Esc
  // marks the line as touched by a control key.
  EXPECT_EQ(release_lone_esc(state, screen.keys(), t0 + 90ms).bytes, "");
  EXPECT_EQ(filter_input_keys(state, "[A", screen.keys(), t0 + 100ms).bytes, "[A");
  EXPECT_FALSE(state.lone_esc);
  EXPECT_TRUE(state.dirty);

  // A second Esc while one is held: the first goes, the second waits anew.
  KeyFilterState again;
  filter_input_keys(again, "\x1b", screen.keys(), t0);
  EXPECT_EQ(filter_input_keys(again, "\x1b", screen.keys(), t0 + 20ms).bytes, "\x1b");
  EXPECT_EQ(lone_esc_deadline(again), t0 + 20ms + kLoneEscWait);
}

struct Typing {
  std::vector<std::string> chunks;
  bool submitted;  // by the last chunk
};

bool type(const std::vector<std::string>& chunks, FakeScreen& screen, KeyFilterState& state) {
  bool submitted = false;
  for (const std::string& chunk : chunks) {
    submitted = filter_input_keys(state, chunk, screen.keys(), t0).submitted;
  }
  return submitted;
}

TEST(KeyFilter, EnterSubmitsALineTypedByHand) {
  const Typing cases[] = {
      {{"ls", "\r"}, true},
      {{"ls\r"}, true},
      {{"\r"}, false},               // a fresh line
      {{"ab\x7f\x7f\r"}, false},     // typed and taken back
      {{"\x1b[A\r"}, true},          // a cursor key counts as typing
      {{"éé", "\x7f", "\r"}, true},  // characters, not bytes
      {{"éé", "\x7f\x7f", "\r"}, false},
      {{"\xc3", "\xa9\x7f", "\r"}, false},  // one character, cut
      {{"x\x03\r"}, false},                 // Ctrl-C forgets the line
      {{"\t", "\r"}, true},                 // a control key touches the line
      {{"\n"}, false},
      {{"a\n"}, true},
      {{"\x1b\r"}, false},  // Esc and Enter on a fresh line
      {{"a", "\x1b\r"}, true},
      {{"\x1b[27u"}, false},
      {{"\x1b[27u", "\r"}, false},          // Esc on an untouched line leaves it so
      {{"a", "\x1b", "\x7f", "\r"}, true},  // Esc after typing touches the line
      {{"\x1b", "\x7f", "\r"}, false},
      {{"\xff\r"}, true},          // an invalid byte is a character
      {{"\x1b[12;40R\r"}, false},  // replies are not typing
      {{"\x1b[65;30;97;1;0;1_\x1b[13;28;13;1;0;1_"}, true},
  };
  for (const Typing& c : cases) {
    FakeScreen screen;
    KeyFilterState state;
    EXPECT_EQ(type(c.chunks, screen, state), c.submitted) << testing::PrintToString(c.chunks);
  }
}

TEST(KeyFilter, NothingCountsWhileAnApprovalWaits) {
  FakeScreen screen;
  KeyFilterState state;
  screen.approval = true;
  const FilteredKeys answer = filter_input_keys(state, "2\r", screen.keys(), t0);
  EXPECT_EQ(answer.bytes, "2\r");
  EXPECT_FALSE(answer.submitted);
  EXPECT_EQ(state.typed_count, 0u);
  EXPECT_EQ(state.input_serial, 1u);
  EXPECT_EQ(state.last_input, t0);
  EXPECT_FALSE(type({"abc", "\r"}, screen, state));

  // The question goes away with a new screen.
  screen.approval = false;
  screen.change();
  EXPECT_FALSE(type({"\r"}, screen, state));
  EXPECT_TRUE(type({"abc", "\r"}, screen, state));
}

TEST(KeyFilter, TakingThenCountingIsOneCall) {
  // The keys path writes between the halves: taking never asks the approval
  // test, and the two halves give what one call gives.
  const std::vector<std::vector<std::string>> inputs = {
      {"ls", "\r"},      {"ab\x7f\x7f\r"}, {"\x1b[A\r"}, {"a", "\x1b", "\x7f", "\r"},
      {"\x1b[12;40R\r"}, {"x\x03\r"}};
  for (const auto& chunks : inputs) {
    FakeScreen one, two;
    KeyFilterState whole, halves;
    for (const std::string& chunk : chunks) {
      const FilteredKeys expected = filter_input_keys(whole, chunk, one.keys(), t0);
      const int asked = two.approval_asked;
      const TakenKeys taken = take_input_keys(halves, chunk, two.keys(), t0);
      EXPECT_EQ(two.approval_asked, asked);
      EXPECT_EQ(taken.bytes, expected.bytes);
      EXPECT_EQ(count_input_keys(halves, taken, two.keys()), expected.submitted)
          << testing::PrintToString(chunks);
    }
    EXPECT_EQ(halves.typed_count, whole.typed_count);
    EXPECT_EQ(halves.input_serial, whole.input_serial);
  }
}

TEST(KeyFilter, AsksTheScreenOncePerScreenChange) {
  FakeScreen screen;
  KeyFilterState state;
  for (const char* key : {"a", "b", "c"}) filter_input_keys(state, key, screen.keys(), t0);
  EXPECT_EQ(screen.approval_asked, 1);
  screen.change();
  filter_input_keys(state, "d", screen.keys(), t0);
  filter_input_keys(state, "e", screen.keys(), t0);
  EXPECT_EQ(screen.approval_asked, 2);
  // Nothing passed, nothing asked.
  filter_input_keys(state, "\x1b[12;40R", screen.keys(), t0);
  screen.change();
  filter_input_keys(state, "\x1b[I", screen.keys(), t0);
  EXPECT_EQ(screen.approval_asked, 2);

  // Without a generation every pass asks.
  KeyScreen no_generation = screen.keys();
  no_generation.generation = nullptr;
  filter_input_keys(state, "f", no_generation, t0);
  filter_input_keys(state, "g", no_generation, t0);
  EXPECT_EQ(screen.approval_asked, 4);
}

TEST(KeyFilter, CommandCenterForgetsControlKeysOnAnEmptyLine) {
  for (bool center : {false, true}) {
    FakeScreen screen;
    screen.center = center;
    KeyFilterState state;
    filter_input_keys(state, "\t", screen.keys(), t0);
    EXPECT_TRUE(state.dirty);
    EXPECT_EQ(filter_input_keys(state, "\r", screen.keys(), t0).submitted, !center);
  }
  // Typed characters are kept whatever the screen shows.
  FakeScreen screen;
  screen.center = true;
  KeyFilterState state;
  EXPECT_TRUE(type({"ab\t", "\r"}, screen, state));
  EXPECT_EQ(screen.center_asked, 0);
}

TEST(KeyFilter, InputSerial) {
  FakeScreen screen;
  KeyFilterState state;
  filter_input_keys(state, "a", screen.keys(), t0);
  EXPECT_EQ(state.input_serial, 1u);
  filter_input_keys(state, "\x1b[0n", screen.keys(), t0);  // nothing passed, nothing held
  EXPECT_EQ(state.input_serial, 1u);
  filter_input_keys(state, "\x1b[12;", screen.keys(), t0);  // held back
  EXPECT_EQ(state.input_serial, 2u);
  filter_input_keys(state, "", screen.keys(), t0);  // the same held back
  EXPECT_EQ(state.input_serial, 2u);
  filter_input_keys(state, "40R", screen.keys(), t0);  // completed and removed
  EXPECT_EQ(state.input_serial, 3u);
}

}  // namespace
}  // namespace mossbank::screen
