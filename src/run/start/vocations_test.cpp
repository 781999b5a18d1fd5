#include "run/start/vocations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "run/start/messages.h"
#include "run/testing/test_files.h"

namespace mossbank::run {
namespace {

std::string describe(const std::optional<Vocation>& v) {
  if (!v) return "none";
  return v->id + " | " + v->name + " | " + v->prompt;
}

TEST(ParseVocation, FrontMatterNameAndBody) {
  const struct {
    std::string id;
    std::string text;
    std::string expected;
  } cases[] = {
      {"x", "  Do the thing.\n", "x | x | Do the thing."},
      {"chef", "---\nname: Head Chef\nlook: chef\n---\nCook.\n", "chef | Head Chef | Cook."},
      {"chef", "\xEF\xBB\xBF---\r\nname: Cook\r\n---\r\nCook.", "chef | Cook | Cook."},
      {"chef", "---\nname: \"Head Chef'\n---\nCook.", "chef | Head Chef | Cook."},
      {"chef", "---\nName : Cook\n---\nCook.", "chef | Cook | Cook."},
      {"chef", "---\nname: A\nNAME: B\n---\nCook.", "chef | B | Cook."},
      {"chef", "---\nname:\n---\nCook.", "chef | chef | Cook."},
      {"chef", "---\nname: ''\n---\nCook.", "chef | chef | Cook."},
      {"chef", "---\n  name: Spaced  \nnot a field\nna-me: X\n---\nCook.", "chef | Spaced | Cook."},
      {"chef", "---\nname: Cook\n---", "none"},  // front matter and no body
      {"chef", "---\nname: Cook\n---\n  \n", "none"},
      {"chef", "---\nname: Cook\nno end\n", "chef | chef | ---\nname: Cook\nno end"},
      {"chef", "---\n---\nbody", "chef | chef | ---\n---\nbody"},
      {"chef", "---\nname: A\n---\nB\n---\nC", "chef | A | B\n---\nC"},
      {"my_role", "Cook.", "none"},
      {"Chef", "Cook.", "none"},
      {"-chef", "Cook.", "none"},
      {std::string(64, 'a'), "Cook.",
       std::string(64, 'a') + " | " + std::string(64, 'a') + " | Cook."},
      {std::string(65, 'a'), "Cook.", "none"},
      {"", "Cook.", "none"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(describe(parse_vocation(c.id, c.text)), c.expected) << c.id << ": " << c.text;
  }
}

TEST(ParseVocation, PromptIsCutAtThreeThousandUtf16Units) {
  EXPECT_EQ(parse_vocation("x", std::string(3001, 'a'))->prompt, std::string(3000, 'a'));
  // A character outside the BMP counts two; one cut in half leaves U+FFFD.
  const std::string clef = "\xF0\x9D\x84\x9E";  // U+1D11E
  EXPECT_EQ(parse_vocation("x", std::string(2998, 'a') + clef + "b")->prompt,
            std::string(2998, 'a') + clef);
  EXPECT_EQ(parse_vocation("x", std::string(2999, 'a') + clef)->prompt,
            std::string(2999, 'a') + "\xEF\xBF\xBD");
}

TEST(VocationPrompt, TrimmedLinesJoined) {
  Vocation v{"r", "Researcher", "First line.\n\n  - second  \n\t\n- third"};
  EXPECT_EQ(vocation_prompt(v),
            "You are a Mossbank resident working as Researcher. First line. - second - third");
}

TEST(BuiltinVocations, SevenInTheirOrder) {
  std::vector<std::string> ids;
  for (const auto& [id, text] : builtin_vocations()) ids.push_back(id);
  EXPECT_EQ(ids, (std::vector<std::string>{"planner", "developer", "researcher", "reviewer",
                                           "designer", "marketer", "villager"}));
  EXPECT_EQ(builtin_vocations()[6].second,
            "---\nname: Villager\nname_ko: 마을 주민\nlook: villager\nworkplace: lumberyard\n"
            "description: A helping hand for whatever needs doing.\n---\n"
            "You are a dependable generalist.\n"
            "- Clarify the task if it's ambiguous, then do it carefully end to end.\n"
            "- Keep changes focused and verify your work before reporting back.\n"
            "- Say plainly what you did, what you didn't, and anything left to follow up.");
}

class Resolve : public ::testing::Test {
 protected:
  std::string home() const { return dir_ / "home"; }
  std::string folder() const { return dir_ / "home/vocations"; }
  std::string resolved(std::string_view id) {
    Result<Vocation> r = resolve_vocation(home(), id);
    if (!r) return r.status().text;
    if (Status kept = keep_builtin_vocations(home()); !kept)
      return "write failed: " + os_error_text(kept);
    return "found " + r->id + " " + r->name;
  }
  testing::ScratchDir dir_;
};

TEST_F(Resolve, BuiltinsAreWrittenOutOnFirstUse) {
  EXPECT_EQ(resolved("researcher"), "found researcher Researcher");
  for (const auto& [id, text] : builtin_vocations()) {
    EXPECT_EQ(testing::read_text(folder() + "/" + id + ".md"), text + "\n") << id;
  }
  Result<Vocation> r = resolve_vocation(home(), "researcher");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(vocation_prompt(*r),
            "You are a Mossbank resident working as Researcher. You investigate and report; you "
            "don't change code unless asked. - Gather evidence from the codebase, documentation "
            "and reliable sources. - Cite file paths with line numbers and link external sources. "
            "- Compare the realistic options with their trade-offs. - Separate what you verified "
            "from what you infer. - End with a short recommendation and the open questions.");
}

TEST_F(Resolve, UnknownIdWithoutAFolderListsBuiltinsSortedAndWritesNothing) {
  EXPECT_EQ(resolved("chef"),
            "No vocation \"chef\". Known: designer, developer, marketer, planner, researcher, "
            "reviewer, villager");
  EXPECT_FALSE(std::filesystem::exists(folder()));
  EXPECT_EQ(resolve_vocation(home(), "chef").status().code, ENOENT);
}

TEST_F(Resolve, AFolderReplacesTheBuiltins) {
  testing::write_file(folder() + "/chef.md", "---\nname: Chef\n---\nCook.\n");
  EXPECT_EQ(resolved("planner"), "No vocation \"planner\". Known: chef");
  EXPECT_EQ(resolved("chef"), "found chef Chef");
}

TEST_F(Resolve, FolderFilesByNameOrderAndRules) {
  testing::write_file(folder() + "/Chef.MD", "Cook.");
  testing::write_file(folder() + "/b.md", "B.");
  testing::write_file(folder() + "/a.md", "A.");
  testing::write_file(folder() + "/empty.md", "---\nname: E\n---\n");
  testing::write_file(folder() + "/my_role.md", "R.");
  testing::write_file(folder() + "/" + std::string(65, 'l') + ".md", "L.");
  testing::write_file(folder() + "/notes.txt", "N.");
  testing::write_file(folder() + "/.md", "hidden");
  testing::write_file(folder() + "/\xE2\x84\xAAiln.md", "Kelvin.");  // U+212A lowercases to k
  std::filesystem::create_directories(folder() + "/dir.md");
  EXPECT_EQ(resolved("zzz"), "No vocation \"zzz\". Known: chef, a, b, kiln");
  EXPECT_EQ(resolved("Chef"), "No vocation \"Chef\". Known: chef, a, b, kiln");
  EXPECT_EQ(resolved("chef"), "found chef chef");
}

TEST_F(Resolve, AFolderThatCannotBeMadeIsReported) {
  testing::write_file(home(), "a file where the home folder should be");
  EXPECT_EQ(resolved("planner"), "write failed: Not a directory (os error 20)");
}

}  // namespace
}  // namespace mossbank::run
