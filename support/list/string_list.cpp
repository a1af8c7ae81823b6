#include "support/list/string_list.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "support/collate/collate.h"
#include "support/list/text_file.h"
#include "support/runtime/exceptions.h"
#include "support/runtime/message_texts.h"
#include "support/runtime/messages.h"
#include "support/runtime/report.h"
#include "support/text/paths.h"

namespace dazi {

void* (*ResizeListStorage)(void* block, size_t size) = std::realloc;

void TStringList::RaiseIndexError(int32_t index) {
  Raise(EStringListError(FillTemplate(LoadMessage(DAZI_ID_LIST_INDEX), {std::to_string(index)})));
}

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
  // Editors such as Notepad begin a UTF-8 file with a byte-order mark: it
  // tells the encoding and is no part of the first line.
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  std::string_view text = file.text;
  if (text.starts_with(kUtf8Mark)) text.remove_prefix(kUtf8Mark.size());
  ReplaceWithLines(text);
}

TStringList::~TStringList() {
  std::free(entries_);
  std::free(text_);
}

std::string TStringList::ItemAt(int32_t index) const {
  return std::string((*this)[index]);
}

// Resizes the storage, keeping the entries in use. A room below the number of
// entries would lose strings, so it is raised to that number. When the new
// storage cannot be had, std::bad_alloc leaves the list as it was. Entries
// are plain values, so the storage grows in place where the system can
// extend it, without copying them or touching the room it adds.
void TStringList::SetEntryRoom(int32_t room) {
  if (room < entryCount_) room = entryCount_;
  if (room == entryRoom_) return;
  if (room == 0) {
    std::free(entries_);
    entries_ = nullptr;
  } else {
    void* moved = ResizeListStorage(entries_, static_cast<size_t>(room) * sizeof(Entry));
    if (moved == nullptr) throw std::bad_alloc();
    entries_ = static_cast<Entry*>(moved);
  }
  entryRoom_ = room;
}

void TStringList::GrowRoom() {
  int32_t step = entryRoom_ <= 8 ? 4 : entryRoom_ <= 64 ? 16 : entryRoom_ / 4;
  // A room past the 32-bit count cannot be had any more than the memory.
  if (entryRoom_ > INT32_MAX - step) throw std::bad_alloc();
  SetEntryRoom(entryRoom_ + step);
}

// Room for extra more bytes of text, grown by half at a time.
void TStringList::ReserveText(size_t extra) {
  if (extra <= textRoom_ - textSize_) return;
  if (extra > SIZE_MAX / 2 - textSize_) throw std::bad_alloc();
  size_t room = textRoom_ + textRoom_ / 2;
  if (room < textSize_ + extra) room = textSize_ + extra;
  if (room < 256) room = 256;
  void* moved = ResizeListStorage(text_, room);
  if (moved == nullptr) throw std::bad_alloc();
  text_ = static_cast<char*>(moved);
  textRoom_ = room;
}

int TStringList::Collate(std::string_view a, std::string_view b) const {
  return LocaleCompareCaseless(a, b);
}

int32_t TStringList::Append(std::string_view s) {
  // Room for the text is made first, so that running out of memory for it
  // leaves even the entries' room unchanged.
  if (s.size() > UINT32_MAX) throw std::bad_alloc();
  // A view of one of the list's own strings moves with the text.
  const std::less<const char*> before;
  const bool own = !s.empty() && text_ != nullptr && !before(s.data(), text_) &&
                   before(s.data(), text_ + textSize_);
  const size_t ownOffset = own ? static_cast<size_t>(s.data() - text_) : 0;
  ReserveText(s.size());
  if (own) s = std::string_view(text_ + ownOffset, s.size());
  if (entryCount_ == entryRoom_) GrowRoom();
  if (!s.empty()) std::memcpy(text_ + textSize_, s.data(), s.size());
  entries_[entryCount_] = Entry{textSize_, static_cast<uint32_t>(s.size()), nullptr};
  textSize_ += s.size();
  return entryCount_++;
}

void TStringList::Clear() {
  if (entryCount_ == 0) return;
  entryCount_ = 0;
  SetEntryRoom(0);  // gives back the strings together with the storage
  std::free(text_);
  text_ = nullptr;
  textSize_ = textRoom_ = 0;
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
      [this](int32_t a, int32_t b) { return Collate(TextOf(entries_[a]), TextOf(entries_[b])); },
      [this](int32_t a, int32_t b) { std::swap(entries_[a], entries_[b]); });
}

// The same sort, with each comparison between two entries of plain text made
// by the quick collation, which agrees with Collate on them: the same
// exchanges, and so the same places for entries that compare equal, at a
// fraction of the cost. Only a list whose Collate is this class's own is
// sorted so, and only a long one unless the quick collation is at hand: made
// at run time, it costs about as much as sorting a few ten thousand entries
// the slow way.
bool TStringList::SortQuickly() {
  constexpr int32_t kQuickSortFrom = 32768;
  if (typeid(*this) != typeid(TStringList)) return false;
  if (entryCount_ < kQuickSortFrom && !LocaleQuickCollationReady()) return false;
  const QuickCollation* quickly = LocaleQuickCollation();
  if (quickly == nullptr) return false;
  std::vector<uint8_t> plain;
  try {
    plain.resize(static_cast<size_t>(entryCount_));
  } catch (const std::bad_alloc&) {
    return false;  // every comparison goes to Collate, which needs no memory
  }
  for (int32_t i = 0; i < entryCount_; ++i) plain[i] = quickly->Takes(TextOf(entries_[i])) ? 1 : 0;
  SortRange(
      0, entryCount_ - 1,
      [this, &plain, quickly](int32_t a, int32_t b) {
        const std::string_view x = TextOf(entries_[a]);
        const std::string_view y = TextOf(entries_[b]);
        return (plain[a] & plain[b]) != 0 ? quickly->Compare(x, y) : Collate(x, y);
      },
      [this, &plain](int32_t a, int32_t b) {
        std::swap(entries_[a], entries_[b]);
        std::swap(plain[a], plain[b]);
      });
  return true;
}

}  // namespace dazi
