// Throughput and memory of the real voxtrel-check against slow local servers.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <httplib.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "server_process.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr size_t kHugeBody = size_t{1} << 30;
constexpr int kLinksPerPage = 100;
constexpr int kServerThreads = 64;

struct Scenario {
  char letter;
  int links;
  int ports;
  int latency_ms;
  bool huge_bodies;         // every answer streams 1 GiB
  bool slow_one_at_a_time;  // its -j 1 run needs --slow
  double wall_target_s;     // 0: none; checked on the -j 64 run only
  double peak_target_mib;   // 0: none
  bool silent = false;      // hosts that take the connection and never answer
  bool https_only = false;  // links passed over unasked: no server at all
};

const Scenario kScenarios[] = {
    {'a', 400, 10, 50, false, false, 0, 0},     // spread over hosts
    {'b', 400, 1, 50, false, false, 3.125, 0},  // 1.25 x the per-host bound 400 x 50 ms / 8
    {'c', 5000, 10, 20, false, true, 0, 30},    // a larger site
    {'d', 64, 64, 0, true, false, 0, 64},       // bodies far past the cap
    {'e', 100000, 10, 0, false, true, 0, 100},  // the row list of a huge site
    // A link collection of vanished hosts: each ties a request place up for the whole time-out.
    {'f', 400, 400, 0, false, false, 0, 0, true},
    // Links that need no request at all must cost no waiting.
    {'g', 5000, 0, 0, false, false, 0, 0, false, true},
};

// The time-out the silent hosts run out, in seconds.
constexpr int kSilentTimeoutS = 2;

bool StreamHugeBody(size_t offset, httplib::DataSink& sink) {
  static const std::string chunk(size_t{64} << 10, 'x');
  if (offset >= kHugeBody) {
    sink.done();
    return true;
  }
  return sink.write(chunk.data(), chunk.size());
}

/// Serves `s` on s.ports servers, writes their ports to `ports_fd`, counts each GET in `served`
/// and returns once `stop_fd` reaches its end.
void Serve(const Scenario& s, std::atomic<long>* served, int ports_fd, int stop_fd) {
  // The checker hangs up at its body cap while a server is still writing.
  std::signal(SIGPIPE, SIG_IGN);
  if (s.silent) {
    // Listening sockets never accepted from: the kernel completes the connection, nobody reads.
    for (int i = 0; i < s.ports; ++i) {
      int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t len = sizeof addr;
      if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, 16) != 0 ||
          getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        _exit(1);
      int port = ntohs(addr.sin_port);
      if (write(ports_fd, &port, sizeof port) != sizeof port) _exit(1);
    }
    char end;
    while (read(stop_fd, &end, 1) > 0) {
    }
    return;
  }
  std::vector<std::unique_ptr<httplib::Server>> servers;
  for (int i = 0; i < s.ports; ++i) {
    auto& svr = *servers.emplace_back(std::make_unique<httplib::Server>());
    // One thread per kept-alive connection: the pool must outnumber what the checker opens to
    // one host, or new connections queue behind idle ones until their time-out.
    svr.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    svr.set_keep_alive_max_count(1000000);
    // httplib writes head and body apart; with Nagle on, a reused connection waits for the
    // client's delayed ACK (~40 ms) before the body goes out.
    svr.set_tcp_nodelay(true);
    svr.Get(".*", [&s, served](const httplib::Request&, httplib::Response& res) {
      served->fetch_add(1);
      if (s.latency_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(s.latency_ms));
      // Not text: httplib would gzip a text body for a checker that accepts it compressed, and
      // 64 GiB of deflate would be all the bench measured.
      if (s.huge_bodies)
        res.set_chunked_content_provider("application/octet-stream", StreamHugeBody);
      else
        res.set_content("<html><body>ok</body></html>", "text/html");
    });
    int port = svr.bind_to_any_port("127.0.0.1");
    if (port <= 0 || write(ports_fd, &port, sizeof port) != sizeof port) _exit(1);
    std::thread([&svr] { svr.listen_after_bind(); }).detach();
  }
  char end;
  while (read(stop_fd, &end, 1) > 0) {
  }
}

/// Writes pages of kLinksPerPage unique links spread round-robin over `bases` into a new
/// temporary folder and returns it; exits when the folder cannot be made.
fs::path WritePages(int links, std::vector<std::string> bases) {
  if (bases.empty()) bases.push_back("https://127.0.0.1:1");
  std::string templ = (fs::temp_directory_path() / "voxtrel-bench-XXXXXX").string();
  if (!mkdtemp(templ.data())) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  fs::path folder = templ;
  for (int first = 0; first < links; first += kLinksPerPage) {
    std::ofstream page(folder / ("page" + std::to_string(first / kLinksPerPage) + ".htm"));
    page << "<html><body>\n";
    for (int i = first; i < links && i < first + kLinksPerPage; ++i)
      page << "<A HREF=\"" << bases[i % bases.size()] << "/l/" << i << "\">link " << i
           << "</A><br>\n";
    page << "</body></html>\n";
  }
  return folder;
}

struct Measure {
  bool ran = false;
  int exit_status = -1;  // -1: ended by a signal
  double wall_s = 0;
  double cpu_s = 0;
  double peak_mib = 0;
};

/// Runs voxtrel-check on `folder` with stdout to /dev/null and measures it with wait4().
Measure RunCheck(const fs::path& folder, int jobs, const Scenario& s) {
  std::vector<std::string> args = {VOXTREL_CHECK_PATH, "-q", "-j", std::to_string(jobs)};
  if (s.silent) args.insert(args.end(), {"--timeout", std::to_string(kSilentTimeoutS)});
  args.push_back(folder.string());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);

  Measure m;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  if (rc != 0 || wait4(pid, &status, 0, &usage) != pid) {
    std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(rc ? rc : errno));
    return m;
  }
  m.ran = true;
  m.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  auto seconds = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
  m.cpu_s = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  m.peak_mib = usage.ru_maxrss / 1024.0;  // Linux reports KiB
  m.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m;
}

void RunOnce(const Scenario& s, const fs::path& folder, const voxtrel::bench::ServerProcess& servers,
             int jobs) {
  long served_before = servers.served_in_all();
  Measure m = RunCheck(folder, jobs, s);
  long served = servers.served_in_all() - served_before;
  std::printf("(%c) %d links, %d port%s, %d ms%s, -j %d: ", s.letter, s.links, s.ports,
              s.ports == 1 ? "" : "s", s.latency_ms, s.huge_bodies ? ", 1 GiB bodies" : "", jobs);
  if (!m.ran) {
    std::printf("did not run\n");
    return;
  }
  std::printf("wall %.2f s, %.0f req/s, cpu %.2f ms/req, peak %.1f MiB", m.wall_s,
              s.links / m.wall_s, m.cpu_s * 1000 / s.links, m.peak_mib);
  // A run that failed or skipped links measured something else; say so beside its figures.
  const long expected = s.silent || s.https_only ? 0 : s.links;
  const int clean = s.silent ? 1 : 0;
  if (m.exit_status != clean || served != expected)
    std::printf(" [exit %d, %ld requests served]", m.exit_status, served);
  if (jobs > 1 && s.wall_target_s > 0)
    std::printf(" [wall target %.2f s: %s]", s.wall_target_s,
                m.wall_s <= s.wall_target_s ? "met" : "MISSED");
  if (s.peak_target_mib > 0)
    std::printf(" [peak target %.0f MiB: %s]", s.peak_target_mib,
                m.peak_mib < s.peak_target_mib ? "met" : "MISSED");
  std::printf("\n");
  std::fflush(stdout);
}

void RunScenario(const Scenario& s, bool slow) {
  voxtrel::bench::ServerProcess servers(s.ports, [&s](std::atomic<long>* served, int ports_fd, int stop_fd) {
    Serve(s, served, ports_fd, stop_fd);
  });
  std::vector<std::string> bases;
  for (int port : servers.ports()) bases.push_back("http://127.0.0.1:" + std::to_string(port));
  fs::path folder = WritePages(s.links, bases);
  if (s.silent) {
    // Bounded below by links / jobs waves of one time-out each.
    for (int jobs : {64, 128}) RunOnce(s, folder, servers, jobs);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return;
  }
  RunOnce(s, folder, servers, 64);
  if (s.slow_one_at_a_time && !slow)
    std::printf("(%c) -j 1 skipped; pass --slow\n", s.letter);
  else
    RunOnce(s, folder, servers, 1);
  std::error_code ignored;  // a leftover temporary folder is harmless
  fs::remove_all(folder, ignored);
}

}  // namespace

int main(int argc, char** argv) {
  bool slow = false;
  std::string letters;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--slow") {
      slow = true;
      continue;
    }
    for (char c : arg) {
      if (c < 'a' || c > 'g') {
        std::fprintf(stderr, "usage: voxtrel_bench [--slow] [scenario letters a-g]\n");
        return 2;
      }
      letters += c;
    }
  }
  if (letters.empty()) letters = "abcdefg";
  for (const Scenario& s : kScenarios)
    if (letters.find(s.letter) != std::string::npos) RunScenario(s, slow);
  return 0;
}
