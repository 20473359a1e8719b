#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "engine/run_settings.h"
#include "platform/disk.h"

namespace voxtrel {

/// The name of the user's own rules file in their configuration folder.
inline constexpr const char* kUserRulesName = "voxtrel/suspect-rules.txt";

/// Where the user's own rules are: under $XDG_CONFIG_HOME when it is an absolute path, else under
/// ~/.config; "" when neither is known. Either argument may be null.
std::string UserRulesPath(const char* xdg_config_home, const char* home);

/// The local date of `now`, "YYYY-MM-DD".
std::string LocalDate(std::time_t now);

/// What a run judging answers starts with, and what its rules files said that could not be read.
struct SuspectSetup {
  SuspectSettings settings;
  std::vector<RulesProblem> problems;
};

/// The rules shipped with Voxtrel, then those of `user_file` when it exists, then those of each
/// file in `named` in order, for a run on `today` ("YYYY-MM-DD"). A line that cannot be read is
/// passed over and told in setup->problems, as is a user file that exists but cannot be read.
/// False (and *err, naming the file) when a named file cannot be read.
bool SetUpSuspect(DiskInterface& disk, const std::string& user_file,
                  const std::vector<std::string>& named, const std::string& today,
                  SuspectSetup* setup, std::string* err);

}  // namespace voxtrel
