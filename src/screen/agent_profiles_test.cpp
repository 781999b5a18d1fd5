#include "screen/agent_profiles.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string_view>

namespace mossbank::screen {
namespace {

// What every row must keep, whichever agent it is; what one agent does is
// tested beside the code that reads its fields.

TEST(AgentProfiles, EveryNameFindsItsOwnRow) {
  std::set<std::string_view> names;
  for (const AgentProfile& row : agent_profiles()) {
    EXPECT_FALSE(row.name.empty());
    EXPECT_TRUE(names.insert(row.name).second) << "two rows named " << row.name;
    EXPECT_EQ(agent_profile(row.name), &row) << row.name;
  }
  // Only an exact name finds a row; an alias is a program's name, not a row's.
  const std::optional<std::string_view> others[] = {std::nullopt, "", "Claude", "codex ",
                                                    "cursor-agent"};
  for (const std::optional<std::string_view>& name : others)
    EXPECT_EQ(agent_profile(name), nullptr) << name.value_or("(no name)");
}

TEST(AgentProfiles, AliasesAndPackagesNameOneAgent) {
  std::set<std::string_view> names;
  for (const AgentProfile& row : agent_profiles()) names.insert(row.name);
  std::set<std::string_view> aliases;
  std::set<std::string_view> packages;
  for (const AgentProfile& row : agent_profiles()) {
    for (std::string_view alias : row.aliases) {
      EXPECT_FALSE(names.contains(alias)) << row.name << "'s alias " << alias << " names a row";
      EXPECT_TRUE(aliases.insert(alias).second) << "the alias " << alias << " is in two rows";
    }
    if (!row.npm_package.empty()) {
      EXPECT_TRUE(packages.insert(row.npm_package).second) << "two rows of " << row.npm_package;
    }
  }
}

TEST(AgentProfiles, EachFieldHasWhatItsReaderNeeds) {
  int codex_typing = 0;
  for (const AgentProfile& row : agent_profiles()) {
    EXPECT_EQ(row.input_box == InputBoxKind::kBare, row.bare_box != nullptr) << row.name;
    if (row.menus) {
      EXPECT_FALSE(row.menus->layouts.empty()) << row.name;
    }
    if (row.new_conversation) {
      // The line is read in the agent's box: a pattern of its row, or the side box.
      EXPECT_NE(row.input_box, InputBoxKind::kNone) << row.name;
      EXPECT_EQ(row.new_conversation->box == nullptr, row.input_box == InputBoxKind::kSide)
          << row.name;
    }
    EXPECT_FALSE(row.typing.interrupt_keys.empty()) << row.name;
    codex_typing += row.typing.is_codex;
    // A restart makes the agent exit and starts it again on its conversation.
    EXPECT_EQ(!row.exit_command.empty(), row.restart != nullptr) << row.name;
    if (row.restart) {
      EXPECT_FALSE(row.resume_word.empty()) << row.name;
    }
  }
  EXPECT_LE(codex_typing, 1);
}

}  // namespace
}  // namespace mossbank::screen
