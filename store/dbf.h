#pragma once
// A small dBase III table file (version byte 0x03): header and records held
// in memory, every change written through to the file at once and synced.
// Text columns are converted between the file's code page and UTF-8.
// No Qt here.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/codepage.h"

namespace zuna::store {

struct DbfField {
    std::string name; // as stored (upper case in the station's tables)
    char type = 'C';  // 'C' text, 'N' number, others kept as text
    int length = 0;
    int decimals = 0;
    int offset = 0; // in the record, after the deletion flag
};

// A column of a table the station creates or expects.
struct DbfColumn {
    const char* name;
    char type;
    int length;
    int decimals;
};

// Where a test can stop an append as a crash would.
enum class DbfFault { none, after_record };

class DbfFile {
public:
    // One text per field, in field order: UTF-8 for text columns, decimal
    // text for numbers; empty means blank.
    using Values = std::vector<std::string>;

    ~DbfFile();
    DbfFile(const DbfFile&) = delete;
    DbfFile& operator=(const DbfFile&) = delete;

    enum class Access { read_write, read_only };

    // Opens an existing table for reading and writing (read-only when asked,
    // or when the file or its folder refuses writes). Refuses anything that
    // is not a sound dBase III table with a French message naming the file.
    // Bytes after the counted records are repaired after a copy of the file
    // to <path>.bak (earlier copies move to .bak2 and .bak3; older ones
    // go): whole records that follow (a count left behind by a
    // crashed program) are kept and counted, a shorter torn tail is cut.
    // *notice tells about a repair or a read-only open.
    static std::unique_ptr<DbfFile> open(const std::string& path, std::string* error, std::string* notice = nullptr,
                                         Access access = Access::read_write);
    // Creates an empty table (language driver 0x57, cp1252) through a
    // temporary file and a rename.
    static std::unique_ptr<DbfFile> create(const std::string& path, const std::vector<DbfColumn>& columns,
                                           std::string* error);

    const std::string& path() const { return path_; }
    bool read_only() const { return read_only_; }
    const std::vector<DbfField>& fields() const { return fields_; }
    int field_index(std::string_view name) const; // case-insensitive; -1 when absent
    CodePage code_page() const { return code_page_; }
    int header_length() const { return header_len_; }
    int record_length() const { return record_len_; }

    // Checks that the table has these columns with these kinds (and text
    // lengths); false with a French message otherwise.
    bool has_columns(const std::vector<DbfColumn>& columns, std::string* error) const;

    uint32_t record_count() const { return count_; }
    bool deleted(uint32_t rec) const;
    std::string_view raw(uint32_t rec, int field) const;
    std::string text(uint32_t rec, int field) const; // UTF-8, trailing blanks removed
    std::optional<int> integer(uint32_t rec, int field) const; // blank or unreadable: nullopt
    Values values(uint32_t rec) const;

    // Builds the record bytes after checking every value; nothing is
    // written. False with the French message of the first bad value.
    bool encode(const Values& values, std::string& record, std::string* error) const;

    // Writes are refused as a whole when a value is bad; the file is then
    // left exactly as it was. Each write holds an fcntl lock on the file and
    // first re-reads it, so that several stations can share one folder:
    // records another station appended are taken in, never overwritten.
    bool append(const Values& values, std::string* error);
    bool update(uint32_t rec, const Values& values, std::string* error);
    bool remove(uint32_t rec, std::string* error); // marks the record deleted ('*')
    // Rewrites the table without its deleted records (temporary file + rename).
    bool pack(std::string* error);
    // Re-reads the file as other stations left it (appends, edits, deletes).
    bool refresh(std::string* error);

    void set_fault(DbfFault f) { fault_ = f; }

private:
    DbfFile() = default;
    bool refuse_read_only(std::string* error) const;
    bool lock(bool exclusive, bool* replaced, std::string* error);
    void unlock();
    bool lock_and_load(bool* replaced, std::string* error);
    bool load(std::string* error, std::string* notice);
    bool moved_since(uint32_t rec, uint32_t count_was, int record_len_was, bool replaced, std::string* error) const;
    bool write_at(uint64_t offset, std::string_view bytes, std::string* error);
    bool sync(std::string* error);
    void stamp_header(uint32_t count);

    std::string path_;
    int fd_ = -1;
    bool read_only_ = false;
    std::string header_;  // header_len_ bytes as found
    std::string records_; // count_ * record_len_ bytes
    std::vector<DbfField> fields_;
    int header_len_ = 0;
    int record_len_ = 0;
    uint32_t count_ = 0;
    CodePage code_page_ = CodePage::cp1252;
    DbfFault fault_ = DbfFault::none;
};

// Text of a number for DbfFile::Values (empty when there is none).
std::string number_text(std::optional<int> v);

// Finds name in folder dir, also with another letter case (MALL7.DBF from a
// DOS copy). Returns the full path of the file found, or dir/name.
std::string find_table_file(const std::string& dir, const std::string& name);

// Opens dir/name (any letter case) and checks its columns, or creates it
// with them when it is missing. nullptr with a French message when neither
// works; *notice as for DbfFile::open.
std::unique_ptr<DbfFile> open_table(const std::string& dir, const std::string& name,
                                    const std::vector<DbfColumn>& columns, std::string* error, std::string* notice);

} // namespace zuna::store
