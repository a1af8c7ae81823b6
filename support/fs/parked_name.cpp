#include "support/fs/parked_name.h"

namespace dazi {

namespace {

constexpr std::string_view kParkedMark = "~DZ~";

}  // namespace

std::string ParkedName(std::string_view name) {
  std::string parked(kParkedMark);
  parked += name;
  return parked;
}

std::string_view NameOfParked(std::string_view name) {
  if (name.size() <= kParkedMark.size() || name.substr(0, kParkedMark.size()) != kParkedMark) {
    return {};
  }
  return name.substr(kParkedMark.size());
}

}  // namespace dazi
