#pragma once
// Expansion of %NAME% environment references by text alone, as Windows'
// ExpandEnvironmentStrings does it, so the POSIX build behaves the same.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace dazi {

using EnvLookup = std::function<std::optional<std::string>(std::string_view name)>;

// Each %NAME% whose NAME the lookup knows becomes its value. An unknown (or
// empty) name stays as written, and scanning goes on at its closing '%', which
// may open the next reference. A '%' without a partner stays.
std::string ExpandPercentRefs(std::string_view text, const EnvLookup& lookup);

// The value of NAME in an environment of "NAME=value" entries ended by a null
// pointer. An entry spelled exactly like NAME wins; otherwise the first entry
// whose name differs only in ASCII letter case.
std::optional<std::string> FindEnvironmentValue(const char* const* environment,
                                                std::string_view name);

}  // namespace dazi
