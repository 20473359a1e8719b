// Crawls of generated sites of several shapes by the real voxtrel-check and by other link
// checkers: wall time, requests served, peak memory, the broken links each one reports, and how
// busy the crawled host's connection slots were through the run.

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "crawl_sites.h"
#include "server_process.h"
#include "slot_log.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using voxtrel::bench::kHosts;
using voxtrel::bench::kLatencyMs;
using voxtrel::bench::Normalise;
using voxtrel::bench::Site;
using voxtrel::bench::SiteShape;
using voxtrel::bench::SlotLog;
using voxtrel::bench::SlotUse;

constexpr int kDefaultPerHost = 8;
// More threads than any checker opens connections to one host: an idle kept-alive connection
// holds its thread, and a new one would queue behind it until the keep-alive time-out.
constexpr int kServerThreads = 160;
// linkinator keeps more than that open to the crawled host of the flat site.
constexpr int kSiteServerThreads = 512;
constexpr int kListenBacklog = 1024;
constexpr int kToolTimeoutS = 300;  // every tool here takes seconds; a stalled one shows

/// A port on 127.0.0.1 that refuses connections: bound once by the kernel's choice, then let go.
int RefusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    std::perror("refused port");
    std::exit(1);
  }
  close(fd);
  return ntohs(addr.sin_port);
}

/// Answers each request of `files` after kLatencyMs, counting it in `served` and, when `slots`
/// is given, logging when it began and when its answer was made.
void Answer(const std::map<std::string, voxtrel::bench::Resource>& files, std::atomic<long>* served,
            SlotLog* slots, const httplib::Request& req, httplib::Response& res) {
  served->fetch_add(1);
  if (slots) slots->Began();
  std::this_thread::sleep_for(std::chrono::milliseconds(kLatencyMs));
  auto found = files.find(req.path);
  if (found == files.end()) {
    res.status = 404;
    res.set_content("<html><body>not found</body></html>", "text/html");
  } else {
    res.set_content(found->second.body, found->second.type);
  }
  // The body is small: it is on its way as soon as the handler returns.
  if (slots) slots->Answered();
}

/// Binds kHosts servers, builds the site of `shape` from their ports, writes the ports to
/// `ports_fd`, answers each request, logs the crawled host's in `slots` and returns once
/// `stop_fd` reaches its end.
void Serve(const SiteShape& shape, SlotLog* slots, std::atomic<long>* served, int refused_port,
           int ports_fd, int stop_fd) {
  std::signal(SIGPIPE, SIG_IGN);  // checkers hang up on bodies they do not need
  std::vector<std::unique_ptr<httplib::Server>> servers;
  std::vector<int> ports;
  for (int i = 0; i < kHosts; ++i) {
    auto& svr = *servers.emplace_back(std::make_unique<httplib::Server>());
    svr.new_task_queue = [threads = i == 0 ? kSiteServerThreads : kServerThreads] {
      return new httplib::ThreadPool(threads);
    };
    svr.set_keep_alive_max_count(1000000);
    // httplib writes head and body apart; with Nagle on, a reused connection waits for the
    // client's delayed ACK (~40 ms) before the body goes out.
    svr.set_tcp_nodelay(true);
    int listening = -1;
    svr.set_socket_options([&listening](int sock) {
      httplib::default_socket_options(sock);
      listening = sock;
    });
    int port = svr.bind_to_any_port("127.0.0.1");
    // A checker's burst of new connections to one host must not overflow the accept queue: each
    // handshake dropped there costs a one-second retransmission the figures would blame on the
    // tool. The packaged library listens with its built-in backlog of 5 whatever a file defines,
    // and listening again widens it.
    if (port <= 0 || listen(listening, kListenBacklog) != 0) _exit(1);
    ports.push_back(port);
  }
  const Site site = shape.make(ports, refused_port);
  for (int i = 0; i < kHosts; ++i) {
    servers[i]->Get(".*",
                    [&files = site.files[i], served = &served[i], log = i == 0 ? slots : nullptr](
                        const httplib::Request& req, httplib::Response& res) {
                      Answer(files, served, log, req, res);
                    });
    std::thread([svr = servers[i].get()] { svr->listen_after_bind(); }).detach();
  }
  for (int port : ports)
    if (write(ports_fd, &port, sizeof port) != sizeof port) _exit(1);
  char end;
  while (read(stop_fd, &end, 1) > 0) {
  }
}

// ---- reading the tools' output -------------------------------------------------------------

/// The value of the string field `key` of one flat JSON object on one line; "" when absent.
std::string JsonField(const std::string& line, const std::string& key) {
  const std::string quoted = "\"" + key + "\":\"";
  auto at = line.find(quoted);
  if (at == std::string::npos) return "";
  std::string value;
  for (size_t i = at + quoted.size(); i < line.size() && line[i] != '"'; ++i) {
    if (line[i] != '\\' || i + 1 >= line.size()) {
      value += line[i];
      continue;
    }
    const char escaped = line[++i];
    // Addresses and marks never need \uXXXX; keep the escape as written.
    if (escaped == 'u') value += "\\u";
    else if (escaped == 'n') value += '\n';
    else if (escaped == 't') value += '\t';
    else value += escaped;
  }
  return value;
}

/// Rows of comma- (or `delimiter`-) separated text with quoted fields; lines that begin with
/// `comment` outside quotes are left out.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text, char delimiter,
                                              char comment) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, line_start = true;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (line_start && !quoted && c == comment) {
      while (i < text.size() && text[i] != '\n') ++i;
      continue;
    }
    line_start = false;
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') field += text[++i];
      else if (c == '"') quoted = false;
      else field += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == delimiter) {
      row.push_back(std::move(field));
      field.clear();
    } else if (c == '\n') {
      if (!field.empty() && field.back() == '\r') field.pop_back();
      row.push_back(std::move(field));
      field.clear();
      rows.push_back(std::move(row));
      row.clear();
      line_start = true;
    } else {
      field += c;
    }
  }
  if (!field.empty() || !row.empty()) {
    row.push_back(std::move(field));
    rows.push_back(std::move(row));
  }
  return rows;
}

/// The addresses in column `url_column` of the rows whose `flag_column` equals `broken`; the
/// first row names the columns.
std::set<std::string> BrokenFromCsv(const std::vector<std::vector<std::string>>& rows,
                                    const std::string& url_column, const std::string& flag_column,
                                    const std::string& broken) {
  std::set<std::string> found;
  if (rows.empty()) return found;
  auto column = [&](const std::string& name) {
    auto at = std::find(rows[0].begin(), rows[0].end(), name);
    return at == rows[0].end() ? rows[0].size() : static_cast<size_t>(at - rows[0].begin());
  };
  const size_t url = column(url_column), flag = column(flag_column);
  for (size_t r = 1; r < rows.size(); ++r)
    if (url < rows[r].size() && flag < rows[r].size() && rows[r][flag] == broken)
      found.insert(Normalise(rows[r][url]));
  return found;
}

std::set<std::string> VoxtrelBroken(const std::string& out) {
  std::set<std::string> found;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (JsonField(line, "mark") != "×") continue;
    std::string url = JsonField(line, "resolved");
    found.insert(Normalise(url.empty() ? JsonField(line, "url") : url));
  }
  return found;
}

std::set<std::string> LinkinatorBroken(const std::string& out) {
  return BrokenFromCsv(ReadCsv(out, ',', '\0'), "url", "state", "BROKEN");
}

std::set<std::string> LinkcheckerBroken(const std::string& out) {
  return BrokenFromCsv(ReadCsv(out, ';', '#'), "url", "valid", "False");
}

// ---- running the tools ---------------------------------------------------------------------

struct Tool {
  std::string name;
  std::string program;  // empty: not installed
  std::vector<std::string> args;
  std::function<std::set<std::string>(const std::string&)> broken;
  int slots;  // requests it sends one host at once at most
};

struct Measure {
  bool ran = false;
  bool timed_out = false;
  int exit_status = -1;  // -1: ended by a signal
  double wall_s = 0;
  double cpu_s = 0;
  double peak_mib = 0;
  long site_requests = 0;
  long all_requests = 0;
  std::set<std::string> broken;
  std::string last_error_line;
  SlotUse slots;  // the crawled host's
  bool slots_overflowed = false;
};

/// `name` as given in the environment variable `variable`, else the first executable of that
/// name on PATH; "" when there is none.
std::string FindProgram(const char* variable, const std::string& name) {
  if (const char* given = std::getenv(variable); given && *given)
    return access(given, X_OK) == 0 ? given : "";
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0 && !fs::is_directory(candidate)) return candidate;
  }
  return "";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// Waits for `pid` for at most kToolTimeoutS, killing it then; fills `usage` and `status`.
bool WaitBounded(pid_t pid, int* status, rusage* usage, bool* timed_out) {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd ready{pidfd, POLLIN, 0};
    if (poll(&ready, 1, kToolTimeoutS * 1000) == 0) {
      *timed_out = true;
      kill(pid, SIGKILL);
    }
    close(pidfd);
  }
  return wait4(pid, status, 0, usage) == pid;
}

/// Runs `tool` with stdout and stderr to files and measures it with wait4(): its ru_maxrss is
/// the peak of the tool and of any children it waited for.
Measure Run(const Tool& tool, voxtrel::bench::ServerProcess& servers, SlotLog& slots,
            const fs::path& scratch) {
  std::vector<std::string> args = {tool.program};
  args.insert(args.end(), tool.args.begin(), tool.args.end());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const fs::path out = scratch / "stdout", err = scratch / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0666);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0666);

  Measure m;
  servers.Reset();
  slots.Reset();
  const int64_t start = voxtrel::bench::SteadyNs();
  pid_t pid = 0;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  if (rc != 0 || !WaitBounded(pid, &status, &usage, &m.timed_out)) {
    std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(rc ? rc : errno));
    return m;
  }
  const int64_t end = voxtrel::bench::SteadyNs();
  m.ran = true;
  m.wall_s = static_cast<double>(end - start) / 1e9;
  m.site_requests = servers.served(0);
  m.all_requests = servers.served_in_all();
  m.slots = voxtrel::bench::MeasureSlotUse(slots.Events(), start, end, tool.slots);
  m.slots_overflowed = slots.Overflowed();
  auto seconds = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
  m.cpu_s = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  m.peak_mib = usage.ru_maxrss / 1024.0;  // Linux reports KiB
  m.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  m.broken = tool.broken(ReadFile(out));
  std::istringstream lines(ReadFile(err));
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) m.last_error_line = line;
  return m;
}

std::vector<std::string> Difference(const std::set<std::string>& a,
                                    const std::set<std::string>& b) {
  std::vector<std::string> only_a;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(only_a));
  return only_a;
}

void PrintSome(const char* what, const std::vector<std::string>& urls) {
  if (urls.empty()) return;
  std::printf("      %s %zu:", what, urls.size());
  for (size_t i = 0; i < urls.size() && i < 4; ++i) std::printf(" %s", urls[i].c_str());
  std::printf("%s\n", urls.size() > 4 ? " …" : "");
}

void PrintRow(const Tool& tool, const Measure& m, const Site& site) {
  if (tool.program.empty()) {
    std::printf("%-44s skipped: not installed\n", tool.name.c_str());
    return;
  }
  if (!m.ran) {
    std::printf("%-44s did not run\n", tool.name.c_str());
    return;
  }
  const bool same = m.broken == site.expected_broken;
  std::printf("%-44s %7.2f %6.2f %7ld / %-6ld %8.1f %7zu  %s", tool.name.c_str(), m.wall_s, m.cpu_s,
              m.site_requests, m.all_requests, m.peak_mib, m.broken.size(), same ? "yes" : "NO");
  if (m.timed_out) std::printf(" [killed after %d s]", kToolTimeoutS);
  // Link checkers exit 1 when they found broken links; anything else is worth a look.
  if (m.exit_status != 0 && m.exit_status != 1)
    std::printf(" [exit %d: %s]", m.exit_status, m.last_error_line.c_str());
  std::printf("\n");
  PrintSome("missed", Difference(site.expected_broken, m.broken));
  PrintSome("extra", Difference(m.broken, site.expected_broken));
}

/// The least time the site's pages could take with `slots` requests to its host at once: each
/// of its addresses asked once, `slots` answers per answer time, and never less than the chain
/// of pages from the start page to the farthest one, each known only once the one before it
/// was answered.
double PolitenessBound(const Site& site, int slots) {
  const long rounds = std::max<long>((site.site_addresses + slots - 1) / slots, site.depth + 1);
  return static_cast<double>(rounds) * kLatencyMs / 1000.0;
}

/// The second line of a run: the crawled host's busy slots against the bound.
void PrintSlotUse(const Tool& tool, const Measure& m, const Site& site) {
  if (!m.ran) return;
  const double bound = PolitenessBound(site, tool.slots);
  std::printf(
      "      %d slots: bound %.2f s, wall/bound %.2f; busy %.1f on average (%.0f %%), "
      "peak %d, all busy %.0f %% of the run%s\n",
      tool.slots, bound, m.wall_s / bound, m.slots.average, 100.0 * m.slots.average / tool.slots,
      m.slots.peak, 100.0 * m.slots.full, m.slots_overflowed ? " [log full: figures short]" : "");
  // Between its first request and its last answer the site's own pace shows, without the
  // tool's start and its checks of other hosts after the site's last page.
  const double span = m.slots.last_s - m.slots.first_s;
  std::printf("      asked from %.2f s to %.2f s, busy %.1f on average then; by tenth of the run:",
              m.slots.first_s, m.slots.last_s, span > 0 ? m.slots.average * m.wall_s / span : 0.0);
  for (double busy : m.slots.buckets) std::printf(" %4.1f", busy);
  std::printf("\n");
  std::fflush(stdout);
}

void PrintVerdict(const char* what, double value, double target) {
  std::printf("%-58s %6.2f  (target <= %.2f: %s)\n", what, value, target,
              value <= target ? "met" : "MISSED");
}

/// The checkers run on `site`; `slots` is the requests each sends one host at once at most.
std::vector<Tool> Tools(const Site& site) {
  const std::string voxtrel = VOXTREL_CHECK_PATH;
  return {
      {"voxtrel-check --crawl (defaults)",
       voxtrel,
       {"--crawl", "--links", "all", "--format", "json", site.start},
       VoxtrelBroken,
       kDefaultPerHost},
      {"voxtrel-check --crawl --per-host 64 -j 128",
       voxtrel,
       {"--crawl", "--links", "all", "--format", "json", "--per-host", "64", "-j", "128",
        site.start},
       VoxtrelBroken,
       64},
      // It checks links to other hosts as well, and crawls only below the address it is given:
      // the folder, not its index page. It has no limit per host: its 100 may all go to one.
      {"linkinator --recurse (concurrency 100)",
       FindProgram("LINKINATOR", "linkinator"),
       {site.folder, "--recurse", "--format", "csv"},
       LinkinatorBroken,
       100},
      // By default ten threads, robots.txt honoured on every host it asks, and at most ten
      // requests a second to one host (its maxrequestspersecond; a third of that on average).
      {"linkchecker --check-extern (10 threads)",
       FindProgram("LINKCHECKER", "linkchecker"),
       {"--check-extern", "--no-warnings", "--no-status", "-o", "csv", site.start},
       LinkcheckerBroken,
       10},
  };
}

void PrintSite(const SiteShape& shape, const Site& site) {
  std::printf(
      "Site \"%s\" %s: %s; depth %d, %ld links, %zu broken; %ld site-host addresses; "
      "%d ms per answer\n",
      shape.name, site.start.c_str(), site.summary.c_str(), site.depth, site.links,
      site.expected_broken.size(), site.site_addresses, kLatencyMs);
  std::printf("Politeness bound: max(ceil(site-host addresses / slots), depth + 1) x %d ms\n",
              kLatencyMs);
  std::ifstream loadavg("/proc/loadavg");
  std::string load;
  std::getline(loadavg, load);
  std::printf("Load average at start: %s\n\n", load.c_str());
  std::printf("%-44s %7s %6s %16s %8s %7s  %s\n", "tool", "wall s", "cpu s", "requests site/all",
              "peak MiB", "broken", "as expected");
}

/// Runs `tool` `runs` times, printing each run, and returns the fastest: on a shared machine
/// the others measure the neighbours as well.
Measure RunFastest(const Tool& tool, int runs, const Site& site,
                   voxtrel::bench::ServerProcess& servers, SlotLog& slots,
                   const fs::path& scratch) {
  Measure fastest;
  for (int run = 0; run < runs; ++run) {
    Measure m = tool.program.empty() ? Measure{} : Run(tool, servers, slots, scratch);
    PrintRow(tool, m, site);
    PrintSlotUse(tool, m, site);
    if (m.ran && (!fastest.ran || m.wall_s < fastest.wall_s)) fastest = std::move(m);
    if (tool.program.empty()) break;
  }
  return fastest;
}

/// The targets, from the fastest run of each tool: the defaults, the wide run and linkinator.
void PrintVerdicts(const Site& site, const std::vector<Measure>& measures) {
  std::printf("\n");
  const Measure &plain = measures[0], &wide = measures[1], &linkinator = measures[2];
  if (plain.ran)
    PrintVerdict("Voxtrel (defaults) wall / politeness bound",
                 plain.wall_s / PolitenessBound(site, kDefaultPerHost), 1.25);
  if (wide.ran && linkinator.ran) {
    PrintVerdict("Voxtrel (--per-host 64 -j 128) wall / linkinator wall",
                 wide.wall_s / linkinator.wall_s, 0.5);
    PrintVerdict("Voxtrel peak (larger of its two runs) / linkinator peak",
                 std::max(plain.peak_mib, wide.peak_mib) / linkinator.peak_mib, 1.0 / 3);
  }
  std::printf("\n");
}

/// Serves the site of `shape` and runs each tool whose name begins with one of `chosen` (every
/// tool when none is) on it `runs` times.
void RunShape(const SiteShape& shape, const std::vector<std::string>& chosen, int runs,
              const fs::path& scratch) {
  const int refused_port = RefusedPort();
  SlotLog slots;
  voxtrel::bench::ServerProcess servers(
      kHosts, [&](std::atomic<long>* served, int ports_fd, int stop_fd) {
        Serve(shape, &slots, served, refused_port, ports_fd, stop_fd);
      });
  const Site site = shape.make(servers.ports(), refused_port);
  PrintSite(shape, site);
  std::vector<Measure> measures;
  for (const Tool& tool : Tools(site)) {
    const bool wanted = chosen.empty() || std::any_of(chosen.begin(), chosen.end(), [&](auto& a) {
                          return tool.name.starts_with(a);
                        });
    measures.push_back(wanted ? RunFastest(tool, runs, site, servers, slots, scratch) : Measure{});
  }
  PrintVerdicts(site, measures);
}

/// The site of `shape` for a tool tried by hand, until stdin ends; then what each host was asked.
void ServeOnly(const SiteShape& shape) {
  const int refused_port = RefusedPort();
  voxtrel::bench::ServerProcess servers(
      kHosts, [&](std::atomic<long>* served, int ports_fd, int stop_fd) {
        Serve(shape, nullptr, served, refused_port, ports_fd, stop_fd);
      });
  std::printf("%s\n", shape.make(servers.ports(), refused_port).start.c_str());
  for (std::string line; std::getline(std::cin, line);) {
  }
  std::printf("requests: %ld site, %ld in all\n", servers.served(0), servers.served_in_all());
}

int Usage() {
  std::fprintf(stderr,
               "usage: voxtrel_crawl_bench [--shape bounded|tree|flat]... [--runs N] "
               "[voxtrel|linkinator|linkchecker]...\n"
               "       voxtrel_crawl_bench --serve [--shape bounded|tree|flat]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each row as soon as its tool is done
  std::vector<std::string> chosen;
  std::vector<SiteShape> shapes;
  bool serve_only = false;
  int runs = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--serve") {
      serve_only = true;
    } else if (arg == "--shape" && i + 1 < argc) {
      const auto& all = voxtrel::bench::SiteShapes();
      auto found = std::find_if(all.begin(), all.end(), [&](const SiteShape& s) {
        return argv[i + 1] == std::string(s.name);
      });
      if (found == all.end()) return Usage();
      shapes.push_back(*found);
      ++i;
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
      if (runs < 1) return Usage();
    } else if (arg.starts_with("-")) {
      return Usage();
    } else {
      chosen.push_back(arg);
    }
  }
  if (shapes.empty()) shapes = voxtrel::bench::SiteShapes();
  if (serve_only) {
    if (!chosen.empty()) return Usage();
    ServeOnly(shapes[0]);
    return 0;
  }
  std::string templ = (fs::temp_directory_path() / "voxtrel-crawl-bench-XXXXXX").string();
  if (!mkdtemp(templ.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  for (const SiteShape& shape : shapes) RunShape(shape, chosen, runs, templ);
  std::error_code ignored;  // a leftover temporary folder is harmless
  fs::remove_all(templ, ignored);
  return 0;
}
