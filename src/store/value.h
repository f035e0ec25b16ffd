// Conversion between the program's values and their stored forms, by the
// type of the column they belong to.
#pragma once

#include <string>

#include "store/backend.h"
#include "store/schema.h"
#include "store/table.h"

namespace wo::store {

// `v` as column `c` of `table` stores it: text cut to the column's width
// and converted to UTF-8, date-times and times as their stored texts,
// booleans as 0/1. Raises DatabaseError when `v` cannot be such a value
// (a text that is no number for a numeric column, a smallint out of range).
Stored ToStored(const std::string& table, const ColumnDef& c, const Value& v);

// Reads of a stored value; a null reads as "", 0, 0.0 and false. Raise
// DatabaseError when the stored value is not of the kind asked for.
std::string StoredAsText(const std::string& table, const ColumnDef& c, const Stored& v);
int64_t StoredAsInt(const std::string& table, const ColumnDef& c, const Stored& v);
double StoredAsFloat(const std::string& table, const ColumnDef& c, const Stored& v);
DateTime StoredAsDateTime(const std::string& table, const ColumnDef& c, const Stored& v);
bool StoredAsBool(const std::string& table, const ColumnDef& c, const Stored& v);

}  // namespace wo::store
