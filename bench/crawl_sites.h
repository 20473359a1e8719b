#pragma once

// The sites the crawl benchmark serves, each of its own shape. The server process and the
// measuring process build a site alike from the same ports.

#include <map>
#include <set>
#include <string>
#include <vector>

namespace voxtrel::bench {

constexpr int kLatencyMs = 50;  // every answer of every host waits this long
constexpr int kOtherHosts = 10;
constexpr int kHosts = 1 + kOtherHosts;  // host 0 is the crawled site

struct Resource {
  std::string type;
  std::string body;
};

struct Site {
  std::string summary;                                 // the shape in a few words
  std::vector<std::string> bases;                      // http://127.0.0.1:PORT of each host
  std::vector<std::map<std::string, Resource>> files;  // by host, then path
  std::string start;                                   // the start page's address
  std::string folder;                     // the start page's folder, which answers as it
  std::set<std::string> expected_broken;  // normalised absolute addresses
  int depth = 0;                          // link steps from the start page to the farthest page
  long site_addresses = 0;                // distinct site-host addresses, robots.txt included
  long links = 0;                         // links written in all pages
};

struct SiteShape {
  const char* name;
  /// The site served on `ports` (the first one is the crawled site); `refused_port` is a port
  /// where nobody listens.
  Site (*make)(const std::vector<int>& ports, int refused_port);
};

/// Every shape, in the order a run without a choice measures them.
const std::vector<SiteShape>& SiteShapes();

/// `url` with scheme and host in lower case, no default port, no fragment and at least "/" as
/// path, so that the addresses several tools print compare equal.
std::string Normalise(std::string url);

}  // namespace voxtrel::bench
