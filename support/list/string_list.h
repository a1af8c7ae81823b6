#pragma once
// TStringList: the tool's only container, an ordered growable list of 8-bit
// strings kept in the order of appending until it is sorted.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dazi {

// How lists resize their storage: std::realloc, which can extend a large
// block in place; replaceable so that tests can see a growth fail.
extern void* (*ResizeListStorage)(void* block, size_t size);

class TPersistent {
 public:
  virtual ~TPersistent() = default;
};

// The abstract list: loading a text file goes through the class's own Clear
// and Append.
class TStrings : public TPersistent {
 public:
  virtual std::string ItemAt(int32_t index) const = 0;
  virtual int32_t Count() const = 0;
  virtual void SetEntryRoom(int32_t room) = 0;
  virtual void ReplaceWithLines(std::string_view text);
  virtual int Collate(std::string_view a, std::string_view b) const = 0;
  virtual int32_t Append(std::string_view s) = 0;
  virtual void Clear() = 0;
  // Replaces the contents with the lines of the file, without a UTF-8
  // byte-order mark at its start.
  virtual void LoadFromTextFile(const std::string& path);
  virtual void SortCaseless() = 0;
};

class TStringList : public TStrings {
 public:
  TStringList() = default;
  ~TStringList() override;
  TStringList(const TStringList&) = delete;
  TStringList& operator=(const TStringList&) = delete;

  std::string ItemAt(int32_t index) const override;
  int32_t Count() const override { return entryCount_; }
  void SetEntryRoom(int32_t room) override;
  int Collate(std::string_view a, std::string_view b) const override;
  int32_t Append(std::string_view s) override;
  void Clear() override;
  void SortCaseless() override;

  int32_t EntryRoom() const { return entryRoom_; }
  // Direct read access without copying, for loops over a list. The view lasts
  // until the next Append or Clear.
  std::string_view operator[](int32_t index) const {
    if (index < 0 || index >= entryCount_) RaiseIndexError(index);
    return TextOf(entries_[index]);
  }

 private:
  // The strings' bytes lie one after another in one block of text; an entry
  // tells where its string lies there. Sorting exchanges entries alone.
  struct Entry {
    size_t offset;
    uint32_t length;
    void* object;
  };
  std::string_view TextOf(const Entry& entry) const { return {text_ + entry.offset, entry.length}; }
  [[noreturn]] static void RaiseIndexError(int32_t index);
  void GrowRoom();
  void ReserveText(size_t extra);
  bool SortQuickly();

  Entry* entries_ = nullptr;
  int32_t entryCount_ = 0;
  int32_t entryRoom_ = 0;
  char* text_ = nullptr;
  size_t textSize_ = 0;
  size_t textRoom_ = 0;
};

}  // namespace dazi
