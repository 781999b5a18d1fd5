// The environment variables the program reads or hands to the agents it
// starts, named once.
#pragma once

namespace mossbank::env {

inline constexpr const char kHome[] = "MOSSBANK_HOME";
inline constexpr const char kLang[] = "MOSSBANK_LANG";
inline constexpr const char kRunId[] = "MOSSBANK_RUN_ID";
inline constexpr const char kRunAs[] = "MOSSBANK_RUN_AS";
inline constexpr const char kRunHost[] = "MOSSBANK_RUN_HOST";
inline constexpr const char kRunSize[] = "MOSSBANK_RUN_SIZE";
inline constexpr const char kRunSetup[] = "MOSSBANK_RUN_SETUP";
inline constexpr const char kRunDaemonPid[] = "MOSSBANK_RUN_DAEMON_PID";
inline constexpr const char kRunPanelShell[] = "MOSSBANK_RUN_PANEL_SHELL";
inline constexpr const char kRunUpgradeId[] = "MOSSBANK_RUN_UPGRADE_ID";
inline constexpr const char kAutoRun[] = "MOSSBANK_AUTO_RUN";
inline constexpr const char kAutoRunWhy[] = "MOSSBANK_AUTO_RUN_WHY";
inline constexpr const char kVillageTerminal[] = "MOSSBANK_VILLAGE_TERMINAL";
inline constexpr const char kRustHandover[] = "MOSSBANK_RUST_HANDOVER";
inline constexpr const char kRustCli[] = "MOSSBANK_RUST_CLI";

}  // namespace mossbank::env
