// Files read and written by peers nobody here wrote: python3-dbf and dbview.
#include <gtest/gtest.h>

#include "store/frequency_table.h"
#include "store/model_table.h"
#include "store_test_util.h"

namespace zuna::store {
namespace {

using testing::python;
using testing::read_bytes;
using testing::run;
using testing::ScratchDir;

#define REQUIRE_PYTHON_DBF()                                                                                        \
    if (!testing::python_dbf_present())                                                                             \
    GTEST_SKIP() << "python3-dbf is not installed for /usr/bin/python3"

// Prints the columns (python3-dbf shows names in lower case) and every record of mall7.dbf as "deleted|TYPE|C1|...|T6" with python3-dbf.
const char* kDump = R"(
import dbf
t = dbf.Table('mall7.dbf')
t.open(dbf.READ_ONLY)
print('fields', ';'.join(t.structure()))
print('count', len(t))
for r in t:
    cells = ['*' if dbf.is_deleted(r) else ' ']
    for v in r:
        cells.append('' if v is None else (v.rstrip() if isinstance(v, str) else str(int(v))))
    print('|'.join(cells))
t.close()
)";

ModelRecord record(const std::string& type, const std::string& piece, std::optional<int> c1, int t1)
{
    ModelRecord r;
    r.type = type;
    r.piece = piece;
    r.c[0] = c1;
    r.c[1] = -32768;
    r.c[11] = 32767;
    r.t[0] = t1;
    return r;
}

// The same record as the dump prints it.
std::string dumped(const ModelRecord& r, bool deleted = false)
{
    std::string s = std::string(deleted ? "*" : " ") + "|" + r.type;
    for (int i = 0; i < 8; ++i)
        s += "|" + number_text(r.c[i]);
    s += "|" + r.piece;
    for (int i = 8; i < 12; ++i)
        s += "|" + number_text(r.c[i]);
    for (int i = 0; i < 6; ++i)
        s += "|" + number_text(r.t[i]);
    return s;
}

TEST(Interop, StationTableReadsBackInPythonDbfAndDbview)
{
    REQUIRE_PYTHON_DBF();
    ScratchDir dir;
    std::string error, notice;
    auto t = open_model_table(dir.path(), &error, &notice);
    ASSERT_TRUE(t) << error;
    const std::vector<ModelRecord> records = {
        record("C120", "DEUX EUROS", 120, 'A'),
        record("rm4", "Écu à côté", std::nullopt, 0xE9),
        record("NRI2", "", -5, 1),
        record("C22B", "1 € ŒUVRE", 32767, 255),
    };
    for (const auto& r : records)
        ASSERT_TRUE(t->append(r, &error)) << error;
    ASSERT_TRUE(t->set_filter("type = 'rm4'", &error));
    ASSERT_TRUE(t->first());
    ASSERT_TRUE(t->delete_current(&error));

    int status = 0;
    const std::string out = python(dir, kDump, &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("fields type C(4);c1 N(6,0);c2 N(6,0)"), std::string::npos) << out;
    EXPECT_NE(out.find("piece C(15);c9 N(6,0)"), std::string::npos) << out;
    EXPECT_NE(out.find("t6 N(6,0)\ncount 4\n"), std::string::npos) << out;
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_NE(out.find(dumped(records[i], i == 1) + "\n"), std::string::npos) << dumped(records[i], i == 1) << "\n"
                                                                                   << out;

    if (!testing::dbview_present())
        GTEST_SKIP() << "dbview is not installed";
    const std::string listing = run("dbview -b '" + dir.file("mall7.dbf") + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << listing;
    EXPECT_NE(listing.find("DEUX EUROS"), std::string::npos) << listing;
    EXPECT_NE(listing.find("C22B"), std::string::npos) << listing;
    EXPECT_NE(listing.find("-32768"), std::string::npos) << listing;
}

TEST(Interop, PythonDbfTableIsReadByTheStationAndStaysReadableAfterAnAppend)
{
    REQUIRE_PYTHON_DBF();
    ScratchDir dir;
    int status = 0;
    std::string out = python(dir, R"(
import dbf
columns = 'TYPE C(4); ' + '; '.join('C%d N(6,0)' % i for i in range(1, 9)) + '; PIECE C(15); ' + \
       '; '.join('C%d N(6,0)' % i for i in range(9, 13)) + '; ' + '; '.join('T%d N(6,0)' % i for i in range(1, 7))
t = dbf.Table('mall7.dbf', columns, dbf_type='db3', codepage='cp1252')
t.open(dbf.READ_WRITE)
t.append({'type': 'C120', 'piece': 'FRANC SUISSE', 'c1': 10, 'c2': 20})
t.append({'type': 'C120', 'piece': 'Pièce usée', 'c1': -1})
t.append({'type': 'C120', 'piece': 'EFFACÉE', 'c1': 3})
t.append({'type': 'ALB3', 'piece': 'Ça coûte €', 't1': 65, 'c12': 32767})
with t[2] as r:
    dbf.delete(r)
t.close()
)",
                             &status);
    ASSERT_EQ(status, 0) << out;
    const std::string header = read_bytes(dir.file("mall7.dbf")).substr(12, 20);

    std::string error, notice;
    auto t = open_model_table(dir.path(), &error, &notice);
    ASSERT_TRUE(t) << error;
    EXPECT_EQ(t->visible_count(), 3) << "the deleted record is not shown";
    ASSERT_TRUE(t->set_filter("type = 'C120'", &error));
    ASSERT_EQ(t->visible_count(), 2);
    ASSERT_TRUE(t->first());
    EXPECT_EQ(t->current()->piece, "FRANC SUISSE");
    EXPECT_EQ(t->current()->c[1], 20);
    EXPECT_EQ(t->current()->c[2], std::nullopt);
    ASSERT_TRUE(t->next());
    EXPECT_EQ(t->current()->piece, "Pièce usée");
    EXPECT_EQ(t->current()->c[0], -1);
    ASSERT_TRUE(t->set_filter("type = 'ALB3'", &error));
    ASSERT_TRUE(t->first());
    EXPECT_EQ(t->current()->piece, "Ça coûte €");
    EXPECT_EQ(t->current()->t[0], 65);
    EXPECT_EQ(t->current()->c[11], 32767);

    const ModelRecord added = record("NRI1", "NOUVEAU Ø", 7, 'z');
    ASSERT_TRUE(t->append(added, &error)) << error;
    out = python(dir, kDump, &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("count 5\n"), std::string::npos) << out;
    EXPECT_NE(out.find("*|C120|3|"), std::string::npos) << out;
    EXPECT_NE(out.find(" |C120|-1||||||||Pièce usée|"), std::string::npos) << out;
    EXPECT_NE(out.find(dumped(added) + "\n"), std::string::npos) << out;
    EXPECT_EQ(read_bytes(dir.file("mall7.dbf")).substr(12, 20), header);
}

TEST(Interop, RefusedValueWritesNothingAndAKilledAppendKeepsItsWholeRecord)
{
    REQUIRE_PYTHON_DBF();
    ScratchDir dir;
    std::string error, notice;
    const ModelRecord kept = record("C120", "GARDÉE", 1, 'K');
    {
        auto t = open_model_table(dir.path(), &error, &notice);
        ASSERT_TRUE(t) << error;
        ASSERT_TRUE(t->append(kept, &error)) << error;
        const std::string before = read_bytes(dir.file("mall7.dbf"));
        EXPECT_FALSE(t->append(record("C120", "TROP", 40000, 0), &error));
        EXPECT_FALSE(t->append(record("C120", "TROP", -40000, 0), &error));
        EXPECT_EQ(read_bytes(dir.file("mall7.dbf")), before);

        t->file().set_fault(DbfFault::after_record); // the program dies between record and count
        EXPECT_FALSE(t->append(record("C120", "INTERROMPUE", 2, 'P'), &error));
    }
    int status = 0;
    std::string out = python(dir, kDump, &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("count 1\n" + dumped(kept) + "\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("INTERROMPUE"), std::string::npos) << out;

    // The next start keeps the whole record the killed append left after the
    // count; the file then takes new records normally.
    auto t = open_model_table(dir.path(), &error, &notice);
    ASSERT_TRUE(t) << error;
    EXPECT_NE(notice.find("1 fiche complète"), std::string::npos) << notice;
    const ModelRecord next = record("C120", "SUIVANTE", 3, 'S');
    ASSERT_TRUE(t->append(next, &error)) << error;
    out = python(dir, kDump, &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("count 3\n" + dumped(kept) + "\n" + dumped(record("C120", "INTERROMPUE", 2, 'P')) + "\n" +
                       dumped(next) + "\n"),
              std::string::npos)
        << out;
}

TEST(Interop, ColumnsTheStationDoesNotKnowSurviveItsEdits)
{
    REQUIRE_PYTHON_DBF();
    ScratchDir dir;
    int status = 0;
    std::string out = python(dir, R"(
import dbf
t = dbf.Table('calib.dbf', 'APPAREIL C(25); NOTE C(10); C120 N(6,0); C220 N(6,0); C220B N(6,0); G13 N(6,0); '
              'G136 N(6,0); RM3 N(6,0); RM4 N(6,0); ALB N(6,0); OP N(6,0)', dbf_type='db3', codepage='cp1252')
t.open(dbf.READ_WRITE)
t.append({'appareil': 'ATELIER', 'note': 'garder', 'c120': 138, 'alb': 68})
t.close()
)",
                             &status);
    ASSERT_EQ(status, 0) << out;
    std::string error, notice;
    auto t = open_frequency_table(dir.path(), &error, &notice);
    ASSERT_TRUE(t) << error;
    ASSERT_TRUE(t->first());
    FrequencyRecord r = *t->current();
    EXPECT_EQ(r.c120, 138);
    EXPECT_EQ(r.alb, 68);
    r.c120 = 140;
    ASSERT_TRUE(t->update_current(r, &error)) << error;
    ASSERT_TRUE(t->append({"BUREAU", 1, 2, 3, 4, 5, 6, 7, std::nullopt, std::nullopt}, &error)) << error;
    out = python(dir, R"(
import dbf
t = dbf.Table('calib.dbf')
t.open(dbf.READ_ONLY)
for r in t:
    print(r.appareil.rstrip(), (r.note or '').rstrip(), r.c120, r.rm4, r.alb)
t.close()
)",
                 &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(out, "ATELIER garder 140 None 68\nBUREAU  1 7 None\n");
}

} // namespace
} // namespace zuna::store
