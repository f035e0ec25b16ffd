// UNBUILT: placeholder so the tree links while the store is written.
#include <stdexcept>

#include "store/database.h"

namespace wo::store {
[[noreturn]] static void Unbuilt() { throw DatabaseError("store not built yet"); }
const TableDef* g_none = nullptr;
const ColumnDef* TableDef::Column(std::string_view) const { Unbuilt(); }
const std::vector<TableDef>& AllTables() { Unbuilt(); }
const TableDef& TableNamed(std::string_view) { Unbuilt(); }
struct Table::Impl {};
Table::Table(Connection&, const TableDef&, std::string_view, std::string_view) {}
Table::~Table() = default;
const TableDef& Table::def() const { Unbuilt(); }
void Table::Open() { Unbuilt(); }
void Table::Close() {}
bool Table::IsOpen() const { return false; }
void Table::SetIndex(std::string_view) { Unbuilt(); }
const std::string& Table::Index() const { Unbuilt(); }
bool Table::FindKey(const std::vector<Value>&) { Unbuilt(); }
void Table::SetRange(const std::vector<Value>&, const std::vector<Value>&) { Unbuilt(); }
void Table::CancelRange() { Unbuilt(); }
void Table::First() { Unbuilt(); }
void Table::Next() { Unbuilt(); }
bool Table::Eof() const { Unbuilt(); }
bool Table::IsEmpty() { Unbuilt(); }
int Table::RecordCount() { Unbuilt(); }
void Table::Append() { Unbuilt(); }
void Table::Edit() { Unbuilt(); }
void Table::Post() { Unbuilt(); }
void Table::Cancel() { Unbuilt(); }
void Table::Delete() { Unbuilt(); }
std::optional<Field> Table::FieldByName(std::string_view) { Unbuilt(); }
Field Table::operator[](std::string_view) { Unbuilt(); }
const ColumnDef& Field::def() const { Unbuilt(); }
bool Field::IsNull() const { Unbuilt(); }
std::string Field::AsText() const { Unbuilt(); }
int64_t Field::AsInt() const { Unbuilt(); }
double Field::AsFloat() const { Unbuilt(); }
DateTime Field::AsDateTime() const { Unbuilt(); }
bool Field::AsBool() const { Unbuilt(); }
void Field::SetText(std::string_view) { Unbuilt(); }
void Field::SetInt(int64_t) { Unbuilt(); }
void Field::SetFloat(double) { Unbuilt(); }
void Field::SetDateTime(DateTime) { Unbuilt(); }
void Field::SetBool(bool) { Unbuilt(); }
void Field::SetNull() { Unbuilt(); }
Connection::~Connection() = default;
std::unique_ptr<Connection> Connection::Open(const ConnectionSettings&) { Unbuilt(); }
}  // namespace wo::store
