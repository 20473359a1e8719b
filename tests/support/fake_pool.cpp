#include "support/fake_pool.h"

#include <algorithm>

namespace voxtrel::test {
namespace {

std::string HostOf(const std::string& url) {
  const size_t start = url.find("://");
  if (start == std::string::npos) return url;
  return url.substr(0, url.find('/', start + 3));
}

}  // namespace

FakePool::FakePool() : script([](const std::string&, int) { return FakeAnswer(); }) {}

bool FakePool::Start(uint64_t id, HttpRequest request) {
  if (cannot_start && cannot_start(request.url)) return false;
  const int n = ++asked[request.url];
  started.push_back(request.url);
  bodies_kept += request.keep_body;
  FakeAnswer answer = script(request.url, n);
  const long due = now_ms + answer.delay_ms;
  flying_.push_back(Flying{id, due, std::move(request), std::move(answer)});
  most_in_flight = std::max(most_in_flight, flying_.size());
  int host = 0;
  int same = 0;
  for (const Flying& f : flying_) {
    host += HostOf(f.request.url) == HostOf(flying_.back().request.url);
    same += f.request.url == flying_.back().request.url;
  }
  int& most_host = most_per_host[HostOf(flying_.back().request.url)];
  most_host = std::max(most_host, host);
  host_load.push_back(host);
  most_per_url = std::max(most_per_url, same);
  return true;
}

void FakePool::Wait(int timeout_ms, std::vector<std::pair<uint64_t, HttpAnswer>>* finished) {
  ++waits;
  if (flying_.empty()) return;
  const auto next = std::min_element(flying_.begin(), flying_.end(),
                                     [](const Flying& a, const Flying& b) { return a.due_ms < b.due_ms; });
  // As a real wait, it ends at the first answer or when its time is up.
  now_ms = std::max(now_ms, std::min(next->due_ms, now_ms + std::max(0, timeout_ms)));
  // Every answer due by now, in the order started, as a pool hands over what completed together.
  for (auto it = flying_.begin(); it != flying_.end();) {
    if (it->due_ms > now_ms) {
      ++it;
      continue;
    }
    HttpAnswer answer;
    answer.status = it->answer.failure == HttpFailure::kNone ? it->answer.status : std::nullopt;
    answer.failure = it->answer.failure;
    answer.redirects = it->answer.redirects;
    answer.final_url = it->answer.final_url;
    answer.elapsed_ms = it->answer.delay_ms;
    answer.retry_after_s = it->answer.retry_after_s;
    answer.content_type = it->answer.content_type;
    answer.body_cut = it->answer.cut;
    // As the real pool does, a body is read up to body_cap and stored up to keep_cap.
    std::string_view read = it->answer.body;
    if (it->request.body_cap != 0 && read.size() > it->request.body_cap) {
      read = read.substr(0, it->request.body_cap);
      answer.body_cut = true;
    }
    if (it->request.on_body) it->request.on_body(read);
    if (it->request.keep_body &&
        (!it->request.keep_pages_only || IsHtmlContentType(answer.content_type) ||
         IsStyleSheetContentType(answer.content_type))) {
      answer.body = std::string(read);
      if (it->request.keep_cap != 0 && answer.body.size() > it->request.keep_cap) {
        answer.body.resize(it->request.keep_cap);
        answer.body_cut = true;
      }
      answer.headers = it->answer.headers;
    }
    finished->emplace_back(it->id, std::move(answer));
    it = flying_.erase(it);
  }
}

void FakePool::CancelAll() { flying_.clear(); }

}  // namespace voxtrel::test
