// A crawl of a generated site by the real voxtrel-check and by other link checkers: wall time,
// requests served, peak memory and the broken links each one reports.

#include <arpa/inet.h>
#include <fcntl.h>
// A checker's burst of new connections to one host must not overflow the accept queue: each
// handshake dropped there costs a one-second retransmission the figures would blame on the tool.
#define CPPHTTPLIB_LISTEN_BACKLOG 1024
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server_process.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kPages = 500;
constexpr int kPageLinks = 3;
constexpr int kOtherHosts = 10;
constexpr int kHosts = 1 + kOtherHosts;  // host 0 is the crawled site
constexpr int kOtherLinks = 5;
constexpr int kOtherAddresses = 1500;  // distinct pages on the other hosts; some are linked twice
constexpr int kLatencyMs = 50;
constexpr int kDefaultPerHost = 8;
// More threads than any checker opens connections to one host: an idle kept-alive connection
// holds its thread, and a new one would queue behind it until the keep-alive time-out.
constexpr int kServerThreads = 160;
constexpr int kToolTimeoutS = 600;

// A 1 x 1 transparent PNG.
constexpr unsigned char kPng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1f,
    0x15, 0xc4, 0x89, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x00,
    0x01, 0x00, 0x00, 0x05, 0x00, 0x01, 0x0d, 0x0a, 0x2d, 0xb4, 0x00, 0x00, 0x00, 0x00, 0x49,
    0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

struct Resource {
  std::string type;
  std::string body;
};

struct Site {
  std::vector<std::string> bases;             // http://127.0.0.1:PORT of each host
  std::vector<std::map<std::string, Resource>> files;  // by host, then path
  std::string start;                          // the start page's address
  std::string folder;                         // the start page's folder, which answers as it
  std::set<std::string> expected_broken;      // normalised absolute addresses
  int depth = 0;                              // link steps from the start page to the farthest page
  long site_addresses = 0;                    // distinct site-host addresses, robots.txt included
  long links = 0;                             // links written in all pages
};

/// `url` with scheme and host in lower case, no default port, no fragment and at least "/" as
/// path, so that the addresses several tools print compare equal.
std::string Normalise(std::string url) {
  if (auto hash = url.find('#'); hash != std::string::npos) url.erase(hash);
  auto scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return url;
  auto host_end = url.find_first_of("/?", scheme_end + 3);
  if (host_end == std::string::npos) {
    url += '/';
    host_end = url.size() - 1;
  } else if (url[host_end] == '?') {
    url.insert(host_end, "/");
  }
  std::string head = url.substr(0, host_end);
  std::transform(head.begin(), head.end(), head.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (head.compare(0, 7, "http://") == 0 && head.size() > 3 && head.ends_with(":80"))
    head.resize(head.size() - 3);
  return head + url.substr(host_end);
}

int Level(int page) {
  int level = 0;
  for (; page > 0; page = (page - 1) / 2) ++level;
  return level;
}

std::string Folder(int page) {
  return page == 0 ? "/start/" : "/start/l" + std::to_string(Level(page)) + "/";
}

std::string PagePath(int page) {
  return page == 0 ? "/start/index.html" : Folder(page) + "p" + std::to_string(page) + ".html";
}

/// How `from` writes a path under /start/ relative to its own folder.
std::string Relative(int from, const std::string& path) {
  return (from == 0 ? "" : "../") + path.substr(std::string("/start/").size());
}

/// The pages `page` links to: its children in a binary tree, then cross links to pages no deeper
/// than its children, so the tree's depth stays the crawl's depth. The start page, whose
/// children are all such pages, reaches one level further.
std::vector<int> PageTargets(int page) {
  std::vector<int> targets;
  for (int child : {2 * page + 1, 2 * page + 2})
    if (child < kPages) targets.push_back(child);
  const int levels = Level(page) + (page == 0 ? 3 : 2);
  const int shallow = std::min(kPages, (1 << levels) - 1);
  uint32_t state = static_cast<uint32_t>(page) * 2654435761u + 12345u;
  while (static_cast<int>(targets.size()) < kPageLinks) {
    state = state * 1664525u + 1013904223u;
    const int target = static_cast<int>((state >> 8) % static_cast<uint32_t>(shallow));
    if (target != page && std::find(targets.begin(), targets.end(), target) == targets.end())
      targets.push_back(target);
  }
  return targets;
}

int DepthOf(const std::vector<std::vector<int>>& graph) {
  std::vector<int> depth(graph.size(), -1);
  std::vector<int> queue = {0};
  depth[0] = 0;
  for (size_t next = 0; next < queue.size(); ++next)
    for (int target : graph[queue[next]])
      if (depth[target] < 0) {
        depth[target] = depth[queue[next]] + 1;
        queue.push_back(target);
      }
  if (std::find(depth.begin(), depth.end(), -1) != depth.end()) {
    std::fprintf(stderr, "a page of the generated site cannot be reached\n");
    std::exit(1);
  }
  return *std::max_element(depth.begin(), depth.end());
}

/// The site served on `ports` (the first one is the crawled site), with broken links to missing
/// pages and images, to missing pages of other hosts and to `refused_port`, where nobody listens.
/// The server process and the measuring process build it alike from the same ports.
Site MakeSite(const std::vector<int>& ports, int refused_port) {
  Site site;
  for (int port : ports) site.bases.push_back("http://127.0.0.1:" + std::to_string(port));
  site.files.resize(ports.size());
  site.start = site.bases[0] + PagePath(0);
  for (auto& files : site.files)
    files["/robots.txt"] = {"text/plain", "User-agent: *\nDisallow:\n"};
  const std::string png(reinterpret_cast<const char*>(kPng), sizeof kPng);
  auto on_site = [&](const std::string& path, bool exists, const char* type) {
    if (exists)
      site.files[0][path] = {type, type == std::string("image/png") ? png : ""};
    else
      site.expected_broken.insert(Normalise(site.bases[0] + path));
  };
  std::vector<std::vector<int>> graph(kPages);
  for (int page = 0; page < kPages; ++page) {
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\"><title>ページ "
         << page << "</title></head><body>\n<h1>第" << Level(page) << "階層のページ " << page
         << "</h1>\n<ul>\n";
    auto link = [&](const std::string& href, const std::string& text) {
      html << "<li><a href=\"" << href << "\">" << text << "</a></li>\n";
      ++site.links;
    };
    graph[page] = PageTargets(page);
    for (int target : graph[page]) {
      const bool child = target == 2 * page + 1 || target == 2 * page + 2;
      const std::string path = PagePath(target);
      // Written three ways, as hand-made sites mix them.
      std::string href = child ? Relative(page, path)
                         : page % 5 == 0 ? site.bases[0] + path
                                         : path;
      link(href, "ページ " + std::to_string(target));
    }
    if (page % 50 == 17) {
      link("gone" + std::to_string(page) + ".html", "消えたページ");
      on_site(Folder(page) + "gone" + std::to_string(page) + ".html", false, "");
    }
    html << "</ul>\n<p>";
    const std::string pic = "/start/img/pic" + std::to_string(page * 7 % 60) + ".png";
    const std::string photo = "/start/img/photo" + std::to_string(page % 25) + ".png";
    for (const std::string* image : {&pic, &photo}) {
      html << "<img src=\"" << (image == &pic ? *image : Relative(page, *image))
           << "\" alt=\"写真\">";
      on_site(*image, true, "image/png");
      ++site.links;
    }
    if (page % 60 == 23) {
      const std::string missing = "/start/img/missing" + std::to_string(page / 60 % 4) + ".png";
      html << "<img src=\"" << missing << "\" alt=\"図\">";
      on_site(missing, false, "");
      ++site.links;
    }
    html << "</p>\n<h2>リンク集</h2>\n<ul>\n";
    for (int k = 0; k < kOtherLinks; ++k) {
      const int id = (page * kOtherLinks + k) * 37 % kOtherAddresses;
      const int host = 1 + id % kOtherHosts;
      const std::string path =
          "/ja/" + std::to_string(id / 100) + "/doc" + std::to_string(id) + ".html";
      site.files[host][path] = {"text/html", "<html><body>ok</body></html>"};
      link(site.bases[host] + path, "外部 " + std::to_string(id));
    }
    if (page % 40 == 5) {
      const std::string url = site.bases[1 + page / 40 % kOtherHosts] + "/removed/" +
                              std::to_string(page) + ".html";
      link(url, "移転したサイト");
      site.expected_broken.insert(Normalise(url));
    }
    if (page % 100 == 99) {
      const std::string url = "http://127.0.0.1:" + std::to_string(refused_port) + "/old/" +
                              std::to_string(page / 100 % 3) + ".html";
      link(url, "閉鎖したサイト");
      site.expected_broken.insert(Normalise(url));
    }
    html << "</ul>\n</body></html>\n";
    site.files[0][PagePath(page)] = {"text/html; charset=utf-8", html.str()};
  }
  site.depth = DepthOf(graph);
  site.site_addresses = static_cast<long>(site.files[0].size());
  for (const std::string& url : site.expected_broken)
    if (url.starts_with(site.bases[0] + "/")) ++site.site_addresses;
  // A checker that crawls only below the address it was given needs the folder as its start.
  site.folder = site.bases[0] + Folder(0);
  site.files[0][Folder(0)] = site.files[0][PagePath(0)];
  return site;
}

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

/// Binds kHosts servers, builds the site from their ports, writes the ports to `ports_fd`,
/// answers each request after kLatencyMs, counts it by host in `served` and returns once
/// `stop_fd` reaches its end.
void Serve(std::atomic<long>* served, int refused_port, int ports_fd, int stop_fd) {
  std::signal(SIGPIPE, SIG_IGN);  // checkers hang up on bodies they do not need
  std::vector<std::unique_ptr<httplib::Server>> servers;
  std::vector<int> ports;
  for (int i = 0; i < kHosts; ++i) {
    auto& svr = *servers.emplace_back(std::make_unique<httplib::Server>());
    svr.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    svr.set_keep_alive_max_count(1000000);
    // httplib writes head and body apart; with Nagle on, a reused connection waits for the
    // client's delayed ACK (~40 ms) before the body goes out.
    svr.set_tcp_nodelay(true);
    int port = svr.bind_to_any_port("127.0.0.1");
    if (port <= 0) _exit(1);
    ports.push_back(port);
  }
  const Site site = MakeSite(ports, refused_port);
  for (int i = 0; i < kHosts; ++i) {
    auto& files = site.files[i];
    servers[i]->Get(".*", [&files, counter = &served[i]](const httplib::Request& req,
                                                          httplib::Response& res) {
      counter->fetch_add(1);
      std::this_thread::sleep_for(std::chrono::milliseconds(kLatencyMs));
      auto found = files.find(req.path);
      if (found == files.end()) {
        res.status = 404;
        res.set_content("<html><body>not found</body></html>", "text/html");
        return;
      }
      res.set_content(found->second.body, found->second.type);
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
Measure Run(const Tool& tool, voxtrel::bench::ServerProcess& servers, const fs::path& scratch) {
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
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  if (rc != 0 || !WaitBounded(pid, &status, &usage, &m.timed_out)) {
    std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(rc ? rc : errno));
    return m;
  }
  m.ran = true;
  m.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.site_requests = servers.served(0);
  m.all_requests = servers.served_in_all();
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
  std::printf("%-44s %7.2f %6.2f %7ld / %-6ld %8.1f %7zu  %s", tool.name.c_str(), m.wall_s,
              m.cpu_s, m.site_requests, m.all_requests, m.peak_mib, m.broken.size(),
              same ? "yes" : "NO");
  if (m.timed_out) std::printf(" [killed after %d s]", kToolTimeoutS);
  // Link checkers exit 1 when they found broken links; anything else is worth a look.
  if (m.exit_status != 0 && m.exit_status != 1)
    std::printf(" [exit %d: %s]", m.exit_status, m.last_error_line.c_str());
  std::printf("\n");
  PrintSome("missed", Difference(site.expected_broken, m.broken));
  PrintSome("extra", Difference(m.broken, site.expected_broken));
  std::fflush(stdout);
}

void PrintVerdict(const char* what, double value, double target) {
  std::printf("%-58s %6.2f  (target <= %.2f: %s)\n", what, value, target,
              value <= target ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each row as soon as its tool is done
  std::vector<std::string> chosen(argv + 1, argv + argc);
  const bool serve_only = chosen.size() == 1 && chosen[0] == "--serve";
  if (!serve_only &&
      std::any_of(chosen.begin(), chosen.end(), [](auto& a) { return a.starts_with("-"); })) {
    std::fprintf(stderr,
                 "usage: voxtrel_crawl_bench [voxtrel|linkinator|linkchecker]... | --serve\n");
    return 2;
  }
  const int refused_port = RefusedPort();
  voxtrel::bench::ServerProcess servers(kHosts, [refused_port](std::atomic<long>* served, int ports_fd,
                                                       int stop_fd) {
    Serve(served, refused_port, ports_fd, stop_fd);
  });
  const Site site = MakeSite(servers.ports(), refused_port);
  if (serve_only) {
    // The site for a tool tried by hand, until stdin ends; then what each host was asked.
    std::printf("%s\n", site.start.c_str());
    for (std::string line; std::getline(std::cin, line);) {
    }
    std::printf("requests: %ld site, %ld in all\n", servers.served(0), servers.served_in_all());
    return 0;
  }
  std::string templ = (fs::temp_directory_path() / "voxtrel-crawl-bench-XXXXXX").string();
  if (!mkdtemp(templ.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path scratch = templ;

  std::printf("Site %s: %d pages, depth %d, %ld links (%d per page to pages, 2 images, %d to %d "
              "other hosts), %zu broken; %ld site-host addresses; %d ms per answer\n",
              site.start.c_str(), kPages, site.depth, site.links, kPageLinks, kOtherLinks,
              kOtherHosts, site.expected_broken.size(), site.site_addresses, kLatencyMs);
  std::ifstream loadavg("/proc/loadavg");
  std::string load;
  std::getline(loadavg, load);
  std::printf("Load average at start: %s\n\n", load.c_str());

  const std::string voxtrel = VOXTREL_CHECK_PATH;
  std::vector<Tool> tools = {
      {"voxtrel-check --crawl (defaults)", voxtrel,
       {"--crawl", "--links", "all", "--format", "json", site.start}, VoxtrelBroken},
      {"voxtrel-check --crawl --per-host 64 -j 128", voxtrel,
       {"--crawl", "--links", "all", "--format", "json", "--per-host", "64", "-j", "128",
        site.start},
       VoxtrelBroken},
      // It checks links to other hosts as well, and crawls only below the address it is given:
      // the folder, not its index page.
      {"linkinator --recurse (concurrency 100)", FindProgram("LINKINATOR", "linkinator"),
       {site.folder, "--recurse", "--format", "csv"}, LinkinatorBroken},
      // By default ten threads, robots.txt honoured on every host it asks, and at most ten
      // requests a second to one host (its maxrequestspersecond; a third of that on average).
      {"linkchecker --check-extern (10 threads)", FindProgram("LINKCHECKER", "linkchecker"),
       {"--check-extern", "--no-warnings", "--no-status", "-o", "csv", site.start},
       LinkcheckerBroken},
  };
  std::printf("%-44s %7s %6s %16s %8s %7s  %s\n", "tool", "wall s", "cpu s", "requests site/all",
              "peak MiB", "broken", "as expected");
  std::vector<Measure> measures;
  for (const Tool& tool : tools) {
    const bool wanted = chosen.empty() || std::any_of(chosen.begin(), chosen.end(), [&](auto& a) {
                          return tool.name.starts_with(a);
                        });
    measures.push_back(tool.program.empty() || !wanted ? Measure{} : Run(tool, servers, scratch));
    if (wanted) PrintRow(tool, measures.back(), site);
  }
  std::error_code ignored;  // a leftover temporary folder is harmless
  fs::remove_all(scratch, ignored);

  const double bound = std::max(site.site_addresses * kLatencyMs / 1000.0 / kDefaultPerHost,
                                site.depth * kLatencyMs / 1000.0);
  std::printf("\nPoliteness bound max(%ld site requests x %d ms / %d, depth %d x %d ms) = %.2f s\n",
              site.site_addresses, kLatencyMs, kDefaultPerHost, site.depth, kLatencyMs, bound);
  const Measure &plain = measures[0], &wide = measures[1], &linkinator = measures[2];
  if (plain.ran) PrintVerdict("Voxtrel (defaults) wall / politeness bound", plain.wall_s / bound, 1.25);
  if (wide.ran && linkinator.ran) {
    PrintVerdict("Voxtrel (--per-host 64 -j 128) wall / linkinator wall",
                 wide.wall_s / linkinator.wall_s, 0.5);
    PrintVerdict("Voxtrel peak (larger of its two runs) / linkinator peak",
                 std::max(plain.peak_mib, wide.peak_mib) / linkinator.peak_mib, 1.0 / 3);
  }
  return 0;
}
