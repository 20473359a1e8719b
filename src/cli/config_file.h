#pragma once

#include <string>
#include <vector>

#include "cli/options.h"

namespace voxtrel {

/// The configuration file read, when it exists, from the current folder unless --config names one.
inline constexpr const char* kDefaultConfigFile = "voxtrel.toml";

/// Reads the command line and a configuration file (TOML) into *options: the file --config
/// names, which must exist, else `default_file` when it exists. Each long option is a key without
/// its dashes, and "target" is the TARGET; flags take true or false, repeatable options a list
/// (or one string), numbers a number. An option on the command line replaces the file's (a
/// repeatable one's whole list). On kError *err says why; a fault of the file names the file,
/// the line and the key. With --dump-config, *dump is the options in effect as TOML.
ParseOutcome ParseCheckerConfig(const std::vector<std::string>& args,
                                const std::string& default_file, CheckerOptions* options,
                                std::string* dump, std::string* err);

}  // namespace voxtrel
