#pragma once

#include <optional>
#include <string>
#include <vector>

#include "output/report_writer.h"

namespace voxtrel::test {

/// A save dialog that chooses `answer` (nothing: cancelled) and records the names proposed.
class FakeSaveDialog : public SaveDialog {
 public:
  std::optional<std::string> ShowSave(const std::string& proposed_name,
                                      const std::string& /*filter*/, int* chosen_filter) override {
    proposed.push_back(proposed_name);
    *chosen_filter = filter;
    return answer;
  }

  std::optional<std::string> answer;
  int filter = 0;
  std::vector<std::string> proposed;
};

}  // namespace voxtrel::test
