#include "engine/result_list.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <new>

namespace voxtrel {
namespace {

constexpr int kUnitBits = 16;
constexpr uint64_t kUnit = uint64_t{1} << kUnitBits;
constexpr uint64_t kAlign = 4;
constexpr int32_t kNoStatus = std::numeric_limits<int32_t>::min();
constexpr uint8_t kInternal = 1;
constexpr uint8_t kLocal = 2;
constexpr int kSuspectShift = 4;
constexpr uint8_t kKindMask = (1 << kSuspectShift) - 1;

size_t HashOf(std::string_view text) { return std::hash<std::string_view>()(text); }

}  // namespace

char* InternedStrings::At(uint64_t offset) const {
  return units_[offset >> kUnitBits] + (offset & (kUnit - 1));
}

std::string_view InternedStrings::Text(uint32_t id) const {
  if (id == 0) return {};
  const unsigned char* p = reinterpret_cast<const unsigned char*>(At(uint64_t{id} * kAlign));
  size_t length = 0;
  for (int shift = 0;; shift += 7) {
    length |= static_cast<size_t>(*p & 0x7F) << shift;
    if (!(*p++ & 0x80)) break;
  }
  return {reinterpret_cast<const char*>(p), length};
}

uint64_t InternedStrings::Store(std::string_view text) {
  unsigned char prefix[10];
  size_t prefix_size = 0;
  for (size_t n = text.size();; n >>= 7) {
    prefix[prefix_size++] = static_cast<unsigned char>((n & 0x7F) | (n >= 0x80 ? 0x80 : 0));
    if (n < 0x80) break;
  }
  const uint64_t size = prefix_size + text.size();
  // Offset 0 stands for "": the first entry starts after it.
  if (end_ == 0) end_ = kAlign;
  if (end_ + size > units_end_) {
    // An entry never straddles two blocks; the rest of the last one stays unused.
    const uint64_t units = (size + kUnit - 1) / kUnit;
    blocks_.push_back(std::make_unique<char[]>(units * kUnit));
    for (uint64_t u = 0; u < units; ++u) units_.push_back(blocks_.back().get() + u * kUnit);
    end_ = std::max(units_end_, kAlign);
    units_end_ += units * kUnit;
  }
  const uint64_t offset = end_;
  if (offset / kAlign > std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
  char* at = At(offset);
  std::copy(prefix, prefix + prefix_size, at);
  std::copy(text.begin(), text.end(), at + prefix_size);
  end_ = (offset + size + kAlign - 1) / kAlign * kAlign;
  return offset / kAlign;
}

void InternedStrings::GrowSlots() {
  std::vector<uint32_t> old = std::move(slots_);
  slots_.assign(std::max<size_t>(64, old.size() * 2), 0);
  const size_t mask = slots_.size() - 1;
  for (uint32_t id : old) {
    if (id == 0) continue;
    size_t slot = HashOf(Text(id)) & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = id;
  }
}

uint32_t InternedStrings::Intern(std::string_view text) {
  if (text.empty()) return 0;
  // At most three quarters full, so a probe stays short.
  if ((stored_ + 1) * 4 > slots_.size() * 3) GrowSlots();
  const size_t mask = slots_.size() - 1;
  size_t slot = HashOf(text) & mask;
  for (; slots_[slot] != 0; slot = (slot + 1) & mask)
    if (Text(slots_[slot]) == text) return slots_[slot];
  slots_[slot] = static_cast<uint32_t>(Store(text));
  ++stored_;
  return slots_[slot];
}

void InternedStrings::Clear() { *this = InternedStrings(); }

size_t ResultRows::size() const { return list_ ? list_->Count() : count_; }

ResultRow ResultRows::operator[](size_t index) const {
  return list_ ? list_->Row(index) : array_[index];
}

ResultRow ResultRows::Iterator::operator*() const {
  return list_ ? list_->Row(index_) : array_[index_];
}

void ResultList::Clear() {
  rows_ = {};
  strings_.Clear();
  if (observer_) observer_->RowsCleared();
}

void ResultList::PackOutcome(const CheckOutcome& outcome, StoredRow* row) {
  row->elapsed_ms = outcome.elapsed_ms;
  row->detail = strings_.Intern(outcome.detail);
  row->redirected_to = strings_.Intern(outcome.redirected_to);
  row->archived = strings_.Intern(outcome.archived);
  row->status = outcome.status ? *outcome.status : kNoStatus;
  row->redirects = outcome.redirects;
  row->kind = static_cast<uint8_t>(static_cast<int>(outcome.kind) |
                                   static_cast<int>(outcome.suspect) << kSuspectShift);
  row->reason = static_cast<uint8_t>(outcome.reason);
  row->tries = static_cast<uint8_t>(std::clamp(outcome.tries, 0, 255));
}

ResultList::StoredRow ResultList::Pack(int64_t number, const FoundLink& link,
                                       const CheckOutcome& outcome) {
  StoredRow row{};
  row.number = number;
  row.target = strings_.Intern(link.target);
  row.name = strings_.Intern(link.name);
  row.page = strings_.Intern(link.page);
  row.resolved = strings_.Intern(link.resolved);
  row.anchor = strings_.Intern(link.anchor);
  row.flags = static_cast<uint8_t>((link.internal ? kInternal : 0) | (link.local ? kLocal : 0));
  row.line = link.place.line;
  row.length = link.place.length;
  row.offset = link.place.offset;
  PackOutcome(outcome, &row);
  return row;
}

ResultRow ResultList::Row(size_t index) const {
  const StoredRow& stored = rows_[index];
  ResultRow row;
  row.number = stored.number;
  FoundLink& link = row.link;
  link.target = strings_.Text(stored.target);
  link.name = strings_.Text(stored.name);
  link.page = strings_.Text(stored.page);
  link.resolved = strings_.Text(stored.resolved);
  link.anchor = strings_.Text(stored.anchor);
  link.internal = stored.flags & kInternal;
  link.local = stored.flags & kLocal;
  link.place = {stored.line, stored.offset, stored.length};
  CheckOutcome& outcome = row.outcome;
  outcome.kind = static_cast<CheckOutcome::Kind>(stored.kind & kKindMask);
  outcome.suspect = static_cast<SuspectKind>(stored.kind >> kSuspectShift);
  outcome.reason = static_cast<FailureReason>(stored.reason);
  if (stored.status != kNoStatus) outcome.status = stored.status;
  outcome.redirects = stored.redirects;
  outcome.elapsed_ms = stored.elapsed_ms;
  outcome.detail = strings_.Text(stored.detail);
  outcome.redirected_to = strings_.Text(stored.redirected_to);
  outcome.archived = strings_.Text(stored.archived);
  outcome.tries = stored.tries;
  return row;
}

ResultRow ResultList::Add(const FoundLink& link, const CheckOutcome& outcome) {
  // Rows are only ever added at the end and the list is cleared before each run, so the running
  // number is the row count; sorting reorders but never adds.
  rows_.push_back(Pack(static_cast<int64_t>(rows_.size()) + 1, link, outcome));
  if (observer_) observer_->RowAdded(rows_.size() - 1);
  return Row(rows_.size() - 1);
}

void ResultList::AddNumbered(const ResultRow& row) {
  rows_.push_back(Pack(row.number, row.link, row.outcome));
  if (observer_) observer_->RowAdded(rows_.size() - 1);
}

void ResultList::Reorder(const std::vector<size_t>& order) {
  std::vector<StoredRow> rows;
  rows.reserve(order.size());
  for (size_t index : order) rows.push_back(rows_[index]);
  rows_ = std::move(rows);
  if (observer_) observer_->RowsReordered();
}

std::optional<ResultRow> ResultList::ReplaceOutcome(int64_t number, const CheckOutcome& outcome) {
  // Sorting moves rows but never renumbers them; the number is how a row is found again. Rows
  // are mostly replaced in list order, so the search starts after the last one replaced. The
  // strings of the outcome replaced stay interned until the list is cleared.
  for (size_t step = 0; step < rows_.size(); ++step) {
    const size_t index = (replaced_ + step) % rows_.size();
    if (rows_[index].number != number) continue;
    PackOutcome(outcome, &rows_[index]);
    replaced_ = index + 1;
    if (observer_) observer_->RowChanged(index);
    return Row(index);
  }
  return std::nullopt;
}

void ResultList::Restore(const std::vector<ResultRow>& rows) {
  rows_ = {};
  strings_.Clear();
  for (const ResultRow& row : rows) rows_.push_back(Pack(row.number, row.link, row.outcome));
  if (observer_) observer_->RowsCleared();
}

}  // namespace voxtrel
