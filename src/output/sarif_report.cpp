#include <optional>
#include <string>
#include <string_view>

#include "output/ci_report.h"
#include "output/ci_text.h"
#include "output/report_writer.h"
#include "version.h"

namespace voxtrel {
namespace {

constexpr const char* kSchema =
    "https://docs.oasis-open.org/sarif/sarif/v2.1.0/errata01/os/schemas/sarif-schema-2.1.0.json";
constexpr const char* kBaseId = "%SRCROOT%";

std::string Json(std::string_view text) { return JsonString(WellFormedUtf8(text)); }

// Where relative artifact URIs start: the current folder when the checked folder lies in it
// (a CI job's checkout, so the paths are the repository's), else the checked folder.
std::string SarifBase(const CiContext& context) {
  if (context.checked_folder.empty()) return "";
  if (PathUnder(context.checked_folder, context.current_folder, context.current_folder))
    return context.current_folder;
  return context.checked_folder;
}

// A file URI of an absolute folder, ending in "/" as a base must.
std::string FolderUri(const std::string& folder) {
  std::string uri = "file://" + UriPathEscape(folder);
  return uri.ends_with('/') ? uri : uri + "/";
}

// A web page's address as a URI: blanks, controls and bytes past ASCII percent-escaped.
std::string AddressUri(std::string_view address) {
  std::string out;
  for (char c : address) {
    const auto u = static_cast<unsigned char>(c);
    const bool unsafe = std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos;
    out += u <= 0x20 || u >= 0x7F || unsafe ? UriPathEscape(std::string_view(&c, 1))
                                            : std::string(1, c);
  }
  return out;
}

std::string ArtifactLocation(const ResultRow& row, const CiContext& context,
                             const std::string& base) {
  const std::string& page = row.link.page;
  if (IsWebAddress(page)) return "{\"uri\":" + Json(AddressUri(page)) + "}";
  if (const std::optional<std::string> under = PathUnder(page, base, context.current_folder))
    return "{\"uri\":" + Json(UriPathEscape(*under)) + ",\"uriBaseId\":" + Json(kBaseId) + "}";
  const std::string absolute = page.starts_with('/') ? page : context.current_folder + "/" + page;
  return "{\"uri\":" + Json("file://" + UriPathEscape(absolute)) + "}";
}

std::string Result(const ResultRow& row, const CiContext& context, const std::string& base) {
  std::string location =
      "{\"physicalLocation\":{\"artifactLocation\":" + ArtifactLocation(row, context, base);
  // Line 0 is a line not known: a region would have to name one.
  if (row.link.place.line)
    location += ",\"region\":{\"startLine\":" + std::to_string(row.link.place.line) + "}";
  location += "}}";
  return "{\"ruleId\":\"dead-link\",\"ruleIndex\":0,\"level\":\"error\",\"message\":{\"text\":" +
         Json(CiMessageOf(row)) + "},\"locations\":[" + location +
         "],\"properties\":{\"url\":" + Json(row.link.target) +
         ",\"reason\":" + Json(CiReasonOf(row)) + "}}";
}

std::string Driver() {
  return std::string("{\"name\":\"voxtrel-check\",\"version\":") + Json(kVersionString) +
         ",\"rules\":[{\"id\":\"dead-link\",\"name\":\"DeadLink\","
         "\"shortDescription\":{\"text\":\"A link whose target does not answer\"},"
         "\"fullDescription\":{\"text\":\"The link's target answered with a status outside the "
         "accepted ones, or not at all (time-out, refused, host not found), or a local file it "
         "names is missing.\"},"
         "\"defaultConfiguration\":{\"level\":\"error\"}}]}";
}

}  // namespace

std::string FormatSarifReport(const ResultRows& rows, const CiContext& context) {
  const std::string base = SarifBase(context);
  std::string out = std::string("{\n\"$schema\":") + Json(kSchema) +
                    ",\n\"version\":\"2.1.0\",\n\"runs\":[{\n\"tool\":{\"driver\":" + Driver() +
                    "},\n";
  if (!base.empty())
    out +=
        "\"originalUriBaseIds\":{" + Json(kBaseId) + ":{\"uri\":" + Json(FolderUri(base)) + "}},\n";
  // An interrupted run did not end as asked: its results are the rows found until then.
  out += std::string("\"invocations\":[{\"executionSuccessful\":") +
         (context.interrupted ? "false" : "true") + "}],\n\"results\":[";
  bool first = true;
  for (const ResultRow& row : rows) {
    if (!IsCiFailure(row)) continue;
    out += (first ? "\n" : ",\n") + Result(row, context, base);
    first = false;
  }
  return out + "\n]}]\n}\n";
}

}  // namespace voxtrel
