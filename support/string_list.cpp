#include "support/string_list.h"

#include <cstdint>
#include <new>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "support/collate.h"
#include "support/exceptions.h"
#include "support/message_texts.h"
#include "support/messages.h"
#include "support/paths.h"
#include "support/report.h"
#include "support/text_file.h"

namespace dazi {

namespace {

[[noreturn]] void RaiseIndexError(int32_t index) {
  Raise(EStringListError(FillTemplate(LoadMessage(DAZI_ID_LIST_INDEX), {std::to_string(index)})));
}

}  // namespace

void TStrings::ReplaceWithLines(std::string_view text) {
  Clear();
  // The first NUL byte ends the text, as does its end.
  size_t end = text.find('\0');
  if (end == std::string_view::npos) end = text.size();
  size_t p = 0;
  while (p < end) {
    size_t start = p;
    while (p < end && text[p] != '\n' && text[p] != '\r') ++p;
    Append(text.substr(start, p - start));
    if (p < end && text[p] == '\r') ++p;
    if (p < end && text[p] == '\n') ++p;
  }
}

void TStrings::LoadFromTextFile(const std::string& path) {
  TextFileRead file = ReadTextFile(path);
  if (!file.opened) {
    Raise(EFOpenError(FillTemplate(LoadMessage(DAZI_ID_FOPEN),
                                   {FullPathOf(path), SystemErrorText(file.errorCode)})));
  }
  ReplaceWithLines(file.text);
}

TStringList::~TStringList() {
  delete[] entries_;
}

std::string TStringList::ItemAt(int32_t index) const {
  return (*this)[index];
}

const std::string& TStringList::operator[](int32_t index) const {
  if (index < 0 || index >= entryCount_) RaiseIndexError(index);
  return entries_[index].text;
}

// Resizes the storage, keeping the entries in use. A room below the number of
// entries would lose strings, so it is raised to that number. When the new
// storage cannot be had, std::bad_alloc leaves the list as it was.
void TStringList::SetEntryRoom(int32_t room) {
  if (room < entryCount_) room = entryCount_;
  if (room == entryRoom_) return;
  Entry* moved = nullptr;
  if (room > 0) {
    moved = new Entry[static_cast<size_t>(room)];
    for (int32_t i = 0; i < entryCount_; ++i) moved[i] = std::move(entries_[i]);
  }
  delete[] entries_;
  entries_ = moved;
  entryRoom_ = room;
}

void TStringList::GrowRoom() {
  int32_t step = entryRoom_ <= 8 ? 4 : entryRoom_ <= 64 ? 16 : entryRoom_ / 4;
  // A room past the 32-bit count cannot be had any more than the memory.
  if (entryRoom_ > INT32_MAX - step) throw std::bad_alloc();
  SetEntryRoom(entryRoom_ + step);
}

int TStringList::Collate(std::string_view a, std::string_view b) const {
  return LocaleCompareCaseless(a, b);
}

int32_t TStringList::Append(std::string_view s) {
  // The copy is made first, so that running out of memory for it leaves even
  // the room unchanged.
  std::string copy(s);
  if (entryCount_ == entryRoom_) GrowRoom();
  entries_[entryCount_].text = std::move(copy);
  entries_[entryCount_].object = nullptr;
  return entryCount_++;
}

void TStringList::Clear() {
  if (entryCount_ == 0) return;
  entryCount_ = 0;
  SetEntryRoom(0);  // gives back the strings together with the storage
}

namespace {

// The partition sort. compare(a, b) compares the entries at indices a and b;
// exchange(a, b) swaps them. The pivot is an index that follows its entry
// through the exchanges; the scanned entry is always the first argument of
// compare. Of the two parts left after a partition, the smaller one is sorted
// by a recursive call and the larger one by going round again, so the nesting
// stays below 32 calls whatever the input. The parts are disjoint, so the
// order in which they are sorted changes no entry's place.
template <class Compare, class Exchange>
void SortRange(int32_t left, int32_t right, const Compare& compare, const Exchange& exchange) {
  for (;;) {
    int32_t i = left;
    int32_t j = right;
    int32_t p = left + (right - left) / 2;
    do {
      // The scans stop at the pivot at the latest; the bounds only matter for
      // a compare that does not find an entry equal to itself.
      while (i < right && compare(i, p) < 0) ++i;
      while (j > left && compare(j, p) > 0) --j;
      if (i <= j) {
        if (i != j) exchange(i, j);
        if (p == i) {
          p = j;
        } else if (p == j) {
          p = i;
        }
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - left < right - i) {
      if (left < j) SortRange(left, j, compare, exchange);
      if (i >= right) return;
      left = i;
    } else {
      if (i < right) SortRange(i, right, compare, exchange);
      if (left >= j) return;
      right = j;
    }
  }
}

}  // namespace

void TStringList::SortCaseless() {
  if (entryCount_ < 2) return;
  if (SortQuickly()) return;
  SortRange(
      0, entryCount_ - 1,
      [this](int32_t a, int32_t b) { return Collate(entries_[a].text, entries_[b].text); },
      [this](int32_t a, int32_t b) { std::swap(entries_[a], entries_[b]); });
}

// The same sort, with each comparison between two entries of plain text made
// by LocaleCompareQuick, which agrees with Collate on them: the same
// exchanges, and so the same places for entries that compare equal, at a
// fraction of the cost. Only a list whose Collate is this class's own is
// sorted so, and only a long one: the quick comparison's table costs about as
// much to make as sorting a few ten thousand entries the slow way.
bool TStringList::SortQuickly() {
  constexpr int32_t kQuickSortFrom = 32768;
  if (entryCount_ < kQuickSortFrom || typeid(*this) != typeid(TStringList)) return false;
  std::vector<bool> quick;
  try {
    quick.resize(static_cast<size_t>(entryCount_));
  } catch (const std::bad_alloc&) {
    return false;  // every comparison goes to Collate, which needs no memory
  }
  bool any = false;
  for (int32_t i = 0; i < entryCount_; ++i) {
    quick[i] = LocaleQuickComparable(entries_[i].text);
    any = any || quick[i];
  }
  if (!any) return false;
  SortRange(
      0, entryCount_ - 1,
      [this, &quick](int32_t a, int32_t b) {
        const std::string& x = entries_[a].text;
        const std::string& y = entries_[b].text;
        return quick[a] && quick[b] ? LocaleCompareQuick(x, y) : Collate(x, y);
      },
      [this, &quick](int32_t a, int32_t b) {
        std::swap(entries_[a], entries_[b]);
        std::vector<bool>::swap(quick[a], quick[b]);
      });
  return true;
}

}  // namespace dazi
