#include "config/entry_splitter.h"

#include <string>

#include "support/text/text.h"

namespace dazi {

void SplitEntry(TStringList& entryFields, std::string_view line) {
  entryFields.Clear();
  std::string s = TrimBlanks(line);
  std::string acc;
  bool inQuotes = false;
  int32_t commas = 0;
  for (char c : s) {
    acc += c;
    if (c == '"') inQuotes = !inQuotes;
    if ((c == ',' || c == ';') && !inQuotes) {
      entryFields.Append(TrimBlanks(std::string_view(acc).substr(0, acc.size() - 1)));
      acc.clear();
      if (c == ';') break;
      ++commas;
    }
  }
  acc = TrimBlanks(acc);
  if (!acc.empty()) entryFields.Append(acc);
  for (int32_t missing = commas - entryFields.Count() + 1; missing > 0; --missing) {
    entryFields.Append("");
  }
}

}  // namespace dazi
