// The same site checked by voxtrel-check and by the window, against fast servers on 127.0.0.1:
// both wall times and their ratio. Run it under a display (xvfb-run -a) so the window paints as
// it does for a user; QT_QPA_PLATFORM=offscreen also works.
//
//   voxtrel_window_bench [--pages N] [--links N] [--ports N] [--latency MS] [--sort-after MS]
//                        [--abort-after MS] [--rounds N] [--only window]
// With several rounds the checker and the window take turns; the best time of each is compared.
// --latency slows every answer (for pictures of a run under way); --sort-after clicks the URL
// header that long into the window's run, --abort-after the abort button.

#include <httplib.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QHeaderView>
#include <QTimer>
#include <QTreeView>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/link_main.h"
#include "app/window_pool.h"
#include "platform/disk.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  int pages = 20;
  int links = 1000;  // per page
  int ports = 16;
  int latency_ms = 0;
  int sort_after_ms = -1;  // click the URL header this long into the window's run
  int abort_after_ms = -1;
  int rounds = 1;
  bool checker = true;
};

/// Answers every GET at once on `ports` servers in a child process; their ports come back.
std::vector<int> StartServers(int ports, int latency_ms, pid_t* pid) {
  int fds[2];
  if (pipe(fds) != 0 || (*pid = fork()) < 0) std::exit(1);
  if (*pid == 0) {
    close(fds[0]);
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::unique_ptr<httplib::Server>> servers;
    for (int i = 0; i < ports; ++i) {
      auto& svr = *servers.emplace_back(std::make_unique<httplib::Server>());
      svr.new_task_queue = [] { return new httplib::ThreadPool(32); };
      svr.set_keep_alive_max_count(1000000);
      svr.set_tcp_nodelay(true);
      svr.Get(".*", [latency_ms](const httplib::Request&, httplib::Response& res) {
        if (latency_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(latency_ms));
        res.set_content("<html><body>ok</body></html>", "application/octet-stream");
      });
      int port = svr.bind_to_any_port("127.0.0.1");
      if (port <= 0 || write(fds[1], &port, sizeof port) != sizeof port) _exit(1);
      std::thread([&svr] { svr.listen_after_bind(); }).detach();
    }
    close(fds[1]);
    pause();
    _exit(0);
  }
  close(fds[1]);
  std::vector<int> result(static_cast<size_t>(ports));
  for (int& port : result)
    if (read(fds[0], &port, sizeof port) != sizeof port) std::exit(1);
  close(fds[0]);
  return result;
}

void WriteSite(const fs::path& folder, const Options& o, const std::vector<int>& ports) {
  fs::create_directories(folder);
  for (int p = 0; p < o.pages; ++p) {
    std::ofstream page(folder / ("page" + std::to_string(100 + p) + ".htm"), std::ios::binary);
    page << "<HTML><BODY>\r\n";
    for (int l = 0; l < o.links; ++l) {
      const int port =
          ports[static_cast<size_t>((p * o.links + l) % static_cast<int>(ports.size()))];
      page << "<A HREF=\"http://127.0.0.1:" << port << "/p" << p << "/l" << l << ".htm\">link " << l
           << "</A><BR>\r\n";
    }
    page << "</BODY></HTML>\r\n";
  }
}

double CheckerSeconds(const fs::path& folder) {
  const std::string path = VOXTREL_CHECK_PATH;
  std::vector<std::string> args = {path, "-a", "-q", folder.string()};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const Clock::time_point start = Clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) std::exit(1);
  int status = 0;
  waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

/// The window, every message answered OK at once.
class BenchWindow : public voxtrel::Link_Main {
 public:
  using Link_Main::Link_Main;

 protected:
  voxtrel::MessageAnswer ShowMessageBox(const std::string&, const std::string&,
                                        const std::string&, voxtrel::MessageIcon,
                                        voxtrel::MessageButtons) override {
    return voxtrel::MessageAnswer::kOk;
  }
  void EndProgram() override {}
};

}  // namespace

int main(int argc, char* argv[]) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (name == "--pages")
      o.pages = value;
    else if (name == "--links")
      o.links = value;
    else if (name == "--ports")
      o.ports = value;
    else if (name == "--latency")
      o.latency_ms = value;
    else if (name == "--abort-after")
      o.abort_after_ms = value;
    else if (name == "--rounds")
      o.rounds = std::max(1, value);
    else if (name == "--sort-after")
      o.sort_after_ms = value;
    else if (name == "--only")
      o.checker = std::strcmp(argv[i + 1], "window") != 0;
  }
  pid_t server = 0;
  const std::vector<int> ports = StartServers(o.ports, o.latency_ms, &server);
  const fs::path work =
      fs::temp_directory_path() / ("voxtrel-window-bench-" + std::to_string(getpid()));
  WriteSite(work / "site", o, ports);
  const int links = o.pages * o.links;

  QApplication app(argc, argv);
  voxtrel::PosixDisk disk;
  voxtrel::WindowPool http;
  BenchWindow window(work.string(), disk, http);
  window.show();
  window.SetFolder((work / "site").string());
  QApplication::processEvents();

  double best_checker = 1e9;
  double best_window = 1e9;
  for (int round = 0; round < o.rounds; ++round) {
    if (o.checker) {
      const double checker_s = CheckerSeconds(work / "site");
      best_checker = std::min(best_checker, checker_s);
      std::printf("checker: %d links in %.2f s\n", links, checker_s);
      std::fflush(stdout);
    }
    if (o.sort_after_ms >= 0) {
      QTimer::singleShot(o.sort_after_ms, &window, [&window] {
        const Clock::time_point clicked = Clock::now();
        window.ListView1_ColumnClick(voxtrel::kColTarget);
        std::printf("header click with %zu rows: %.1f ms\n", window.results().Count(),
                    std::chrono::duration<double, std::milli>(Clock::now() - clicked).count());
      });
    }
    Clock::time_point aborted;
    if (o.abort_after_ms >= 0) {
      QTimer::singleShot(o.abort_after_ms, &window, [&window, &aborted] {
        aborted = Clock::now();
        window.Command2_Click();
      });
    }
    const Clock::time_point start = Clock::now();
    window.Command1_Click();
    const double window_s = std::chrono::duration<double>(Clock::now() - start).count();
    if (o.abort_after_ms >= 0)
      std::printf("abort to the end of the run: %.1f ms\n",
                  std::chrono::duration<double, std::milli>(Clock::now() - aborted).count());
    best_window = std::min(best_window, window_s);
    std::printf("window:  %zu rows in %.2f s\n", window.results().Count(), window_s);
    std::fflush(stdout);
  }
  if (o.checker)
    std::printf("best of %d: checker %.2f s, window %.2f s, window / checker %.2f\n", o.rounds,
                best_checker, best_window, best_window / best_checker);

  kill(server, SIGKILL);
  waitpid(server, nullptr, 0);
  fs::remove_all(work);
  return 0;
}
