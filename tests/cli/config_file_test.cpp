#include "cli/config_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/temp_dir.h"

namespace voxtrel {
namespace {

class ConfigFileTest : public ::testing::Test {
 protected:
  // The options `toml` and `args` come to in a short form, or the error.
  std::string Parsed(const std::string& toml, std::vector<std::string> args,
                     std::string* dump = nullptr) {
    test::WriteFile(file_, toml);
    CheckerOptions o;
    std::string err;
    std::string dumped;
    if (ParseCheckerConfig(args, file_, &o, &dumped, &err) != ParseOutcome::kRun)
      return err.starts_with(file_) ? "F" + err.substr(file_.size()) : err;
    if (dump) *dump = dumped;
    std::string text = "j" + std::to_string(o.jobs);
    for (auto [set, name] : {std::pair{o.recursive, " r"}, {o.quiet, " q"}, {o.all_links, " all"},
                             {o.netrc, " netrc"}})
      if (set) text += name;
    if (o.rate > 0) text += " rate=" + std::to_string(o.rate).substr(0, 3);
    for (const auto& [low, high] : o.accept)
      text += " ok=" + std::to_string(low) + ".." + std::to_string(high);
    for (const std::string& exclude : o.excludes) text += " x=" + exclude;
    for (const std::string& header : o.headers) text += " h=" + header;
    if (o.netrc_file) text += " nf=" + *o.netrc_file;
    return text + " " + o.target;
  }
  test::TempDir dir_;
  std::string file_ = dir_ / "voxtrel.toml";
};

TEST_F(ConfigFileTest, EveryKindOfValueAndTheCommandLineWinsAndFaultsNameTheirLine) {
  const struct {
    std::string toml;
    std::vector<std::string> args;
    std::string parsed;
  } cases[] = {
      {"", {"T"}, "j128 T"},
      {"jobs = 64\nrate = 2.5\nrecursive = true\nlinks = \"all\"\nexclude = [\"^a\",\n  \"b\"]\n"
       "header = \"X-A: b\"\naccept = \"200..299,403\"\nnetrc-file = \"n\"\ntarget = \"S\"\n",
       {},
       "j64 r all rate=2.5 ok=200..299 ok=403..403 x=^a x=b h=X-A: b nf=n S"},
      {"jobs = 64\nexclude = [\"a\", \"b\"]\nquiet = false\nnetrc = true\ntarget = \"S\"\n",
       {"-q", "-j", "8", "--exclude", "c", "T"}, "j8 q netrc x=c T"},
      {"jobs = 64", {"--config", "/none.toml", "T"}, "cannot read /none.toml"},
      {"", {"--config", "/", "T"}, "cannot read /"},
      {"target = \"S\"", {"--recheck", "r.json"}, "j128 "},
      {"jobs = 64", {}, "no TARGET given"},
      {"jobs = 64\n\njbos = 3\n", {"T"}, "F:3: unknown key 'jbos'"},
      {"config = \"x.toml\"", {"T"}, "F:1: unknown key 'config'"},
      {"[jobs]\n", {"T"}, "F:1: wrong type for key 'jobs': a number is wanted"},
      {"jobs = \"64\"", {"T"}, "F:1: wrong type for key 'jobs': a number is wanted"},
      {"recursive = 1", {"T"}, "F:1: wrong type for key 'recursive': true or false is wanted"},
      {"links = 2", {"T"}, "F:1: wrong type for key 'links': a string is wanted"},
      {"exclude = [\"a\",\n 1]", {"T"}, "F:2: wrong type for key 'exclude': a list of strings is wanted"},
      {"target = 1", {}, "F:1: wrong type for key 'target': a string is wanted"},
      {"\njobs = 0", {"T"}, "F:2: bad value for key 'jobs': 0"},
      {"accept = \"99\"", {"T"}, "F:1: bad value for key 'accept': 99"},
      {"header = [\"no colon\"]", {"T"}, "F:1: bad value for key 'header': no colon"},
      {"jobs = 0", {"-j", "2", "T"}, "j2 T"},
      {"jobs = ", {"T"}, "F:1: Error while parsing key-value pair: encountered end-of-file"},
  };
  for (const auto& c : cases) EXPECT_EQ(Parsed(c.toml, c.args), c.parsed) << c.toml;
}

TEST_F(ConfigFileTest, DumpedOptionsReadBackAsTheSameOptions) {
  std::string dump;
  const std::string parsed =
      Parsed("rate = 0.5\nexclude = [\"^https://example.com/\", \"'\\\"\"]\n"
             "user-agent = \"名前 \\\"q\\\"\"\nnetrc = true\n",
             {"--dump-config", "--header", "X-A: b", "--accept=403", "-r", "T"}, &dump);
  EXPECT_NE(dump.find("jobs = 128"), std::string::npos) << dump;
  std::string again;
  EXPECT_EQ(Parsed(dump, {"--dump-config"}, &again), parsed);
  EXPECT_EQ(again, dump);
}

}  // namespace
}  // namespace voxtrel
