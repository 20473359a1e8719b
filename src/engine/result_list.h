#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/link.h"

namespace voxtrel {

/// Column indexes of a result row as it is shown.
enum ResultColumn : int {
  kColNo = 0,
  kColMark = 1,
  kColTarget = 2,
  kColName = 3,
  kColFile = 4,
  kColNo2 = 5,
};

/// One row: its running number from 1, the link as found (its page is what the file column
/// shows) and what the check came to.
struct ResultRow {
  int64_t number = 0;
  FoundLink link;
  CheckOutcome outcome;
};

/// Told about every change so a window can mirror the list.
class ResultListObserver {
 public:
  virtual ~ResultListObserver() = default;
  virtual void RowsCleared() = 0;
  virtual void RowAdded(size_t index) = 0;
  virtual void RowsReordered() = 0;
  /// The row at `index` has a new outcome; its number and place stayed.
  virtual void RowChanged(size_t index) = 0;
};

/// Strings kept once each and named by a 32-bit id; "" is id 0. Ids stay valid until Clear.
class InternedStrings {
 public:
  /// The id of `text`, storing it when it is new.
  uint32_t Intern(std::string_view text);
  /// The text of an id Intern gave; valid until Clear.
  std::string_view Text(uint32_t id) const;
  /// Forgets every string and gives its memory back.
  void Clear();

 private:
  char* At(uint64_t offset) const;
  uint64_t Store(std::string_view text);
  void GrowSlots();

  // Entries (the length as a base-128 number, then the bytes) start on 4-byte boundaries, so an
  // id is its entry's offset / 4 and 32 bits reach 16 GiB of text. Memory comes in units that
  // are never moved: a row's strings cost their bytes and a few more, with no copying peak.
  std::vector<std::unique_ptr<char[]>> blocks_;
  /// Where each unit of the offsets starts in memory.
  std::vector<char*> units_;
  uint64_t end_ = 0;
  uint64_t units_end_ = 0;
  /// Open addressing by the text's hash: the ids stored, 0 for a free slot.
  std::vector<uint32_t> slots_;
  size_t stored_ = 0;
};

class ResultList;

/// Rows read in order, each built as it is read: those of a ResultList or of a vector.
class ResultRows {
 public:
  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = ResultRow;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = ResultRow;

    // Holds what the rows view holds, so it outlives a temporary view.
    Iterator(const ResultRows& rows, size_t index)
        : array_(rows.array_), list_(rows.list_), index_(index) {}
    ResultRow operator*() const;
    Iterator& operator++() { return ++index_, *this; }
    Iterator operator++(int) {
      Iterator before = *this;
      ++index_;
      return before;
    }
    bool operator==(const Iterator& other) const { return index_ == other.index_; }

   private:
    const ResultRow* array_;
    const ResultList* list_;
    size_t index_;
  };

  ResultRows() = default;
  // Implicit: a view stands where the rows themselves were passed.
  ResultRows(const std::vector<ResultRow>& rows) : array_(rows.data()), count_(rows.size()) {}
  ResultRows(const ResultList& list) : list_(&list) {}
  ResultRows(const ResultRow* first, const ResultRow* last)
      : array_(first), count_(static_cast<size_t>(last - first)) {}
  size_t size() const;
  bool empty() const { return size() == 0; }
  ResultRow operator[](size_t index) const;
  Iterator begin() const { return Iterator(*this, 0); }
  Iterator end() const { return Iterator(*this, size()); }

 private:
  const ResultRow* array_ = nullptr;
  size_t count_ = 0;
  const ResultList* list_ = nullptr;
};

/// The result list: rows in their current order, numbered as they are added. Rows are kept
/// compact (every string interned, small fields packed) and built again when read.
class ResultList {
 public:
  void Clear();
  /// Appends the row of a checked link under the next running number; returns it.
  ResultRow Add(const FoundLink& link, const CheckOutcome& outcome);
  /// Appends a row under its own number (a row read back from a report).
  void AddNumbered(const ResultRow& row);
  size_t Count() const { return rows_.size(); }
  /// Row by index 0..Count()-1 in the current order.
  ResultRow Row(size_t index) const;
  ResultRows Rows() const { return ResultRows(*this); }
  /// Puts the rows in a new order: the row at `order[i]` comes to place i (`order` is a
  /// permutation of 0..Count()-1; used by sorting).
  void Reorder(const std::vector<size_t>& order);
  /// Gives the row numbered `number` a new outcome, in its place, and returns the row; nothing
  /// when no row has that number.
  std::optional<ResultRow> ReplaceOutcome(int64_t number, const CheckOutcome& outcome);
  /// Replaces every row by `rows`, numbers and order as they come (rows read back from a
  /// report); observers hear of it as of a clearing.
  void Restore(const std::vector<ResultRow>& rows);
  void SetObserver(ResultListObserver* observer) { observer_ = observer; }

 private:
  // A row as it is kept: its strings as ids, its small fields packed.
  struct StoredRow {
    int64_t number;
    int64_t elapsed_ms;
    uint32_t target, name, page, resolved, anchor, detail, redirected_to;
    int32_t status;
    int32_t redirects;
    uint8_t kind;  // the outcome's kind in the low four bits, its suspect kind in the high four
    uint8_t reason;
    uint8_t flags;
    uint8_t tries;  // fits in the padding: a row never takes more than a dozen requests
    uint32_t line;  // where the link stands in its page's file
    uint32_t length;
    uint64_t offset;
    uint32_t archived;  // the id of the archived copy's address
  };
  // A million rows are kept: a new field goes into spare bits, not into a bigger row. The link's
  // place, which a rewrite of the page needs, takes 16 bytes; the archived copy, whose address
  // no spare bits hold, 8 (4 of them padding).
  static_assert(sizeof(StoredRow) == 80);

  StoredRow Pack(int64_t number, const FoundLink& link, const CheckOutcome& outcome);
  void PackOutcome(const CheckOutcome& outcome, StoredRow* row);

  std::vector<StoredRow> rows_;
  InternedStrings strings_;
  ResultListObserver* observer_ = nullptr;
  /// Where the search for the next row to replace begins.
  size_t replaced_ = 0;
};

}  // namespace voxtrel
