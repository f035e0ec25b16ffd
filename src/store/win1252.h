// Conversion between the program's Windows-1252 texts and the UTF-8 that
// the databases store.
#pragma once

#include <string>
#include <string_view>

namespace wo::store {

// Every byte becomes one character. The five bytes Windows-1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the
// same number, so any byte string survives a round trip.
std::string Win1252ToUtf8(std::string_view s);

// A character that Windows-1252 lacks, and every byte of malformed UTF-8,
// becomes "?".
std::string Utf8ToWin1252(std::string_view s);

}  // namespace wo::store
