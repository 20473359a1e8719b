// What the cache between runs saves: the real voxtrel-check on 5,000 links to a local server
// that answers each after 50 ms, without a cache, then twice with one (cold, then warm).

#include <fcntl.h>
#include <httplib.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "server_process.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kLinks = 5000;
constexpr int kLinksPerPage = 100;
constexpr int kLatencyMs = 50;
// One link in this many is dead: those are asked again on every run, as they should be.
constexpr int kDeadEvery = 50;
// More than the checker opens to one host, so no connection waits for a thread.
constexpr int kServerThreads = 80;

void Serve(std::atomic<long>* served, int ports_fd, int stop_fd) {
  httplib::Server server;
  server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  server.set_keep_alive_max_count(1000000);
  server.set_tcp_nodelay(true);
  server.Get(R"(/l/(\d+))", [served](const httplib::Request& req, httplib::Response& res) {
    served->fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(kLatencyMs));
    res.status = std::stoi(req.matches[1]) % kDeadEvery == 0 ? 404 : 200;
    res.set_content("<html><body>ok</body></html>", "text/html");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  if (port <= 0 || write(ports_fd, &port, sizeof port) != sizeof port) _exit(1);
  std::thread([&server] { server.listen_after_bind(); }).detach();
  char end;
  while (read(stop_fd, &end, 1) > 0) {
  }
  server.stop();
}

fs::path WritePages(const fs::path& folder, int port) {
  fs::create_directories(folder / "site");
  const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/l/";
  for (int first = 0; first < kLinks; first += kLinksPerPage) {
    std::ofstream page(folder / "site" / ("page" + std::to_string(first / kLinksPerPage) + ".htm"));
    for (int i = first; i < first + kLinksPerPage; ++i)
      page << "<A HREF=\"" << base << i << "\">link " << i << "</A><br>\r\n";
  }
  return folder / "site";
}

// Runs the checker with `extra` options on `site`, its rows thrown away; the wall time in
// seconds, or a negative number when it could not run.
double RunCheck(const fs::path& site, std::vector<std::string> extra, int* exit_status) {
  std::vector<std::string> args = {VOXTREL_CHECK_PATH, "-q"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(site.string());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (rc != 0 || waitpid(pid, &status, 0) != pid) {
    std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(rc ? rc : errno));
    return -1;
  }
  *exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  voxtrel::bench::ServerProcess servers(1, Serve);
  std::string templ = (fs::temp_directory_path() / "voxtrel-cache-bench-XXXXXX").string();
  if (!mkdtemp(templ.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path folder = templ;
  const fs::path site = WritePages(folder, servers.ports()[0]);
  const std::string cache = (folder / "cache" / "cache.sqlite").string();
  std::printf("%d links (1 in %d dead) to one server answering after %d ms, default limits\n",
              kLinks, kDeadEvery, kLatencyMs);
  const struct {
    const char* name;
    std::vector<std::string> options;
  } runs[] = {
      {"no cache", {}},
      {"cold cache", {"--cache-file", cache}},
      {"warm cache", {"--cache-file", cache}},
  };
  double cold_s = 0;
  for (const auto& run : runs) {
    const long before = servers.served_in_all();
    int status = -1;
    const double seconds = RunCheck(site, run.options, &status);
    if (seconds < 0) return 1;
    std::printf("%-10s: %6.2f s, %5ld requests served, exit %d\n", run.name, seconds,
                servers.served_in_all() - before, status);
    if (run.name == runs[1].name) cold_s = seconds;
    if (run.name == runs[2].name)
      std::printf("saved by the cache: %.2f s (%.0f %%)\n", cold_s - seconds,
                  100 * (cold_s - seconds) / cold_s);
    std::fflush(stdout);
  }
  std::error_code ignored;  // a leftover temporary folder is harmless
  fs::remove_all(folder, ignored);
  return 0;
}
