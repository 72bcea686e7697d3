// The dBase III file layer: refusal of damaged files, checks before any
// write, torn-tail repair, code pages, header bytes kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "store/dbf.h"
#include "store/frequency_table.h"
#include "store/model_table.h"
#include "store_test_util.h"

namespace zuna::store {
namespace {

using testing::read_bytes;
using testing::ScratchDir;
using testing::write_bytes;

ModelRecord sample(const std::string& type, const std::string& piece, int base)
{
    ModelRecord r;
    r.type = type;
    r.piece = piece;
    for (int i = 0; i < 6; ++i)
        r.c[i] = base + i;
    r.t[0] = 'A';
    return r;
}

// A station-made mall7.dbf with two records; returns its bytes.
std::string make_sample_file(const ScratchDir& dir)
{
    std::string error, notice;
    auto t = open_model_table(dir.path(), &error, &notice);
    EXPECT_TRUE(t) << error;
    EXPECT_TRUE(t->append(sample("C120", "PIECE 1", 10), &error)) << error;
    EXPECT_TRUE(t->append(sample("RM3", "PIECE 2", 20), &error)) << error;
    return read_bytes(dir.file("mall7.dbf"));
}

// Header bytes 1 to 3 as a table written now carries them: year - 1900,
// month, day (local time).
std::string today_stamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm today {};
    localtime_r(&now, &today);
    return {char(today.tm_year % 256), char(today.tm_mon + 1), char(today.tm_mday)};
}

struct StationTable {
    const char* file;
    std::function<bool(const std::string& dir, std::string* error)> create;
    const char* layout; // the columns in file order, as python3-dbf lists them
};

TEST(DbfFile, CreatesTheStationColumnsAsDbaseIII)
{
    const std::vector<StationTable> tables = {
        {"mall7.dbf",
         [](const std::string& dir, std::string* error) {
             std::string notice;
             return bool(open_model_table(dir, error, &notice));
         },
         "type C(4);c1 N(6,0);c2 N(6,0);c3 N(6,0);c4 N(6,0);c5 N(6,0);c6 N(6,0);c7 N(6,0);c8 N(6,0);"
         "piece C(15);c9 N(6,0);c10 N(6,0);c11 N(6,0);c12 N(6,0);"
         "t1 N(6,0);t2 N(6,0);t3 N(6,0);t4 N(6,0);t5 N(6,0);t6 N(6,0)"},
        {"calib.dbf",
         [](const std::string& dir, std::string* error) {
             std::string notice;
             return bool(open_frequency_table(dir, error, &notice));
         },
         "appareil C(25);c120 N(6,0);c220 N(6,0);c220b N(6,0);g13 N(6,0);g136 N(6,0);rm3 N(6,0);rm4 N(6,0);"
         "alb N(6,0);op N(6,0)"},
    };
    for (const auto& table : tables) {
        SCOPED_TRACE(table.file);
        ScratchDir dir;
        const std::string before = today_stamp();
        std::string error;
        ASSERT_TRUE(table.create(dir.path(), &error)) << error;
        const std::string bytes = read_bytes(dir.file(table.file));
        ASSERT_GT(bytes.size(), 32u);
        EXPECT_EQ(uint8_t(bytes[0]), 0x03);
        EXPECT_TRUE(bytes.substr(1, 3) == before || bytes.substr(1, 3) == today_stamp()) << "date of creation";
        EXPECT_EQ(uint8_t(bytes[29]), 0x57);
        EXPECT_EQ(uint8_t(bytes.back()), 0x1A);
        // The names as stored: upper case.
        auto f = DbfFile::open(dir.file(table.file), &error);
        ASSERT_TRUE(f) << error;
        std::string names, expected_names;
        for (const auto& field : f->fields())
            names += field.name + ";";
        std::stringstream layout(table.layout);
        for (std::string column; std::getline(layout, column, ';');) {
            for (char c : column.substr(0, column.find(' ')))
                expected_names += char(std::toupper(uint8_t(c)));
            expected_names += ';';
        }
        EXPECT_EQ(names, expected_names);
        if (!testing::python_dbf_present())
            continue;
        int status = 0;
        const std::string out = testing::python(dir, std::string(R"(
import dbf, datetime
t = dbf.Table(')") + table.file + R"(')
t.open(dbf.READ_ONLY)
print(';'.join(t.structure()))
print(len(t), t.last_update == datetime.date.today())
t.close()
)",
                                                &status);
        ASSERT_EQ(status, 0) << out;
        EXPECT_EQ(out, std::string(table.layout) + "\n0 True\n");
    }

    // The records follow the header, then one end mark.
    ScratchDir dir;
    const std::string bytes = make_sample_file(dir);
    std::string error;
    auto f = DbfFile::open(dir.file("mall7.dbf"), &error);
    ASSERT_TRUE(f) << error;
    EXPECT_EQ(f->record_count(), 2u);
    EXPECT_EQ(f->header_length(), 32 + 32 * 20 + 1);
    EXPECT_EQ(f->record_length(), 1 + 4 + 15 + 18 * 6);
    ASSERT_EQ(bytes.size(), size_t(f->header_length() + 2 * f->record_length() + 1));
    EXPECT_EQ(uint8_t(bytes.back()), 0x1A);
}

struct Damage {
    const char* name;
    std::function<void(std::string&)> apply;
    const char* message; // fragment of the refusal
};

TEST(DbfFile, RefusesDamagedFilesWithAMessageNamingTheFile)
{
    ScratchDir dir;
    const std::string good = make_sample_file(dir);
    const auto put16 = [](std::string& b, size_t at, int v) {
        b[at] = char(v & 0xFF);
        b[at + 1] = char(v >> 8);
    };
    const std::vector<Damage> cases = {
        {"empty", [](std::string& b) { b.clear(); }, "trop court"},
        {"cut in the header", [](std::string& b) { b.resize(20); }, "trop court"},
        {"cut in the field list", [](std::string& b) { b.resize(100); }, "longueur d'en-tête"},
        {"count beyond the end", [](std::string& b) { b[4] = 50; }, "tronqué"},
        {"cut in the records", [](std::string& b) { b.resize(b.size() - 30); }, "tronqué"},
        {"field lengths do not add up", [&](std::string& b) { put16(b, 10, 200); }, "longueur des enregistrements"},
        {"no header terminator", [](std::string& b) { b[32 + 32 * 20] = ' '; }, "0x0D"},
        {"level 7", [](std::string& b) { b[0] = 0x04; }, "niveau 7"},
        {"FoxPro", [](std::string& b) { b[0] = 0x30; }, "version"},
        {"zero-length field", [](std::string& b) { b[32 + 16] = 0; }, "mal décrit"},
        {"header length beyond the file", [&](std::string& b) { put16(b, 8, 0xFFFF); }, "longueur d'en-tête"},
        {"header length too small", [&](std::string& b) { put16(b, 8, 10); }, "longueur d'en-tête"},
        {"garbage",
         [](std::string& b) {
             std::mt19937 rng(7);
             for (char& c : b)
                 c = char(rng());
         },
         "dBase"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = good;
        c.apply(bytes);
        const std::string path = dir.file("damaged.dbf");
        write_bytes(path, bytes);
        std::string error;
        EXPECT_FALSE(DbfFile::open(path, &error));
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(read_bytes(path), bytes) << "a refused file is left alone";
    }
}

TEST(DbfFile, EveryTruncationIsRefusedOrReadWithoutCrash)
{
    ScratchDir dir;
    const std::string good = make_sample_file(dir);
    const std::string path = dir.file("cut.dbf");
    for (size_t n = 0; n <= good.size(); ++n) {
        write_bytes(path, good.substr(0, n));
        std::string error;
        auto f = DbfFile::open(path, &error);
        // Only the whole file, with or without its end mark, is a table.
        EXPECT_EQ(bool(f), n >= good.size() - 1) << n << ": " << error;
    }
}

TEST(DbfFile, AcceptsAFileWithoutEndMarkAndWritesOneOnAppend)
{
    ScratchDir dir;
    std::string bytes = make_sample_file(dir);
    bytes.pop_back();
    write_bytes(dir.file("mall7.dbf"), bytes);
    std::string error, notice;
    auto t = open_model_table(dir.path(), &error, &notice);
    ASSERT_TRUE(t) << error;
    EXPECT_TRUE(notice.empty()) << notice;
    EXPECT_EQ(t->visible_count(), 2);
    ASSERT_TRUE(t->append(sample("C220", "X", 1), &error)) << error;
    const std::string after = read_bytes(dir.file("mall7.dbf"));
    EXPECT_EQ(uint8_t(after.back()), 0x1A);
    EXPECT_EQ(after.size(), bytes.size() + t->file().record_length() + 1);
}

struct BadValue {
    const char* name;
    std::function<void(ModelRecord&)> change;
    const char* message; // exact message, or "" when the record is accepted
};

TEST(ModelTable, ChecksTheWholeRecordBeforeWriting)
{
    const std::vector<BadValue> cases = {
        {"40000", [](ModelRecord& r) { r.c[0] = 40000; },
         "40000 n'est pas une valeur correcte pour le champ 'C1'. Les valeurs doivent être comprises entre -32768 "
         "et 32767"},
        {"-40000 in the last column", [](ModelRecord& r) { r.t[5] = -40000; },
         "-40000 n'est pas une valeur correcte pour le champ 'T6'. Les valeurs doivent être comprises entre -32768 "
         "et 32767"},
        {"32768", [](ModelRecord& r) { r.c[11] = 32768; },
         "32768 n'est pas une valeur correcte pour le champ 'C12'. Les valeurs doivent être comprises entre -32768 "
         "et 32767"},
        {"1234567 printed as %g", [](ModelRecord& r) { r.c[3] = 1234567; },
         "1.23457e+06 n'est pas une valeur correcte pour le champ 'C4'. Les valeurs doivent être comprises entre "
         "-32768 et 32767"},
        {"limits", [](ModelRecord& r) { r.c[0] = 32767, r.c[1] = -32768; }, ""},
        {"16 characters", [](ModelRecord& r) { r.piece = "ABCDEFGHIJKLMNOP"; },
         "Le texte « ABCDEFGHIJKLMNOP » est trop long pour le champ 'PIECE' : 15 caractères au plus."},
        {"15 accented letters", [](ModelRecord& r) { r.piece = "ÉÈÊËÀÂÄÎÏÔÖÙÛÜÇ"; }, ""},
        {"16 accented letters", [](ModelRecord& r) { r.piece = "ÉÈÊËÀÂÄÎÏÔÖÙÛÜÇé"; },
         "Le texte « ÉÈÊËÀÂÄÎÏÔÖÙÛÜÇé » est trop long pour le champ 'PIECE' : 15 caractères au plus."},
        {"empty coin name", [](ModelRecord& r) { r.piece.clear(); }, ""},
        {"euro sign", [](ModelRecord& r) { r.piece = "2 €"; }, ""},
        {"character without code", [](ModelRecord& r) { r.piece = "A日本"; },
         "Le texte « A日本 » du champ 'PIECE' contient le caractère « 日 », que la table (page de codes 1252) ne "
         "peut pas enregistrer."},
        {"broken UTF-8", [](ModelRecord& r) { r.piece = "A\xff"; },
         "Le texte « A\xff » du champ 'PIECE' contient un caractère que la table ne peut pas enregistrer."},
        {"type too long", [](ModelRecord& r) { r.type = "C1200"; },
         "Le texte « C1200 » est trop long pour le champ 'TYPE' : 4 caractères au plus."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string before = make_sample_file(dir);
        std::string error, notice;
        auto t = open_model_table(dir.path(), &error, &notice);
        ASSERT_TRUE(t) << error;
        ModelRecord r = sample("C120", "NOUVELLE", 5);
        c.change(r);
        error.clear();
        const bool ok = t->append(r, &error);
        if (*c.message) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(error, c.message);
            EXPECT_EQ(read_bytes(dir.file("mall7.dbf")), before) << "file changed by a refused append";
            // An edit of an existing record is checked the same way.
            ASSERT_TRUE(t->first());
            EXPECT_FALSE(t->update_current(r, &error));
            EXPECT_EQ(read_bytes(dir.file("mall7.dbf")), before) << "file changed by a refused edit";
        } else {
            EXPECT_TRUE(ok) << error;
            auto back = open_model_table(dir.path(), &error, &notice);
            ASSERT_TRUE(back) << error;
            back->set_filter("type = 'C120'", &error);
            ASSERT_TRUE(back->last());
            EXPECT_EQ(back->current()->piece, r.piece);
            EXPECT_EQ(back->current()->c, r.c);
            EXPECT_EQ(back->current()->t, r.t);
        }
    }
}

TEST(DbfFile, RefusesTextThatIsNotANumberInANumberColumn)
{
    ScratchDir dir;
    const std::string before = make_sample_file(dir);
    std::string error;
    auto f = DbfFile::open(dir.file("mall7.dbf"), &error);
    ASSERT_TRUE(f) << error;
    for (const char* bad : {"abc", "12.5", "1e5", "--3", "0x10", "."}) {
        SCOPED_TRACE(bad);
        DbfFile::Values v(f->fields().size());
        v[0] = "C120";
        v[1] = bad;
        EXPECT_FALSE(f->append(v, &error));
        EXPECT_EQ(error, std::string("'") + bad + "' n'est pas un nombre entier correct pour le champ 'C1'.");
        EXPECT_FALSE(f->update(0, v, &error));
    }
    DbfFile::Values short_row(3);
    EXPECT_FALSE(f->append(short_row, &error));
    EXPECT_EQ(read_bytes(dir.file("mall7.dbf")), before);
}

struct Tail {
    const char* name;
    uint32_t count;     // count written into the header of the 12-record file
    std::string extra;  // bytes put after the records, instead of the end mark
    std::string notice; // fragment of the notice; empty when nothing is repaired
};

TEST(DbfFile, RepairsBytesAfterTheCountAfterACopyAndKeepsWholeRecords)
{
    ScratchDir dir;
    std::string error, notice;
    std::string good;
    {
        auto t = open_model_table(dir.path(), &error, &notice);
        ASSERT_TRUE(t) << error;
        for (int i = 0; i < 12; ++i)
            ASSERT_TRUE(t->append(sample("C120", "PIECE " + std::to_string(i), i), &error)) << error;
        good = read_bytes(dir.file("mall7.dbf"));
    }
    const int rec_len = 1 + 4 + 15 + 18 * 6;
    const std::string half_record = good.substr(good.size() - 1 - rec_len, 50);
    const std::vector<Tail> cases = {
        {"whole file", 12, "\x1A", ""},
        {"no end mark", 12, "", ""},
        {"torn tail shorter than a record", 12, half_record, "enregistrement incomplet"},
        {"torn tail with its end mark", 12, half_record + "\x1A", "enregistrement incomplet"},
        {"torn after one byte", 12, " ", "enregistrement incomplet"},
        {"torn after two bytes", 12, " C", "enregistrement incomplet"},
        {"one byte and an end mark", 12, "*\x1A", "enregistrement incomplet"},
        {"zeros after the records", 12, std::string(300, '\0'), "enregistrement incomplet"},
        {"count 2, ten records after it", 2, "\x1A", "annonçait 2 fiches, mais 10 fiches complètes la suivaient"},
        {"count 11, one record after it", 11, "", "mais 1 fiche complète la suivait"},
        {"count 2, ten records and a torn tail", 2, half_record,
         "la table compte maintenant 12 fiches. Celles qui sont en trop peuvent être supprimées dans la liste. "
         "L'ancien fichier est copié dans " +
             dir.file("mall7.dbf.bak") + ". Un reste incomplet de 50 octets a été retiré."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string damaged = good.substr(0, good.size() - 1) + c.extra;
        damaged[4] = char(c.count);
        const std::string path = dir.file("mall7.dbf");
        const std::string backup = path + ".bak";
        std::filesystem::remove(backup);
        write_bytes(path, damaged);

        // A read-only open changes nothing and shows only the counted records.
        auto viewer = DbfFile::open(path, &error, &notice, DbfFile::Access::read_only);
        ASSERT_TRUE(viewer) << error;
        EXPECT_EQ(viewer->record_count(), c.count);
        viewer.reset();
        EXPECT_EQ(read_bytes(path), damaged);

        notice.clear();
        auto f = DbfFile::open(path, &error, &notice);
        ASSERT_TRUE(f) << error;
        if (c.notice.empty()) {
            EXPECT_EQ(notice, "");
            EXPECT_FALSE(std::filesystem::exists(backup));
            EXPECT_EQ(read_bytes(path), damaged);
            continue;
        }
        EXPECT_NE(notice.find(c.notice), std::string::npos) << notice;
        EXPECT_NE(notice.find(backup), std::string::npos) << notice;
        EXPECT_EQ(f->record_count(), 12u);
        EXPECT_EQ(f->text(11, f->field_index("PIECE")), "PIECE 11");
        EXPECT_EQ(read_bytes(path), good);
        EXPECT_EQ(read_bytes(backup), damaged) << "the copy is the file as found";
    }
    // Repeated repairs keep the three newest copies, newest first, and drop
    // the pile an older station left (.bak4 to .bak28).
    for (int n = 4; n <= 28; ++n)
        write_bytes(dir.file("mall7.dbf.bak" + std::to_string(n)), "old");
    std::vector<std::string> repaired;
    for (uint32_t count = 3; count <= 6; ++count) {
        std::string damaged = good;
        damaged[4] = char(count);
        write_bytes(dir.file("mall7.dbf"), damaged);
        ASSERT_TRUE(DbfFile::open(dir.file("mall7.dbf"), &error, &notice)) << error;
        EXPECT_NE(notice.find(dir.file("mall7.dbf.bak") + "."), std::string::npos) << notice;
        repaired.push_back(damaged);
    }
    EXPECT_EQ(read_bytes(dir.file("mall7.dbf.bak")), repaired[3]);
    EXPECT_EQ(read_bytes(dir.file("mall7.dbf.bak2")), repaired[2]);
    EXPECT_EQ(read_bytes(dir.file("mall7.dbf.bak3")), repaired[1]);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"mall7.dbf", "mall7.dbf.bak", "mall7.dbf.bak2", "mall7.dbf.bak3"}));
}

// Whether /proc/locks shows process pid waiting for a lock on inode ino.
bool waits_for_lock(pid_t pid, ino_t ino)
{
    std::ifstream in("/proc/locks");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string id, arrow, kind, mode, access, who, where;
        words >> id >> arrow >> kind >> mode >> access >> who >> where;
        if (arrow == "->" && who == std::to_string(pid) && where.size() > 1 &&
            where.substr(where.rfind(':') + 1) == std::to_string(ino))
            return true;
    }
    return false;
}

// A second station's write while another process holds the table lock, the
// way a station takes it (fcntl, whole file): the write waits, /proc/locks
// shows it waiting, the file is untouched; it lands once the lock is let go,
// and a station that read the table before sees it after a refresh.
TEST(DbfFile, AWriteWaitsForTheTableLockAndLandsAfter)
{
    struct Case {
        const char* name;
        int visible_after;
        std::function<bool(ModelTable&, std::string*)> write;
    };
    const Case cases[] = {
        {"append", 3, [](ModelTable& t, std::string* e) { return t.append(sample("C220", "ATTENTE", 7), e); }},
        {"edit", 2,
         [](ModelTable& t, std::string* e) { return t.first() && t.update_current(sample("C220", "ATTENTE", 7), e); }},
        {"delete", 1, [](ModelTable& t, std::string* e) { return t.first() && t.delete_current(e); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScratchDir dir;
        const std::string before = make_sample_file(dir);
        const std::string path = dir.file("mall7.dbf");
        std::string error, notice;
        auto reader = open_model_table(dir.path(), &error, &notice);
        auto station = open_model_table(dir.path(), &error, &notice);
        ASSERT_TRUE(reader && station) << error;
        int locked[2], release[2], done[2];
        ASSERT_EQ(::pipe(locked), 0);
        ASSERT_EQ(::pipe(release), 0);
        ASSERT_EQ(::pipe(done), 0);
        const pid_t holder = ::fork();
        ASSERT_GE(holder, 0);
        if (holder == 0) { // takes the lock, says so, holds it until told
            const int fd = ::open(path.c_str(), O_RDWR);
            struct flock l {};
            l.l_type = F_WRLCK;
            l.l_whence = SEEK_SET;
            char go;
            if (fd < 0 || ::fcntl(fd, F_SETLKW, &l) != 0 || ::write(locked[1], "L", 1) != 1 ||
                ::read(release[0], &go, 1) != 1)
                ::_exit(2);
            ::_exit(0);
        }
        char byte = 0;
        ASSERT_EQ(::read(locked[0], &byte, 1), 1);
        const pid_t writer = ::fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            std::string e;
            const char result = c.write(*station, &e) ? 'Y' : 'N';
            ::_exit(::write(done[1], &result, 1) == 1 ? 0 : 2);
        }
        // Either the write shows up waiting on the lock, or it ends while the
        // lock is held; give up after ten seconds rather than hang.
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        bool waiting = false, ended = false;
        for (int tries = 0; tries < 1000 && !waiting && !ended; ++tries) {
            pollfd p{done[0], POLLIN, 0};
            ended = ::poll(&p, 1, 10) == 1;
            waiting = !ended && waits_for_lock(writer, st.st_ino);
        }
        EXPECT_TRUE(waiting) << (ended ? "the write ended while the table was locked" : "no sign of the write");
        EXPECT_EQ(read_bytes(path), before) << "the file changed while the table was locked";
        ASSERT_EQ(::write(release[1], "R", 1), 1);
        EXPECT_EQ(::read(done[0], &byte, 1), 1);
        EXPECT_EQ(byte, 'Y');
        for (pid_t pid : {holder, writer}) {
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        for (int fd : {locked[0], locked[1], release[0], release[1], done[0], done[1]})
            ::close(fd);
        EXPECT_NE(read_bytes(path), before);
        EXPECT_EQ(reader->visible_count(), 2);
        ASSERT_TRUE(reader->refresh(&error)) << error;
        EXPECT_EQ(reader->visible_count(), c.visible_after);
    }
}

TEST(DbfFile, KeepsHeaderBytes12To31AndStampsTheDateOnEveryWrite)
{
    ScratchDir dir;
    std::string bytes = make_sample_file(dir);
    for (int i = 12; i < 32; ++i)
        bytes[i] = char(0xA0 + i); // byte 29 too: an unknown driver reads as cp1252
    write_bytes(dir.file("mall7.dbf"), bytes);
    const std::string kept = bytes.substr(12, 20);
    std::string error, notice;
    auto t = open_model_table(dir.path(), &error, &notice);
    ASSERT_TRUE(t) << error;
    const std::string stamp = today_stamp();
    const auto step = [&](const char* name, const std::function<bool()>& write) {
        SCOPED_TRACE(name);
        std::string b = read_bytes(dir.file("mall7.dbf"));
        b.replace(1, 3, "\x50\x01\x01"); // last written on 1 January 1980
        write_bytes(dir.file("mall7.dbf"), b);
        ASSERT_TRUE(write()) << error;
        b = read_bytes(dir.file("mall7.dbf"));
        EXPECT_EQ(b.substr(12, 20), kept);
        EXPECT_EQ(b.substr(1, 3), stamp);
    };
    step("append", [&] { return t->append(sample("C220", "A", 1), &error); });
    ASSERT_TRUE(t->first());
    step("edit", [&] { return t->update_current(sample("C120", "B", 2), &error); });
    step("delete", [&] { return t->delete_current(&error); });
    step("pack", [&] { return t->file().pack(&error); });
    EXPECT_EQ(t->file().record_count(), 2u);
}

TEST(DbfFile, DecodesTheCodePageOfTheLanguageDriver)
{
    struct Case {
        uint8_t driver;
        uint8_t byte;
        const char* text;
    };
    const Case cases[] = {
        {0x00, 0x82, "é"}, {0x01, 0x82, "é"}, {0x01, 0x9B, "¢"}, {0x02, 0x9B, "ø"},
        {0x03, 0xE9, "é"}, {0x57, 0xE9, "é"}, {0x57, 0x80, "€"}, {0x57, 0x81, "\u0081"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.driver) * 1000 + c.byte);
        ScratchDir dir;
        std::string bytes = make_sample_file(dir);
        bytes[29] = char(c.driver);
        const size_t piece = 32 + 32 * 20 + 1 + 1 + 4 + 8 * 6;
        bytes[piece] = char(c.byte);
        write_bytes(dir.file("mall7.dbf"), bytes);
        std::string error;
        auto f = DbfFile::open(dir.file("mall7.dbf"), &error);
        ASSERT_TRUE(f) << error;
        EXPECT_EQ(f->text(0, f->field_index("piece")), std::string(c.text) + "IECE 1");
        // Writing it back gives the same byte.
        ASSERT_TRUE(f->update(0, f->values(0), &error)) << error;
        EXPECT_EQ(read_bytes(dir.file("mall7.dbf"))[piece], char(c.byte));
    }

    // Every byte of the three code pages both ways, against Python's codecs:
    // "dec DRIVER BYTE CODE" (-1 where Python has no character) and
    // "enc DRIVER CODE BYTE" for every character Python can encode.
    if (!std::filesystem::exists("/usr/bin/python3"))
        GTEST_SKIP() << "no /usr/bin/python3";
    const std::string out = testing::run(R"(/usr/bin/python3 -c "
for driver, name in ((1, 'cp437'), (2, 'cp850'), (0x57, 'cp1252')):
    for b in range(256):
        try:
            print('dec', driver, b, ord(bytes([b]).decode(name)))
        except UnicodeDecodeError:
            print('dec', driver, b, -1)
    for c in list(range(0x80, 0xD800)) + list(range(0xE000, 0x10000)):
        try:
            print('enc', driver, c, chr(c).encode(name)[0])
        except UnicodeEncodeError:
            pass
")");
    std::map<int, std::map<char32_t, int>> peer_encodes; // driver -> code -> byte
    std::map<int, std::vector<int>> peer_decodes;        // driver -> code of each byte
    std::istringstream lines(out);
    std::string kind;
    for (long driver, a, b; lines >> kind >> driver >> a >> b;)
        if (kind == "dec")
            peer_decodes[driver].push_back(int(b));
        else
            peer_encodes[driver][char32_t(a)] = int(b);
    ASSERT_EQ(peer_decodes.size(), 3u) << out.substr(0, 500);
    for (auto& [driver, codes] : peer_decodes) {
        SCOPED_TRACE(driver);
        const CodePage cp = code_page_of_driver(uint8_t(driver));
        ASSERT_EQ(codes.size(), 256u);
        std::map<std::string, int> decoded; // UTF-8 -> byte, as the station reads
        for (int byte = 0; byte < 256; ++byte) {
            const std::string text = to_utf8(std::string(1, char(byte)), cp);
            decoded[text] = byte;
            if (codes[byte] >= 0) {
                std::string expected;
                append_utf8(expected, char32_t(codes[byte]));
                EXPECT_EQ(text, expected) << "byte " << byte;
            } else {
                // A byte without a character in Python (the holes of cp1252)
                // reads as the C1 control of the same number.
                EXPECT_EQ(text, "\xC2" + std::string(1, char(byte))) << "byte " << byte;
                EXPECT_FALSE(peer_encodes[driver].count(char32_t(byte))) << "byte " << byte;
            }
            EXPECT_EQ(from_utf8(text, cp), std::string(1, char(byte))) << "byte " << byte << " written back";
        }
        EXPECT_EQ(decoded.size(), 256u) << "two bytes read as the same character";
        // Writing: exactly the characters Python encodes, plus the holes.
        int wrong = 0;
        for (char32_t c = 0x80; c < 0x10000 && wrong < 5; ++c) {
            std::string text;
            append_utf8(text, c);
            const auto bytes = from_utf8(text, cp);
            const auto peer = peer_encodes[driver].find(c);
            std::optional<std::string> expected;
            if (peer != peer_encodes[driver].end())
                expected = std::string(1, char(peer->second));
            else if (decoded.count(text))
                expected = std::string(1, char(decoded[text]));
            if (bytes != expected) {
                ++wrong;
                ADD_FAILURE() << "U+" << std::hex << uint32_t(c) << " written as "
                              << (bytes ? std::to_string(uint8_t((*bytes)[0])) : "refused");
            }
        }
    }
}

TEST(OpenTable, FindsAnUpperCaseFileAndRefusesMissingColumns)
{
    ScratchDir dir;
    const std::string bytes = make_sample_file(dir);
    std::filesystem::rename(dir.file("mall7.dbf"), dir.file("MALL7.DBF"));
    std::string error, notice;
    auto t = open_model_table(dir.path(), &error, &notice);
    ASSERT_TRUE(t) << error;
    EXPECT_EQ(t->file().path(), dir.file("MALL7.DBF"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("mall7.dbf")));
    // The models file is not a frequency table.
    std::filesystem::rename(dir.file("MALL7.DBF"), dir.file("calib.dbf"));
    EXPECT_FALSE(open_frequency_table(dir.path(), &error, &notice));
    EXPECT_NE(error.find("colonne APPAREIL"), std::string::npos) << error;
}

// Runs body as an ordinary user (the tests may run as root, whom file
// permissions do not stop); returns what it printed.
std::string as_nobody(const std::function<std::string()>& body)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return "pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        const std::string out = body();
        if (::write(fds[1], out.data(), out.size()) < 0)
            ::_exit(3);
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, size_t(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return out;
}

TEST(OpenTable, ReadOnlyDataFolder)
{
    ScratchDir dir;
    make_sample_file(dir); // mall7.dbf exists, calib.dbf does not
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0555));
    std::filesystem::permissions(dir.file("mall7.dbf"), std::filesystem::perms(0444));
    const std::string out = as_nobody([&] {
        std::string error, notice, out;
        auto models = open_model_table(dir.path(), &error, &notice);
        out += models ? "models:" + notice + "\n" : "no models:" + error + "\n";
        if (models && !models->append(sample("C120", "X", 1), &error))
            out += "append:" + error + "\n";
        error.clear();
        auto freq = open_frequency_table(dir.path(), &error, &notice);
        out += freq ? "freq\n" : "no freq:" + error + "\n";
        return out;
    });
    EXPECT_NE(out.find("models:La table " + dir.file("mall7.dbf") + " est en lecture seule"), std::string::npos)
        << out;
    EXPECT_NE(out.find("append:La table " + dir.file("mall7.dbf") + " est en lecture seule"), std::string::npos)
        << out;
    EXPECT_NE(out.find("no freq:Le dossier de données " + dir.path() + " est en lecture seule : la table calib.dbf"),
              std::string::npos)
        << out;
}

TEST(FrequencyTable, StoresAndReadsBackAPcSet)
{
    ScratchDir dir;
    std::string error, notice;
    auto t = open_frequency_table(dir.path(), &error, &notice);
    ASSERT_TRUE(t) << error;
    FrequencyRecord r{"ATELIER", 138, 90, 138, 2200, 138, 68, 68, std::nullopt, std::nullopt};
    ASSERT_TRUE(t->append(r, &error)) << error;
    ASSERT_TRUE(t->append({"BUREAU", 1, 2, 3, 4, 5, 6, 7, 8, 9}, &error)) << error;
    FrequencyRecord bad = r;
    bad.g13 = 40000;
    EXPECT_FALSE(t->append(bad, &error));
    EXPECT_EQ(error, "40000 n'est pas une valeur correcte pour le champ 'G13'. Les valeurs doivent être comprises "
                     "entre -32768 et 32767");
    // A set without a PC name could never be told from another.
    for (const char* blank : {"", "   "}) {
        bad = r;
        bad.appareil = blank;
        error.clear();
        EXPECT_FALSE(t->append(bad, &error)) << '"' << blank << '"';
        EXPECT_EQ(error, "Le nom du PC est vide : rien n'est enregistré.");
        ASSERT_TRUE(t->go_to(0));
        EXPECT_FALSE(t->update_current(bad, &error));
    }
    auto back = open_frequency_table(dir.path(), &error, &notice);
    ASSERT_TRUE(back);
    const auto all = back->records();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].appareil, "ATELIER");
    EXPECT_EQ(all[0].g13, 2200);
    EXPECT_EQ(all[0].alb, std::nullopt);
    EXPECT_EQ(all[1].op, 9);
    ASSERT_TRUE(back->go_to(1));
    ASSERT_TRUE(back->delete_current(&error));
    EXPECT_EQ(back->visible_count(), 1);
    EXPECT_EQ(back->current()->appareil, "ATELIER");
}

} // namespace
} // namespace zuna::store
