#pragma once
// The name under which an entry waits between the two steps of a case change
// that has to go through another name. It is made from the entry's own name,
// so a later run that finds an entry under it knows which entry it belongs to
// and can finish that rename.

#include <string>
#include <string_view>

namespace dazi {

// The parked form of name.
std::string ParkedName(std::string_view name);

// The entry's own name when name is a parked form, else an empty view.
std::string_view NameOfParked(std::string_view name);

}  // namespace dazi
