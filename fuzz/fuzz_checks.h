#pragma once

#include <cstddef>
#include <cstdint>

namespace voxtrel::fuzz {

/// What a fuzz input is thrown at. Each function checks its properties and aborts, naming the
/// property, when one does not hold, so libFuzzer keeps the input and the replay test fails.
void CheckLineScanner(const uint8_t* data, size_t size);
void CheckEucToSjis(const uint8_t* data, size_t size);
void CheckCp932RoundTrip(const uint8_t* data, size_t size);
void CheckSettingsReader(const uint8_t* data, size_t size);
void CheckReportWriter(const uint8_t* data, size_t size);
void CheckHtmlLinks(const uint8_t* data, size_t size);

}  // namespace voxtrel::fuzz
