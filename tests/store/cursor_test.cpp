// The cursor: index order, the station's filter texts, navigation limits,
// deleted records, where the cursor stands after a write.
#include <gtest/gtest.h>

#include "store/model_table.h"
#include "store_test_util.h"

namespace zuna::store {
namespace {

using testing::ScratchDir;

class Cursor : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error, notice;
        table = open_model_table(dir.path(), &error, &notice);
        ASSERT_TRUE(table) << error;
        // Record numbers 0..5.
        for (auto [type, piece] : std::vector<std::pair<const char*, const char*>>{
                 {"RM3", "a"}, {"C120", "b"}, {"rm4", "c"}, {"C120", "d"}, {"C22B", "e"}, {"C120", "f"}})
            ASSERT_TRUE(table->append(record(type, piece), &error)) << error;
    }
    static ModelRecord record(const std::string& type, const std::string& piece)
    {
        ModelRecord r;
        r.type = type;
        r.piece = piece;
        return r;
    }
    std::string walk()
    {
        std::string s;
        if (!table->first())
            return s;
        do
            s += table->current()->piece;
        while (table->next());
        return s;
    }
    ScratchDir dir;
    std::unique_ptr<ModelTable> table;
};

TEST_F(Cursor, FiltersOnTheStationTextsInIndexOrder)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "bdfeac"}, // TYPE in byte order, then record number
        {"type = 'C120'", "bdf"},
        {"TYPE='C120'", "bdf"},
        {"  Type  =  'C120'  ", "bdf"},
        {"type = 'C120   '", "bdf"},
        {"type = 'C12'", ""},
        {"type = 'rm4'", "c"},
        {"type = 'RM4'", ""},
        {"type = \"RM3\"", "a"},
        {"type = 'C22B'", "e"},
        {"piece = 'e'", "e"},
    };
    for (const auto& [filter, expected] : cases) {
        SCOPED_TRACE(filter);
        std::string error;
        ASSERT_TRUE(table->set_filter(filter, &error)) << error;
        EXPECT_EQ(table->visible_count(), int(expected.size()));
        EXPECT_EQ(walk(), expected);
        EXPECT_EQ(table->has_current(), !expected.empty());
    }
}

TEST_F(Cursor, RefusesFiltersItCannotReadAndKeepsTheOldOne)
{
    std::string error;
    ASSERT_TRUE(table->set_filter("type = 'C120'", &error));
    for (const char* bad : {"typ = 'C120'", "type = 'C120", "type = C120", "= 'x'", "type ~ 'x'",
                            "type = 'a' and piece = 'b'", "type"}) {
        SCOPED_TRACE(bad);
        error.clear();
        EXPECT_FALSE(table->set_filter(bad, &error));
        EXPECT_NE(error.find(bad), std::string::npos) << error;
        EXPECT_EQ(walk(), "bdf");
    }
}

TEST_F(Cursor, NavigationStopsAtBothEnds)
{
    std::string error;
    ASSERT_TRUE(table->set_filter("type = 'C120'", &error));
    EXPECT_TRUE(table->last());
    EXPECT_FALSE(table->next());
    EXPECT_EQ(table->current()->piece, "f");
    EXPECT_TRUE(table->first());
    EXPECT_FALSE(table->prior());
    EXPECT_EQ(table->current()->piece, "b");
    EXPECT_EQ(table->position(), 0);
    ASSERT_TRUE(table->set_filter("type = 'NRI2'", &error));
    EXPECT_FALSE(table->first());
    EXPECT_FALSE(table->next());
    EXPECT_FALSE(table->last());
    EXPECT_FALSE(table->current());
    EXPECT_FALSE(table->delete_current(&error));
}

TEST_F(Cursor, DeleteMovesToTheFollowingRecordAndHidesTheDeletedOneForGood)
{
    std::string error;
    ASSERT_TRUE(table->set_filter("type = 'C120'", &error));
    ASSERT_TRUE(table->first());
    ASSERT_TRUE(table->next());
    ASSERT_TRUE(table->delete_current(&error)) << error; // d
    EXPECT_EQ(table->current()->piece, "f");
    ASSERT_TRUE(table->delete_current(&error)) << error; // f, the last: back to b
    EXPECT_EQ(table->current()->piece, "b");
    ASSERT_TRUE(table->delete_current(&error)) << error;
    EXPECT_FALSE(table->has_current());
    EXPECT_EQ(table->visible_count(), 0);

    std::string notice;
    auto again = open_model_table(dir.path(), &error, &notice);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->file().record_count(), 6u) << "a delete only marks the record";
    ASSERT_TRUE(again->set_filter("", &error));
    table = std::move(again);
    EXPECT_EQ(walk(), "eac");
}

TEST_F(Cursor, AnAppendedRecordBecomesCurrentWhenTheFilterShowsIt)
{
    std::string error;
    ASSERT_TRUE(table->set_filter("type = 'C120'", &error));
    ASSERT_TRUE(table->last());
    ASSERT_TRUE(table->append(record("RM3", "g"), &error));
    EXPECT_EQ(table->current()->piece, "f") << "a record the filter hides leaves the cursor where it was";
    EXPECT_EQ(table->visible_count(), 3);
    ASSERT_TRUE(table->append(record("C120", "h"), &error));
    EXPECT_EQ(table->current()->piece, "h");
    EXPECT_EQ(walk(), "bdfh");
}

TEST_F(Cursor, AnEditMayMoveTheRecordOutOfTheFilter)
{
    std::string error;
    ASSERT_TRUE(table->set_filter("type = 'C120'", &error));
    ASSERT_TRUE(table->first());
    ModelRecord r = *table->current();
    r.piece = "B2";
    ASSERT_TRUE(table->update_current(r, &error)) << error;
    EXPECT_EQ(table->current()->piece, "B2");
    r.type = "RM3";
    ASSERT_TRUE(table->update_current(r, &error)) << error;
    EXPECT_EQ(walk(), "df");
    ASSERT_TRUE(table->set_filter("type = 'RM3'", &error));
    EXPECT_EQ(walk(), "aB2");
}

} // namespace
} // namespace zuna::store
