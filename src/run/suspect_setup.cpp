#include "run/suspect_setup.h"

#include <memory>
#include <utility>

#include "platform/text.h"

namespace voxtrel {

std::string UserRulesPath(const char* xdg_config_home, const char* home) {
  // A relative XDG_CONFIG_HOME is invalid and is to be ignored, as other programs do.
  if (xdg_config_home && xdg_config_home[0] == '/')
    return JoinPath(xdg_config_home, kUserRulesName);
  if (home && *home) return JoinPath(JoinPath(home, ".config"), kUserRulesName);
  return "";
}

std::string LocalDate(std::time_t now) { return LocalTimeText(now, "%Y-%m-%d"); }

bool SetUpSuspect(DiskInterface& disk, const std::string& user_file,
                  const std::vector<std::string>& named, const std::string& today,
                  SuspectSetup* setup, std::string* err) {
  auto rules = std::make_shared<SuspectRules>(SuspectRules::Shipped());
  std::string text;
  std::string why;
  // The user's own file is optional: only one that is there and cannot be read is told.
  if (!user_file.empty() && disk.FileExists(user_file)) {
    if (disk.ReadWholeFile(user_file, &text, &why))
      rules->Add(text, user_file, &setup->problems);
    else
      setup->problems.push_back({user_file, 0, "cannot be read: " + why});
  }
  for (const std::string& file : named) {
    if (!disk.ReadWholeFile(file, &text, &why)) {
      *err = "cannot read " + file + ": " + why;
      return false;
    }
    rules->Add(text, file, &setup->problems);
  }
  setup->settings.rules = std::move(rules);
  setup->settings.today = today;
  return true;
}

}  // namespace voxtrel
