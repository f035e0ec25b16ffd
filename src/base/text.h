// Small text helpers shared by every layer. Texts inside the program are
// Windows-1252 bytes held in std::string; these helpers work on bytes and
// fold only ASCII letters.
#pragma once

#include <string>
#include <string_view>

namespace wo {

// The leading `width` characters of `s` (all of it when shorter).
std::string Cut(std::string_view s, size_t width);

// ASCII upper case; other bytes unchanged.
std::string Upper(std::string_view s);

// True when a and b are equal apart from the case of ASCII letters.
bool SameText(std::string_view a, std::string_view b);

// `s` without leading and trailing bytes 0..32 (blanks and control bytes).
std::string Trim(std::string_view s);
// The same as a view into `s`.
std::string_view TrimmedView(std::string_view s);

// Decimal integer of the whole text (an optional sign, digits, nothing else;
// surrounding blanks allowed); `fallback` when it is not one or overflows.
long long ToIntDef(std::string_view s, long long fallback);

// The first 15 characters of `s`, right-aligned in 15 by leading blanks
// (the form of WEBREG.AsNo).
std::string PadLeft15(std::string_view s);
// `s` right-aligned in 5 by leading blanks; a longer text is left whole
// (the form of a slot number, VaVuoro.VuoroNo and VuoroNoSeq).
std::string PadKey5(std::string_view s);

}  // namespace wo
