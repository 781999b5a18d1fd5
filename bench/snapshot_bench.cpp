// How long the screen mirror takes to build one snapshot of a full 200x50
// screen (every cell written, colours changing every few cells, some wide
// characters): the part read under the screen lock, and the whole body as
// it is posted, with and without the serialised screen. Prints figures;
// asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "run/session/mirror.h"

namespace {

using namespace mossbank;
using namespace mossbank::run;
using Clock = std::chrono::steady_clock;

std::string busy_screen(uint32_t cols, uint32_t rows) {
  static const char* const words[] = {
      "src/run/mirror.cpp", "lorem",     "ipsum", "dolor", "名前", "✔", "sit", "amet",
      "consectetur",        "adipiscing"};
  std::string out;
  uint32_t n = 0;
  for (uint32_t row = 0; row < rows; ++row) {
    out += "\x1b[" + std::to_string(row + 1) + ";1H";
    uint32_t col = 0;
    while (col + 12 < cols) {
      const char* word = words[n % 10];
      out += "\x1b[" + std::to_string(31 + n % 7) + (n % 3 == 0 ? ";1" : "") +
             (n % 5 == 0 ? ";48;5;" + std::to_string(17 + n % 200) : "") + "m";
      out += word;
      out += "\x1b[m ";
      col += static_cast<uint32_t>(std::string(word).size()) + 1;  // bytes: enough for a full row
      ++n;
    }
  }
  return out;
}

struct Figures {
  double median_us;
  double p99_us;
  double worst_us;
  size_t bytes;
};

template <typename Body>
Figures measure(int rounds, Body body) {
  std::vector<double> us;
  size_t bytes = 0;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    bytes = body();
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[us.size() * 99 / 100], us.back(), bytes};
}

}  // namespace

int main() {
  ScreenRecord screen;
  screen.terminal = terminal_new(200, 50);
  terminal_process(screen.terminal, busy_screen(200, 50));
  constexpr int kRounds = 2000;

  for (bool screens : {false, true}) {
    screen.screens = screens;
    const Figures locked = measure(kRounds, [&] {
      ScreenSnapshot s = take_snapshot(screen, 0);
      return s.text.size() + s.coloured.size() + (s.serialized ? s.serialized->size() : 0);
    });
    const Figures whole = measure(
        kRounds, [&] { return to_js_json(snapshot_body(take_snapshot(screen, 0))).size(); });
    std::printf(
        "200x50 snapshot, serialized %-3s under the lock: median %6.1f us, p99 %6.1f us, worst "
        "%7.1f us\n",
        screens ? "on" : "off", locked.median_us, locked.p99_us, locked.worst_us);
    std::printf(
        "                                whole body:     median %6.1f us, p99 %6.1f us, worst "
        "%7.1f us, %zu bytes\n",
        whole.median_us, whole.p99_us, whole.worst_us, whole.bytes);
  }
  return 0;
}
