#pragma once

#include <string_view>

#include "support/list/string_list.h"

namespace dazi {

// Splits one entry line of the configuration file into its fields: commas
// separate fields, a semicolon ends the entry (the rest is a comment), and
// double quotes protect both. Fields are trimmed; quotes stay in them.
void SplitEntry(TStringList& entryFields, std::string_view line);

}  // namespace dazi
