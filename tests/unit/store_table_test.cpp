// The table-handle operations, one suite run over every engine: SQLite on
// temporary files here, PostgreSQL on the test server in the binary built
// with WO_PG_TESTS (tests/store.cmake).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <unistd.h>

#include "store/backend.h"
#include "store/database.h"
#include "store/handles.h"
#include "support/faulty_store.h"
#include "store/table.h"
#include "support/pg.h"
#include "support/test_db.h"

namespace wo::store {
namespace {

using test::Engine;

class StoreTable : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == Engine::Postgres) WO_REQUIRE_PG_OR_SKIP();
    try {
      db = std::make_unique<test::TestDatabase>(GetParam());
    } catch (const std::exception& e) {
      FAIL() << e.what();
    }
    conn = db->Connect();
  }
  void TearDown() override {
    conn.reset();
    db.reset();
  }

  bool Pg() const { return GetParam() == Engine::Postgres; }

  // A handle as the web module holds it.
  Table Handle(const char* name) {
    const HandleDef& d = HandleNamed(name);
    return Table(*conn, TableNamed(d.table), d.fields, d.index);
  }

  void Sql(const std::string& sql) { conn->backend().ExecScript(sql); }

  // The first column of every row of `sql`, as the engine stores it.
  std::vector<std::string> Raw(const std::string& sql) {
    std::vector<std::string> out;
    std::unique_ptr<Rows> rows = conn->backend().Query(sql, {});
    StoredRow r;
    while (rows->Next(r) == Rows::Step::Row) {
      const Stored& v = r.rowId;
      out.push_back(v.kind == Stored::Null   ? "NULL"
                    : v.kind == Stored::Int  ? std::to_string(v.i)
                    : v.kind == Stored::Real ? std::to_string(v.d)
                                             : v.s);
    }
    return out;
  }

  void AddSlot(Table& t, const std::string& vuoroNo, const std::string& res, DateTime at,
               const std::string& kausi = "2024") {
    t.Append();
    t["Kausi"].SetText(kausi);
    t["VuoroNo"].SetText(vuoroNo);
    t["VuoroNoSeq"].SetText("    1");
    t["ResNo"].SetText(res);
    t["VuoroAika"].SetDateTime(at);
    t["Kesto"].SetDateTime(EncodeTime(1, 30, 0));
    t["Maara"].SetInt(10);
    t.Post();
  }

  void AddReservation(Table& t, const std::string& vuoroNo, int jno, const std::string& asNo, int status = 0) {
    t.Append();
    t["Kausi"].SetText("2024");
    t["VuoroNo"].SetText(vuoroNo);
    t["VuoroNoSeq"].SetText("    1");
    t["Jno"].SetInt(jno);
    t["AsNo"].SetText(asNo);
    t["Status"].SetInt(status);
    t.Post();
  }

  std::vector<std::string> Walk(Table& t, const char* field) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.Text(field));
    return out;
  }

  std::unique_ptr<test::TestDatabase> db;
  std::unique_ptr<Connection> conn;
};

TEST_P(StoreTable, EveryHandleOpensWithItsFieldsAndIndex) {
  ASSERT_EQ(HandleDefs().size(), 15u);
  for (const HandleDef& d : HandleDefs()) {
    Table t = Handle(d.handle);
    EXPECT_FALSE(t.IsOpen()) << d.handle;
    t.Open();
    EXPECT_TRUE(t.IsOpen());
    EXPECT_TRUE(t.Eof()) << d.handle;
    EXPECT_TRUE(t.IsEmpty()) << d.handle;
    EXPECT_EQ(t.RecordCount(), 0);
    EXPECT_EQ(t.Index(), d.index);
    t.Close();
    EXPECT_FALSE(t.IsOpen());
  }
  Table vaAs = Handle("TblVaAs");
  for (const char* f : {"VuoroNo", "VuoroNoSeq", "Jno", "AsNo", "Status", "Kausi"})
    EXPECT_TRUE(vaAs.FieldByName(f).has_value()) << f;
  EXPECT_FALSE(vaAs.FieldByName("AsNimi").has_value());
  EXPECT_FALSE(vaAs.FieldByName("Varausaika").has_value());
  EXPECT_THROW(vaAs["AsNimi"], DatabaseError);
  Table resNimi = Handle("TblResNimi");
  EXPECT_TRUE(resNimi.FieldByName("reswebnayta").has_value());  // names ignore case
  EXPECT_FALSE(resNimi.FieldByName("ResKeskus").has_value());
  Table res = Handle("TblRes");
  EXPECT_TRUE(res.FieldByName("ResKeskus").has_value());
  EXPECT_FALSE(res.FieldByName("NoSuchField").has_value());
}

TEST_P(StoreTable, WalksInIndexOrderAndStopsAtTheEnd) {
  Table t = Handle("TblVaLaji");
  t.Open();
  for (const char* k : {"K3", "K1", "K4", "K2"}) {
    t.Append();
    t["Koodi"].SetText(k);
    t["Lyhenne"].SetText(std::string("L") + k);
    t.Post();
  }
  t.Close();
  t.Open();
  EXPECT_FALSE(t.Eof());
  EXPECT_EQ(t.Text("Koodi"), "K1");  // opening positions on the first row
  EXPECT_EQ(Walk(t, "Koodi"), (std::vector<std::string>{"K1", "K2", "K3", "K4"}));
  EXPECT_TRUE(t.Eof());
  t.Next();  // past the end stays at the end
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.RecordCount(), 4);
  EXPECT_FALSE(t.IsEmpty());
  t.SetIndex("Lyhenne");
  EXPECT_EQ(t.Text("Koodi"), "K1");
  t.SetIndex("Koodi");
  t.First();
  t.Next();
  EXPECT_EQ(t.Text("Lyhenne"), "LK2");
}

TEST_P(StoreTable, FindKeyOnLeadingIndexFields) {
  Table va = Handle("TblVa");
  va.Open();
  AddReservation(va, "   20", 2, "A");
  AddReservation(va, "   10", 3, "B");
  AddReservation(va, "   10", 1, "C");
  AddReservation(va, "   30", 1, "D");

  ASSERT_TRUE(va.FindKey({Txt("2024"), Txt("   10"), Txt("    1")}));
  EXPECT_EQ(va.Int("Jno"), 1);  // the first matching row in index order
  va.Next();
  EXPECT_EQ(va.Int("Jno"), 3);
  va.Next();  // walks on past the key
  EXPECT_EQ(va.Text("VuoroNo"), "   20");

  ASSERT_TRUE(va.FindKey({Txt("2024"), Txt("   10"), Txt("    1"), Int(3)}));
  EXPECT_EQ(va.Text("AsNo"), "B");
  ASSERT_TRUE(va.FindKey({Txt("2024")}));
  EXPECT_EQ(va.Text("AsNo"), "C");
  EXPECT_FALSE(va.FindKey({Txt("2024"), Txt("   10"), Txt("    1"), Int(2)}));
  EXPECT_FALSE(va.FindKey({Txt("2025")}));
  EXPECT_THROW(va.FindKey({}), DatabaseError);
  EXPECT_THROW(va.FindKey({Txt("a"), Txt("b"), Txt("c"), Int(1), Int(2)}), DatabaseError);
  // A text that is no number, for a numeric key field.
  EXPECT_THROW(va.FindKey({Txt("2024"), Txt("   10"), Txt("    1"), Txt("x")}), DatabaseError);
}

TEST_P(StoreTable, SessionLookupByIdAndTheLoggedOutId) {
  Table reg = Handle("TblWebReg");
  reg.Open();
  for (auto [tunnus, id] : {std::pair{"maija", "0"}, {"antti", "123456789012345"}, {"bertta", "0"}}) {
    reg.Append();
    reg["Tunnus"].SetText(tunnus);
    reg["PinKoodi"].SetText("x");
    reg["ID"].SetText(id);
    reg.Post();
  }
  reg.SetIndex("ID;Tunnus");  // takes effect at once on the open handle
  ASSERT_TRUE(reg.FindKey({Txt("123456789012345")}));
  EXPECT_EQ(reg.Text("Tunnus"), "antti");
  // Several logged-out rows share the ID "0"; the index orders them by Tunnus.
  ASSERT_TRUE(reg.FindKey({Txt("0")}));
  EXPECT_EQ(reg.Text("Tunnus"), "bertta");
  reg.Next();
  EXPECT_EQ(reg.Text("Tunnus"), "maija");
  EXPECT_FALSE(reg.FindKey({Txt("999")}));
  reg.SetIndex("Tunnus");
  EXPECT_EQ(reg.Text("Tunnus"), "antti");
  ASSERT_TRUE(reg.FindKey({Txt("maija")}));
  EXPECT_EQ(reg.Text("ID"), "0");
}

TEST_P(StoreTable, RangesOverDateTimeKeysIncludeTheirExactBounds) {
  Table v = Handle("TblFiVuoro");
  v.Open();
  const DateTime day = EncodeDate(2024, 3, 4);
  AddSlot(v, "    1", "R1", day + EncodeTime(10, 0, 0));
  AddSlot(v, "    2", "R1", day + EncodeTime(11, 0, 0));
  AddSlot(v, "    3", "R1", day + EncodeTime(12, 0, 0));
  AddSlot(v, "    4", "R2", day + EncodeTime(11, 0, 0));
  AddSlot(v, "    5", "R1", day + 1 + EncodeTime(10, 0, 0));

  v.SetRange({Txt("R1"), Dt(day + EncodeTime(10, 0, 0))}, {Txt("R1"), Dt(day + EncodeTime(12, 0, 0))});
  EXPECT_EQ(Walk(v, "VuoroNo"), (std::vector<std::string>{"    1", "    2", "    3"}));
  EXPECT_EQ(v.RecordCount(), 3);
  v.SetRange({Txt("R1"), Dt(day + EncodeTime(10, 0, 1))}, {Txt("R1"), Dt(day + EncodeTime(11, 59, 59))});
  EXPECT_EQ(Walk(v, "VuoroNo"), (std::vector<std::string>{"    2"}));
  // A whole day: from midnight to the last second.
  v.SetRange({Txt("R1"), Dt(day)}, {Txt("R1"), Dt(day + EncodeTime(23, 59, 59))});
  EXPECT_EQ(v.RecordCount(), 3);
  v.SetRange({Txt("R1"), Dt(day + 1)}, {Txt("R1"), Dt(day + 2)});
  EXPECT_EQ(Walk(v, "VuoroNo"), (std::vector<std::string>{"    5"}));
  EXPECT_FALSE(v.IsEmpty());  // walked past its end, the range still has its row
  v.First();
  EXPECT_DOUBLE_EQ(v.Date("VuoroAika"), day + 1 + EncodeTime(10, 0, 0));
  EXPECT_NEAR(v.Date("Kesto"), EncodeTime(1, 30, 0), 1e-9);
  v.SetRange({Txt("R3"), Dt(day)}, {Txt("R3"), Dt(day + 9)});
  std::vector<std::string> trace;
  conn->backend().trace = &trace;
  EXPECT_TRUE(v.IsEmpty());
  conn->backend().trace = nullptr;
  EXPECT_EQ(trace.size(), 1u);  // the range's first query answers by itself
  EXPECT_TRUE(v.Eof());
  EXPECT_EQ(v.RecordCount(), 0);
  // A range on the first field only, and a find inside a range.
  v.SetRange({Txt("R1")}, {Txt("R1")});
  EXPECT_EQ(v.RecordCount(), 4);
  EXPECT_FALSE(v.FindKey({Txt("R2")}));
  EXPECT_TRUE(v.FindKey({Txt("R1"), Dt(day + EncodeTime(12, 0, 0))}));
  EXPECT_EQ(v.Text("VuoroNo"), "    3");
  // Bounds that differ in the first field span both resources.
  v.SetRange({Txt("R1"), Dt(day + 1)}, {Txt("R2"), Dt(day + EncodeTime(11, 0, 0))});
  EXPECT_EQ(Walk(v, "VuoroNo"), (std::vector<std::string>{"    5", "    4"}));
  v.CancelRange();
  EXPECT_EQ(v.RecordCount(), 5);
  EXPECT_EQ(Walk(v, "VuoroNo").size(), 5u);
}

TEST_P(StoreTable, TextIsCutToTheFieldWidthOnWriteAndInKeys) {
  Table p = Handle("TblWebParam");
  p.Open();
  p.Append();
  p["Numero"].SetText("0123456789");
  p["Puhelin"].SetText(std::string(40, '5'));
  p.Post();
  EXPECT_EQ(p.Text("Numero"), "01234");
  EXPECT_EQ(Raw("SELECT Numero FROM WEBPARAM"), std::vector<std::string>{"01234"});
  EXPECT_EQ(Raw("SELECT Puhelin FROM WEBPARAM"), std::vector<std::string>{std::string(15, '5')});
  p.Close();
  p.Open();
  EXPECT_TRUE(p.FindKey({Txt("01234-and-more")}));
  EXPECT_EQ(p.Text("Puhelin"), std::string(15, '5'));
  // The width counts characters: five accented letters fill text(5).
  p.Edit();
  p["Numero"].SetText("\xe4\xe4\xe4\xe4\xe4\xe4\xe4");
  p.Post();
  EXPECT_EQ(p.Text("Numero"), "\xe4\xe4\xe4\xe4\xe4");
  EXPECT_EQ(Raw("SELECT Numero FROM WEBPARAM")[0].size(), 10u);  // 5 x 2 bytes of UTF-8
}

TEST_P(StoreTable, Windows1252RoundTripsThroughUtf8) {
  Table t = Handle("TblVaOhjaaja");
  t.Open();
  const std::string text = "\xe4\xf6 \xc5 \x80 \xc4\xd6\xe5 \x8a\x9f";  // ä ö Å € Ä Ö å Š Ÿ
  t.Append();
  t["Koodi"].SetText("O1");
  t["Nimi"].SetText(text);
  t.Post();
  EXPECT_EQ(Raw("SELECT Nimi FROM VAOHJAAJA"),
            std::vector<std::string>{"\xc3\xa4\xc3\xb6 \xc3\x85 \xe2\x82\xac \xc3\x84\xc3\x96\xc3\xa5 \xc5\xa0\xc5\xb8"});
  t.Close();
  t.Open();
  EXPECT_EQ(t.Text("Nimi"), text);
  // Found by a key with the same characters.
  t.Edit();
  t["Koodi"].SetText("\xc5\x80");
  t.Post();
  EXPECT_TRUE(t.FindKey({Txt("\xc5\x80")}));
  // Another tool's text with characters Windows-1252 lacks reads as "?".
  Sql("INSERT INTO VAOHJAAJA (Koodi, Nimi) VALUES ('O2', '\xce\xa9 \xe6\x97\xa5\xc3\xa4')");
  ASSERT_TRUE(t.FindKey({Txt("O2")}));
  EXPECT_EQ(t.Text("Nimi"), "? ?\xe4");
}

TEST_P(StoreTable, TypedReadsAndWritesAndNulls) {
  Table w = Handle("TblWebParam");
  w.Open();
  w.Append();
  w["Numero"].SetText("01");
  w["MaxAsVaraus"].SetInt(4);
  w["Varausmaksu"].SetFloat(2.5);
  w["Luottoraja"].SetText("-10.25");
  w["ListanMuoto"].SetText(" 2 ");
  w.Post();
  w.Close();
  w.Open();
  ASSERT_TRUE(w.FindKey({Txt("01")}));
  EXPECT_EQ(w.Int("MaxAsVaraus"), 4);
  EXPECT_EQ(w.Text("MaxAsVaraus"), "4");
  EXPECT_DOUBLE_EQ(w.Float("Varausmaksu"), 2.5);
  EXPECT_DOUBLE_EQ(w.Float("Luottoraja"), -10.25);
  EXPECT_EQ(w.Int("ListanMuoto"), 2);
  EXPECT_TRUE(w.IsNull("MaxVarausPv"));
  EXPECT_EQ(w.Int("MaxVarausPv"), 0);
  EXPECT_TRUE(w.IsNull("Logo"));
  EXPECT_EQ(w.Text("Logo"), "");
  EXPECT_FALSE(w.IsNull("Numero"));
  EXPECT_THROW(w["MaxAsVaraus"].SetInt(1), DatabaseError);  // not editing
  w.Edit();
  EXPECT_THROW(w["MaxAsVaraus"].SetInt(40000), DatabaseError);  // smallint
  EXPECT_THROW(w["MaxAsVaraus"].SetText("many"), DatabaseError);
  w["MaxAsVaraus"].SetNull();
  w["Logo"].SetText("");  // an empty text is stored as '', not null
  w.Post();
  EXPECT_TRUE(w.IsNull("MaxAsVaraus"));
  EXPECT_EQ(Raw("SELECT Logo FROM WEBPARAM"), std::vector<std::string>{""});
  EXPECT_EQ(Raw("SELECT MaxAsVaraus FROM WEBPARAM"), std::vector<std::string>{"NULL"});

  Table lang = Handle("FTblLang");
  lang.Open();
  lang.Append();
  lang["LGKieli"].SetText("ENG");
  lang["LGSovellus"].SetText("WebOrvane");
  lang["LGAvain"].SetText("k");
  lang["LGKaytossa"].SetBool(true);
  lang.Post();
  lang.Append();
  lang["LGKieli"].SetText("SWE");
  lang["LGSovellus"].SetText("WebOrvane");
  lang["LGAvain"].SetText("k");
  lang.Post();
  EXPECT_FALSE(lang.Bool("LGKaytossa"));  // null reads as false
  ASSERT_TRUE(lang.FindKey({Txt("ENG"), Txt("WebOrvane"), Txt("k")}));
  EXPECT_TRUE(lang.Bool("LGKaytossa"));
  EXPECT_EQ(Raw("SELECT LGKaytossa FROM KAANNOS WHERE LGKieli = 'ENG'"),
            std::vector<std::string>{Pg() ? "t" : "1"});

  Table reg = Handle("TblWebReg");
  reg.Open();
  reg.Append();
  reg["Tunnus"].SetText("u");
  reg["PinKoodi"].SetText("p");
  reg["Aika"].SetDateTime(EncodeDate(2024, 12, 31) + EncodeTime(23, 59, 59, 600));  // rounds up
  reg["TmpSaldo"].SetFloat(-3.75);
  reg["Status"].SetInt(1);
  reg.Post();
  EXPECT_EQ(Raw("SELECT Aika FROM WEBREG"), std::vector<std::string>{"2025-01-01 00:00:00"});
  reg.Close();
  reg.Open();
  EXPECT_DOUBLE_EQ(reg.Date("Aika"), EncodeDate(2025, 1, 1));
  EXPECT_DOUBLE_EQ(reg.Float("TmpSaldo"), -3.75);
  EXPECT_EQ(reg.Text("Aika"), "2025-01-01 00:00:00");
  EXPECT_EQ(Raw("SELECT Kesto FROM VaVuoro").size(), 0u);
  Table v = Handle("TblVuoro");
  v.Open();
  AddSlot(v, "    1", "R1", EncodeDate(2024, 1, 2) + EncodeTime(8, 15, 0));
  EXPECT_EQ(Raw("SELECT Kesto FROM VaVuoro"), std::vector<std::string>{"01:30:00"});
  EXPECT_EQ(Raw("SELECT VuoroAika FROM VaVuoro"), std::vector<std::string>{"2024-01-02 08:15:00"});
}

TEST_P(StoreTable, TwoReservationHandlesSeeEachOthersRows) {
  Table va = Handle("TblVa"), vaAs = Handle("TblVaAs");
  va.Open();
  vaAs.Open();
  EXPECT_TRUE(vaAs.IsEmpty());
  AddReservation(va, "   10", 1, "      42");
  vaAs.SetRange({Txt("      42"), Int(0)}, {Txt("      42"), Int(0)});
  ASSERT_FALSE(vaAs.IsEmpty());
  EXPECT_EQ(vaAs.RecordCount(), 1);
  EXPECT_EQ(vaAs.Text("VuoroNo"), "   10");
  EXPECT_EQ(vaAs.Int("Jno"), 1);
  // A second row, appended while the other handle is positioned: a fresh
  // walk sees it.
  AddReservation(va, "   11", 1, "      42");
  EXPECT_EQ(vaAs.RecordCount(), 2);
  EXPECT_EQ(Walk(vaAs, "VuoroNo"), (std::vector<std::string>{"   10", "   11"}));
  // An edit through the narrow handle keeps the fields it does not see.
  ASSERT_TRUE(va.FindKey({Txt("2024"), Txt("   10"), Txt("    1"), Int(1)}));
  va.Edit();
  va["AsNimi"].SetText("Maija");
  va.Post();
  // Rows with equal keys come in the engine's order: find the slot's row.
  vaAs.First();
  if (vaAs.Text("VuoroNo") != "   10") vaAs.Next();
  ASSERT_EQ(vaAs.Text("VuoroNo"), "   10");
  vaAs.Edit();
  vaAs["Status"].SetInt(1);
  vaAs.Post();
  ASSERT_TRUE(va.FindKey({Txt("2024"), Txt("   10"), Txt("    1"), Int(1)}));
  EXPECT_EQ(va.Int("Status"), 1);
  EXPECT_EQ(va.Text("AsNimi"), "Maija");
  vaAs.First();
  EXPECT_EQ(vaAs.RecordCount(), 1);
}

TEST_P(StoreTable, EditWritesOnlyTheFieldsItChanged) {
  Table a = Handle("TblAsiakas"), b = Handle("TblAsiakas");
  a.Open();
  a.Append();
  a["AsNo"].SetText("1");
  a["AsNimi"].SetText("Nimi");
  a["Laskutettu"].SetFloat(10);
  a.Post();
  b.Open();
  ASSERT_TRUE(a.FindKey({Txt("1")}));
  a.Edit();
  a["Laskutettu"].SetFloat(a.Float("Laskutettu") + 5);
  // Meanwhile another handle changes another field of the same row.
  b.Edit();
  b["PuhNo"].SetText("0401234567");
  b.Post();
  a.Post();
  b.First();
  EXPECT_EQ(b.Text("PuhNo"), "0401234567");
  EXPECT_DOUBLE_EQ(b.Float("Laskutettu"), 15);
  // Cancel and Close drop a pending change.
  a.Edit();
  a["AsNimi"].SetText("Toinen");
  a.Cancel();
  a.Append();
  a["AsNo"].SetText("2");
  a["AsNimi"].SetText("Kaksi");
  a.Close();
  b.First();
  EXPECT_EQ(b.RecordCount(), 1);
  EXPECT_EQ(b.Text("AsNimi"), "Nimi");
}

TEST_P(StoreTable, PostRefusesMissingRequiredFieldsAndDuplicateKeys) {
  Table c = Handle("TblAsiakas");
  c.Open();
  c.Append();
  c["AsNo"].SetText("7");
  EXPECT_THROW(c.Post(), DatabaseError);  // AsNimi is required
  c.Cancel();
  c.Append();
  c["AsNo"].SetText("7");
  c["AsNimi"].SetText("Eka");
  c.Post();
  c.Append();
  c["AsNo"].SetText("7");
  c["AsNimi"].SetText("Toka");
  EXPECT_THROW(c.Post(), DatabaseError);  // AsNo is unique
  c.Cancel();
  EXPECT_EQ(c.RecordCount(), 1);
  EXPECT_EQ(Raw("SELECT AsNimi FROM Asiakas"), std::vector<std::string>{"Eka"});
  // An edit that would duplicate a key leaves the row as it was.
  c.Append();
  c["AsNo"].SetText("8");
  c["AsNimi"].SetText("Toka");
  c.Post();
  c.Edit();
  c["AsNo"].SetText("7");
  EXPECT_THROW(c.Post(), DatabaseError);
  c.Cancel();
  EXPECT_TRUE(c.FindKey({Txt("8")}));
  EXPECT_EQ(c.Text("AsNimi"), "Toka");
}

TEST_P(StoreTable, DeleteMovesToTheNextRowAndNextContinuesAfterAPost) {
  Table k = Handle("TblWebKeskus");
  k.Open();
  for (const char* c : {"A", "C", "E", "G"}) {
    k.Append();
    k["WebKeskus"].SetText(c);
    k.Post();
  }
  ASSERT_TRUE(k.FindKey({Txt("C")}));
  k.Delete();
  EXPECT_EQ(k.Text("WebKeskus"), "E");
  // An appended row becomes current; Next goes on in index order after it.
  k.Append();
  k["WebKeskus"].SetText("B");
  k.Post();
  EXPECT_EQ(k.Text("WebKeskus"), "B");
  k.Next();
  EXPECT_EQ(k.Text("WebKeskus"), "E");
  // An edit that moves the row in the index.
  ASSERT_TRUE(k.FindKey({Txt("A")}));
  k.Edit();
  k["WebKeskus"].SetText("F");
  k.Post();
  k.Next();
  EXPECT_EQ(k.Text("WebKeskus"), "G");
  // Next straight after a delete goes past the row the delete moved to.
  ASSERT_TRUE(k.FindKey({Txt("B")}));
  k.Delete();
  k.Next();
  EXPECT_EQ(k.Text("WebKeskus"), "F");
  // Deleting while walking removes every row.
  k.First();
  while (!k.Eof()) k.Delete();
  EXPECT_TRUE(k.IsEmpty());
  EXPECT_THROW(k.Delete(), DatabaseError);
  EXPECT_THROW(k.Edit(), DatabaseError);
}

TEST_P(StoreTable, NullKeysSortFirstAndWalksStepOverThem) {
  Table r = Handle("TblRes");
  r.Open();
  auto add = [&](const char* no, const char* keskus, int nayta) {
    r.Append();
    r["ResNo"].SetText(no);
    r["ResNimi"].SetText(std::string("Nimi ") + no);
    if (keskus) r["ResKeskus"].SetText(keskus);
    r["ResWebNayta"].SetInt(nayta);
    r.Post();
  };
  add("1", "K1", 1);
  add("2", nullptr, 1);
  add("3", "K1", 0);
  add("4", nullptr, 1);
  add("5", "K1", 1);
  EXPECT_EQ(Walk(r, "ResNo"), (std::vector<std::string>{"2", "4", "3", "1", "5"}));
  // After a post on a row with a null key the walk goes on in order.
  ASSERT_TRUE(r.FindKey({Value()}));
  EXPECT_EQ(r.Text("ResNo"), "2");
  r.Edit();
  r["ResPaikka"].SetText("P");
  r.Post();
  r.Next();
  EXPECT_EQ(r.Text("ResNo"), "4");
  r.Next();
  EXPECT_EQ(r.Text("ResNo"), "3");
  r.SetRange({Txt("K1"), Int(1)}, {Txt("K1"), Int(1)});
  EXPECT_EQ(Walk(r, "ResNo"), (std::vector<std::string>{"1", "5"}));
}

TEST_P(StoreTable, LongWalksReadEveryRowOnce) {
  Table v = Handle("TblFiVuoro");
  v.Open();
  const DateTime day = EncodeDate(2024, 5, 1);
  conn->BeginWrite();
  for (int i = 0; i < 700; ++i) {
    char no[8];
    snprintf(no, sizeof no, "%5d", i);
    // Ten slots share each start time.
    AddSlot(v, no, i % 2 ? "R1" : "R2", day + (i / 10) * EncodeTime(0, 30, 0));
  }
  conn->Commit();
  v.SetRange({Txt("R1"), Dt(day)}, {Txt("R1"), Dt(day + 100)});
  std::vector<std::string> seen = Walk(v, "VuoroNo");
  ASSERT_EQ(seen.size(), 350u);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
  // Writing while a walk is under way: the walk goes on where it was.
  Table other = Handle("TblVuoro");
  other.Open();
  v.First();
  int n = 0;
  DateTime last = 0;
  while (!v.Eof()) {
    EXPECT_GE(v.Date("VuoroAika"), last);
    last = v.Date("VuoroAika");
    if (n % 50 == 0) {
      ASSERT_TRUE(other.FindKey({Txt("2024"), v["VuoroNo"].AsText(), Txt("    1")}));
      other.Edit();
      other["Maara"].SetInt(n);
      other.Post();
    }
    ++n;
    v.Next();
  }
  EXPECT_EQ(n, 350);
}

TEST_P(StoreTable, ClosedHandlesRefuseOperations) {
  Table t = Handle("TblParam");
  EXPECT_THROW(t.FindKey({Txt("x")}), DatabaseError);
  EXPECT_THROW(t.First(), DatabaseError);
  EXPECT_THROW(t.Append(), DatabaseError);
  EXPECT_THROW(t.SetRange({Txt("a")}, {Txt("b")}), DatabaseError);
  EXPECT_TRUE(t.Eof());
  t.SetIndex("ArvoStr");  // allowed while closed, used at the next open
  t.Open();
  EXPECT_EQ(t.Index(), "ArvoStr");
  EXPECT_THROW(t.SetIndex("NoSuchField"), DatabaseError);
  EXPECT_EQ(t.Index(), "ArvoStr");
  Table bad(*conn, TableNamed("PARAM"), "Avain;Nope", "Avain");
  EXPECT_THROW(bad.Open(), DatabaseError);
}

TEST_P(StoreTable, OpeningAndLookingUpTouchOnlyWhatIsAsked) {
  std::vector<std::string> trace;
  conn->backend().trace = &trace;
  Table t = Handle("TblParam");
  t.Open();
  EXPECT_TRUE(trace.empty());  // nothing is read until a row is needed
  t.Append();
  t["Avain"].SetText("WebAsNo");
  t["ArvoInt32"].SetInt(500000);
  t.Post();
  EXPECT_EQ(trace.size(), 1u);  // the INSERT
  int64_t prepared = conn->backend().prepares, trips = conn->backend().roundTrips;
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(t.FindKey({Txt("WebAsNo")}));
    EXPECT_EQ(t.Int("ArvoInt32"), 500000);
  }
  EXPECT_EQ(trace.size(), 51u);  // one query per find
  EXPECT_LE(conn->backend().prepares - prepared, 1);  // prepared once, reused
  if (Pg()) {
    EXPECT_EQ(conn->backend().roundTrips - trips, 50);  // preparing rides with a find
  }
  conn->backend().trace = nullptr;
}

// An insert posted with the next statement writes as Post does: the next
// read sees it (on a server in that read's round trip), the commit keeps
// it, a rollback drops it, and a refused one fails before anything after
// it is read.
TEST_P(StoreTable, InsertsPostedWithTheNextStatement) {
  Table p = Handle("TblParam");
  p.Open();
  p.Append();
  p["Avain"].SetText("a");
  p.Post();
  auto append = [&](const char* key) {
    p.Append();
    p["Avain"].SetText(key);
    p.PostWithNext();
  };
  auto exists = [&](const char* key) {
    Table t = Handle("TblParam");
    t.Open();
    return t.FindKey({Txt(key)});
  };
  const struct {
    const char* key;
    bool commit, kept;
  } cases[] = {{"b", true, true}, {"c", false, false}, {"a", false, false}};
  for (const auto& c : cases) {
    conn->BeginWrite();
    ASSERT_TRUE(exists("a"));
    const int64_t trips = conn->backend().roundTrips;
    append("e");
    if (std::string(c.key) == "a") {  // the unique key refuses it
      EXPECT_THROW({
        append(c.key);
        exists("e");
      }, DatabaseError);
      p.Cancel();
    } else {
      append(c.key);
      EXPECT_TRUE(p.Eof());
      EXPECT_TRUE(exists(c.key));
      if (Pg()) {
        EXPECT_EQ(conn->backend().roundTrips - trips, 1) << c.key;
      }
    }
    c.commit ? conn->Commit() : conn->Rollback();
    EXPECT_EQ(exists(c.key), c.kept || std::string(c.key) == "a") << c.key;
    EXPECT_EQ(exists("e"), c.kept) << c.key;
    if (c.kept) Sql("DELETE FROM PARAM WHERE Avain = 'e'");
  }
  // Posted last, it is written before the commit.
  conn->BeginWrite();
  append("f");
  conn->Commit();
  EXPECT_TRUE(exists("f"));
}

// A write transaction announced for after the next statement begins in
// that statement's round trip: a read announced after it is read inside
// it, BeginWrite takes it up, and its end ends it as any other.
TEST_P(StoreTable, WriteTransactionBegunAfterTheNextStatement) {
  Table p = Handle("TblParam"), ahead = Handle("TblParam");
  ahead.SetIndex("Avain");
  p.Open();
  for (const char* key : {"a", "b"}) {
    p.Append();
    p["Avain"].SetText(key);
    p.Post();
  }
  for (const bool commit : {false, true}) {
    const int64_t trips = conn->backend().roundTrips;
    conn->BeginWriteAfterNext();
    ahead.PrefetchKey({Txt("a")});
    ASSERT_TRUE(p.FindKey({Txt("b")}));
    EXPECT_EQ(conn->InTransaction(), Pg());
    conn->BeginWrite();
    ahead.Open();
    ASSERT_TRUE(ahead.FindKey({Txt("a")}));
    if (Pg()) {
      EXPECT_EQ(conn->backend().roundTrips - trips, 1);
    }
    ahead.Edit();
    ahead["ArvoInt32"].SetInt(commit ? 2 : 1);
    ahead.Post();
    ahead.Close();
    commit ? conn->Commit() : conn->Rollback();
    EXPECT_FALSE(conn->InTransaction());
    ASSERT_TRUE(p.FindKey({Txt("a")}));
    EXPECT_EQ(p.IsNull("ArvoInt32") ? 0 : p.Int("ArvoInt32"), commit ? 2 : 0);
  }
}

// A walk announced ahead (Table::Prefetch) reads what it would have read
// when asked, costs no round trip of its own on a server, and never
// answers from before a write or a transaction.
TEST_P(StoreTable, WalksAnnouncedAheadAnswerAsIfAskedThen) {
  Table p = Handle("TblParam");
  p.Open();
  for (const char* k : {"b", "a", "c"}) {
    p.Append();
    p["Avain"].SetText(k);
    p.Post();
  }
  p.Close();
  auto keys = [](Table& t) {
    std::string out;
    for (t.First(); !t.Eof(); t.Next()) out += t.Text("Avain");
    return out;
  };
  Table ahead = Handle("TblParam"), other = Handle("TblParam");
  ahead.SetIndex("Avain");
  other.Open();
  Connection::Backend& be = conn->backend();

  // Carried by another handle's find: a walk, a range, a range with a
  // computed column and a find.
  Table ranged = Handle("TblParam"), counted = Handle("TblParam"), found = Handle("TblParam");
  ranged.SetIndex("Avain");
  counted.SetIndex("Avain");
  counted.SetComputed("(SELECT count(*) FROM PARAM WHERE Avain > ?)", {Stored::OfText("a")});
  found.SetIndex("Avain");
  ahead.Prefetch();
  ranged.PrefetchRange({Txt("b")}, {Txt("c")});
  counted.PrefetchRange({Txt("a")}, {Txt("a")});
  found.PrefetchKey({Txt("c")});
  int64_t trips = be.roundTrips;
  ASSERT_TRUE(other.FindKey({Txt("b")}));
  ahead.Open();
  EXPECT_EQ(keys(ahead), "abc");
  ranged.Open();
  ranged.SetRange({Txt("b")}, {Txt("c")});
  EXPECT_FALSE(ranged.IsEmpty());
  EXPECT_EQ(ranged.Text("Avain"), "b");
  counted.Open();
  counted.SetRange({Txt("a")}, {Txt("a")});
  ASSERT_FALSE(counted.Eof());
  const Stored& later = counted.Computed(0);
  EXPECT_EQ(later.kind == Stored::Int ? later.i : std::stoll(later.s), 2);
  found.Open();
  ASSERT_TRUE(found.FindKey({Txt("c")}));
  if (Pg()) {
    EXPECT_EQ(be.roundTrips - trips, 1);
  }
  ahead.Close();

  // A write in between: the walk sees it.
  ahead.Prefetch();
  ASSERT_TRUE(other.FindKey({Txt("a")}));
  other.Append();
  other["Avain"].SetText("d");
  other.Post();
  ahead.Open();
  EXPECT_EQ(keys(ahead), "abcd");
  ahead.Close();

  // Read ahead outside a transaction, asked inside one after a write.
  ahead.Prefetch();
  ASSERT_TRUE(other.FindKey({Txt("a")}));
  conn->BeginWrite();
  Sql("DELETE FROM PARAM WHERE Avain = 'a'");
  ahead.Open();
  EXPECT_EQ(keys(ahead), "bcd");
  conn->Rollback();
  ahead.Close();

  // A query announced that fails leaves the statement it rode with, and
  // the connection, as they were; inside a transaction, which it ended, it
  // fails the statement.
  be.Prefetch("SELECT no_such_column FROM PARAM", {});
  ASSERT_TRUE(other.FindKey({Txt("c")}));
  EXPECT_EQ(other.Text("Avain"), "c");
  ahead.Open();
  EXPECT_EQ(keys(ahead), "abcd");
  conn->BeginWrite();
  be.Prefetch("SELECT no_such_column FROM PARAM", {});
  if (Pg()) {
    EXPECT_THROW(other.FindKey({Txt("c")}), DatabaseError);
  }
  conn->Rollback();
  ASSERT_TRUE(other.FindKey({Txt("c")}));
}

// The same walk announced for several ranges (a centre's resources) rides
// in one round trip, is prepared once on a server, and each range answers
// its own rows; from its first prepared statement on, the session plans
// prepared statements once, for all parameters, also after a repeated
// query fails.
TEST_P(StoreTable, OneWalkAnnouncedForSeveralRangesIsPreparedOnce) {
  Connection::Backend& be = conn->backend();
  auto planning = [&] {
    StoredRow r;
    std::unique_ptr<Rows> q = be.Query("SHOW plan_cache_mode", {});
    return q->Next(r) == Rows::Step::Row ? r.rowId.s : std::string();
  };
  // Until it prepares a statement, a session plans as the server does.
  if (Pg()) {
    EXPECT_EQ(planning(), "auto");
  }
  Table p = Handle("TblParam");
  p.Open();
  for (const char* k : {"a", "b", "c", "d"}) {
    p.Append();
    p["Avain"].SetText(k);
    p.Post();
  }
  const std::vector<std::pair<const char*, const char*>> ranges = {{"a", "b"}, {"c", "c"}, {"d", "z"}};
  Table walks[] = {Handle("TblParam"), Handle("TblParam"), Handle("TblParam")};
  for (size_t i = 0; i < ranges.size(); ++i) {
    walks[i].SetIndex("Avain");
    walks[i].PrefetchRange({Txt(ranges[i].first)}, {Txt(ranges[i].second)});
  }
  int64_t prepared = be.prepares, trips = be.roundTrips;
  ASSERT_TRUE(p.FindKey({Txt("a")}));
  const std::vector<std::string> expected = {"ab", "c", "d"};
  for (size_t i = 0; i < ranges.size(); ++i) {
    walks[i].Open();
    walks[i].SetRange({Txt(ranges[i].first)}, {Txt(ranges[i].second)});
    std::string keys;
    for (; !walks[i].Eof(); walks[i].Next()) keys += walks[i].Text("Avain");
    EXPECT_EQ(keys, expected[i]) << i;
  }
  if (Pg()) {
    EXPECT_EQ(be.roundTrips - trips, 1);
    EXPECT_EQ(be.prepares - prepared, 1);
    EXPECT_EQ(planning(), "force_generic_plan");
    be.Prefetch("SELECT no_such_column FROM PARAM WHERE Avain = $1", {Stored::OfText("a")});
    be.Prefetch("SELECT no_such_column FROM PARAM WHERE Avain = $1", {Stored::OfText("b")});
    ASSERT_TRUE(p.FindKey({Txt("c")}));
    EXPECT_EQ(p.Text("Avain"), "c");
    EXPECT_EQ(planning(), "force_generic_plan");
  }
}

TEST_P(StoreTable, WriteTransactionsCommitOrRollBack) {
  Table p = Handle("TblParam");
  p.Open();
  InWriteTransaction(*conn, [&] {
    p.Append();
    p["Avain"].SetText("a");
    p.Post();
  });
  EXPECT_FALSE(conn->InTransaction());
  EXPECT_THROW(InWriteTransaction(*conn,
                                  [&] {
                                    p.Append();
                                    p["Avain"].SetText("b");
                                    p.Post();
                                    throw DatabaseError("stop");
                                  }),
               DatabaseError);
  EXPECT_FALSE(conn->InTransaction());
  EXPECT_EQ(p.RecordCount(), 1);
  EXPECT_FALSE(p.FindKey({Txt("b")}));
  conn->BeginWrite();
  EXPECT_THROW(conn->BeginWrite(), DatabaseError);  // not nested
  conn->Rollback();
  // Creating the schema again changes nothing.
  conn->CreateSchema();
  EXPECT_EQ(p.RecordCount(), 1);
}

// A write refused under the store (support/faulty_store.h) fails like a
// refusal of the engine: the Post raises, writes nothing and leaves the
// handle in append; the transaction rolls back what came before it.
TEST_P(StoreTable, AWriteRefusedUnderTheStoreRollsBackItsTransaction) {
  test::WriteFaults faults;
  std::unique_ptr<Connection> faulty = faults.Wrap(db->Connect());
  Table p(*faulty, TableNamed("PARAM"), "", "Avain");
  p.Open();
  faults.FailNth(2);
  auto append = [&](const char* key) {
    p.Append();
    p["Avain"].SetText(key);
    p.Post();
  };
  EXPECT_THROW(InWriteTransaction(*faulty, [&] {
                 append("a");
                 append("b");
               }),
               DatabaseError);
  EXPECT_FALSE(faulty->InTransaction());
  EXPECT_EQ(faults.writes(), 2);
  p.Cancel();
  EXPECT_EQ(p.RecordCount(), 0);
  append("c");  // the third write goes through
  Table q = Handle("TblParam");  // on the connection without faults
  q.Open();
  EXPECT_EQ(q.RecordCount(), 1);
}

TEST_P(StoreTable, FindsAndRangesUseTheIndexes) {
  // On a large table a find or a range that scanned it would take seconds.
  Table v = Handle("TblVuoro");
  v.Open();
  const DateTime day = EncodeDate(2024, 1, 1);
  conn->BeginWrite();
  if (Pg()) {
    Sql("INSERT INTO VaVuoro (Kausi, VuoroNo, VuoroNoSeq, ResNo, VuoroAika, Maara) "
        "SELECT '2024', lpad(i::text, 5), '    1', 'R' || (i % 50), "
        "timestamp '2024-01-01' + i * interval '10 minutes', 5 FROM generate_series(1, 60000) AS i");
    Sql("ANALYZE VaVuoro");
  } else {
    Sql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60000) "
        "INSERT INTO VaVuoro (Kausi, VuoroNo, VuoroNoSeq, ResNo, VuoroAika, Maara) "
        "SELECT '2024', printf('%5d', i), '    1', 'R' || (i % 50), "
        "strftime('%Y-%m-%d %H:%M:%S', '2024-01-01', '+' || (i * 10) || ' minutes'), 5 FROM n");
  }
  conn->Commit();
  Table fi = Handle("TblFiVuoro");
  fi.Open();
  auto start = std::chrono::steady_clock::now();
  for (int i = 1; i <= 300; ++i) {
    char no[8];
    snprintf(no, sizeof no, "%5d", i * 199);
    ASSERT_TRUE(v.FindKey({Txt("2024"), Txt(no), Txt("    1")}));
    EXPECT_EQ(v.Int("Maara"), 5);
    // R7 has a slot every 500 minutes, at 70 + 500 m minutes from the start.
    DateTime from = day + (70 + 500 * i) / 1440.0;
    fi.SetRange({Txt("R7"), Dt(from)}, {Txt("R7"), Dt(from + 1000 / 1440.0)});
    EXPECT_EQ(fi.RecordCount(), 3);
    int n = 0;
    for (; !fi.Eof(); fi.Next()) ++n;
    EXPECT_EQ(n, 3);
  }
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(secs, 3.0) << "300 finds and ranges on 60000 rows took " << secs << " s";
}

TEST_P(StoreTable, AFailedConnectionIsRaisedByTheFirstTableOperation) {
  ConnectionSettings s;
  if (Pg()) {
    s = db->settings();
    s.port = 1;  // nothing listens there
  } else {
    test::TempDir dir;
    s.databaseFile = dir.File("missing/VELMORI.db");
  }
  std::unique_ptr<Connection> c;
  ASSERT_NO_THROW(c = Connection::Open(s));
  Table t(*c, TableNamed("WEBPARAM"), "", "Numero");
  try {
    t.Open();
    FAIL() << "opened a table on a database that is not there";
  } catch (const DatabaseError& e) {
    if (!Pg()) {
      EXPECT_NE(std::string(e.what()).find("missing/VELMORI.db"), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(t.Open(), DatabaseError);  // and again
  EXPECT_FALSE(t.IsOpen());
}

WO_INSTANTIATE_PER_ENGINE(StoreTable);

#ifndef WO_PG_TESTS
// The program never creates the SQLite file: a misplaced file is an error.
TEST(StoreSqlite, MissingFileIsNotCreated) {
  test::TempDir dir;
  ConnectionSettings s;
  s.databaseFile = dir.File("VELMORI.db");
  std::unique_ptr<Connection> c = Connection::Open(s);
  Table t(*c, TableNamed("PARAM"), "", "Avain");
  EXPECT_THROW(t.Open(), DatabaseError);
  EXPECT_NE(access(s.databaseFile.c_str(), F_OK), 0);
}
#endif

}  // namespace
}  // namespace wo::store
