#pragma once
// Locale services of the platform: the text locale at start-up, upper-casing
// and caseless comparison of ANSI text.

#include <string>
#include <string_view>

namespace dazi {

// Sets DoubleByteMode and LeadByteSet of CurrentTextLocale() from the
// platform's locale. Called once during start-up.
void InitTextLocale();

// The platform's upper-casing; the result always has the argument's length.
std::string LocaleUpperCase(std::string_view text);

// Equality of two texts as the user's locale sees it, with or without regard
// to letter case (used for command-line switches).
bool LocaleEqual(std::string_view a, std::string_view b, bool ignoreCase);

}  // namespace dazi
