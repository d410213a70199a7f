#pragma once
// A small engine for Jet 4 (Access 2000 format) database files: opens files
// made by Access (password check, catalog, table definitions over several
// pages, overflow rows, compressed text, long values, deleted rows and
// columns), and writes the simple tables the knowledge files need (text
// columns, no indexes): create, append, delete.
//
// Portable: no <windows.h>.  Text is std::wstring holding UTF-16 code units.
// Every failure is a jet::Error carrying DAO's error number and text.
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/jet/File.h"

namespace jet {

class Error : public std::runtime_error {
public:
    Error(long number, std::wstring description)
        : std::runtime_error("Jet error " + std::to_string(number)),
          number_(number), description_(std::move(description)) {}
    long Number() const { return number_; }
    const std::wstring& Description() const { return description_; }

private:
    long number_;
    std::wstring description_;
};

// DAO's numbers for the errors the engine raises.
namespace err {
constexpr long NotUpdatable = 3027;      // "Cannot update.  Database or object is read-only."
constexpr long NoCurrentRecord = 3021;
constexpr long FileNotFound = 3024;      // "Could not find file '...'."
constexpr long DiskFull = 3026;          // "Not enough space on disk."
constexpr long BadPassword = 3031;       // "Not a valid password."
constexpr long DiskError = 3043;         // "Disk or network error."
constexpr long FileInUse = 3045;         // "Could not use '...'; file already in use."
constexpr long CorruptFile = 3049;       // "Cannot open database ... may be corrupt."
constexpr long NoPermission = 3051;
constexpr long TooFewParameters = 3061;  // unknown field name in a query
constexpr long NoSuchTable = 3078;
constexpr long FieldTooSmall = 3163;     // text longer than the column
constexpr long RecordDeleted = 3167;
constexpr long DatabaseExists = 3204;
constexpr long ItemNotFound = 3265;
constexpr long NotDatabase = 3343;       // "Unrecognized database format '...'."
constexpr long ConversionError = 3421;   // value does not fit the column's type
constexpr long ObjectClosed = 3420;      // "Object invalid or no longer set."
}  // namespace err

// A field as read: Null or a text.  Text and Memo columns give their text;
// other types give a text form (numbers in decimal, dates as
// "yyyy-mm-dd hh:mm:ss", Boolean "True"/"False", binary data in hex).
using Value = std::optional<std::wstring>;

namespace type {
constexpr std::uint8_t Boolean = 0x01, Byte = 0x02, Integer = 0x03, Long = 0x04,
                       Currency = 0x05, Single = 0x06, Double = 0x07, DateTime = 0x08,
                       Binary = 0x09, Text = 0x0A, OLE = 0x0B, Memo = 0x0C, GUID = 0x0F,
                       Numeric = 0x10;
}

struct Column {
    std::wstring name;
    std::uint8_t type = 0;
    std::uint16_t number = 0;       // null-mask bit; gaps mark deleted columns
    std::uint16_t varIndex = 0;     // position among the variable-length columns
    std::uint16_t fixedOffset = 0;  // position in the fixed-length area
    std::uint16_t length = 0;       // bytes (text: 2 per character)
    std::uint8_t flags = 0;
    std::uint8_t extraFlags = 0;
    std::uint8_t precision = 0, scale = 0;  // Numeric columns: digits, and digits after the point
    bool IsFixed() const { return (flags & 0x01) != 0; }
    bool IsText() const { return type == type::Text || type == type::Memo; }
};

// Where a row lives: page and slot.
struct RowPointer {
    std::uint32_t page = 0;
    std::uint16_t slot = 0;
    bool operator==(const RowPointer&) const = default;
};

// Jet's text comparison: case-insensitive (the "General" sort order folds
// case, not accents).  Equal texts give equal keys.
std::wstring FoldCase(const std::wstring& text);

class Database;

class Table {
public:
    using RowId = std::uint32_t;  // index into the table's row cache; stable while open

    const std::wstring& Name() const { return name_; }
    const std::vector<Column>& Columns() const { return columns_; }
    // Column position in Columns() by name, case-insensitive; -1 when absent.
    int ColumnIndex(const std::wstring& name) const;
    bool HasIndexes() const { return realIndexCount_ > 0; }

    // Reads.  After a failed write the table reads its rows again; when that
    // read fails, each of these raises its error: the rows are no longer known.
    // Live rows in storage order.
    std::vector<RowId> AllRows();
    // Live rows whose column `column` equals `text` under FoldCase.  Indexed:
    // the first call per column builds a hash index, kept in step with writes.
    std::vector<RowId> FindEqual(int column, const std::wstring& text);
    bool IsLive(RowId id);
    // Values of a row, one per column of Columns(); throws 3167 for a deleted row.
    const std::vector<Value>& Row(RowId id);
    std::size_t LiveRowCount();
    // How often the table read its rows again after a failed write: record
    // sets that see it change look for rows that came or went.
    std::uint64_t Resyncs();

    // Throws 3027 when the table cannot be written (read-only database, indexes).
    void CheckWritable() const;

    // Writes.  Each either completes or leaves the file as it was, as long as
    // the rollback's own writes succeed.  When they fail too, the file still
    // opens and reads, and holds every row it held, plus at most the write's
    // new row; pages it added stay, and the table reads its rows again, so
    // this connection sees what the file holds.  Refused with 3027 on a
    // read-only database or a table with indexes.
    // Not covered (no journal): a page write torn part-way, then a refused rollback, leaves that page torn.
    RowId Append(const std::vector<Value>& values);
    void Delete(RowId id);
    // The new row and the old one's deletion in one commit: a failure leaves
    // the old row, success exactly the new one.  When the rollback's writes
    // fail too and the new row did not fit the old one's page, the new row
    // may stand beside the old one.
    RowId Replace(RowId id, const std::vector<Value>& values);

private:
    friend class Database;
    struct CachedRow {
        RowPointer where;
        std::vector<Value> values;
        bool live = true;
    };

    // Where a staged row goes.
    struct PlacedRow {
        std::uint32_t page = 0;
        std::uint16_t slot = 0;
        bool newPage = false;
    };
    struct Staging;  // the writes' page changes, staged in a batch (Table.cpp)

    Table(Database& db, std::wstring name, std::uint32_t tdefPage);
    // After a commit: the row cache and indexes learn what the file now holds.
    RowId CacheAppended(const PlacedRow& placed, const std::vector<std::uint8_t>& bytes);
    void CacheDeleted(RowId id);
    void Load();
    void EnsureRows();
    void ReadRows(std::vector<CachedRow>& rows, std::vector<std::uint32_t>& owned);
    void Resync();
    std::vector<std::uint8_t> EncodeRow(const std::vector<Value>& values) const;
    std::vector<Value> DecodeRow(const std::uint8_t* row, std::size_t n);
    Value DecodeLongValue(const std::uint8_t* p, std::size_t n, bool text);
    std::vector<std::uint32_t> MapPages(std::uint32_t mapPointer);
    void IndexAdd(RowId id);
    void IndexRemove(RowId id);

    Database& db_;
    std::wstring name_;
    std::uint32_t tdefPage_;
    std::vector<Column> columns_;
    std::uint16_t maxColumns_ = 0;
    std::uint32_t realIndexCount_ = 0;
    bool consistent_ = true;
    std::uint64_t resyncs_ = 0;
    std::exception_ptr lost_;  // the error of reading the rows again, when that failed
    bool hasVariableColumns_ = false;
    std::uint32_t usedMap_ = 0, freeMap_ = 0;  // page << 8 | row
    bool rowsLoaded_ = false;
    std::uint64_t longValueBytes_ = 0;
    std::vector<CachedRow> rows_;
    std::vector<std::uint32_t> ownedPages_;
    std::size_t liveCount_ = 0;
    // The rows under one key: almost always one, so it is held inline.
    struct Bucket {
        RowId first = 0;
        bool used = false;
        std::vector<RowId> more;
        void Add(RowId id) {
            if (used) more.push_back(id);
            else first = id, used = true;
        }
        // Removes the row; true when the bucket is then empty.
        bool Remove(RowId id) {
            if (used && first == id) {
                if (more.empty()) return true;
                first = more.front();
                more.erase(more.begin());
            } else {
                std::erase(more, id);
            }
            return false;
        }
    };
    // column -> folded text -> rows
    std::map<int, std::unordered_map<std::wstring, Bucket>> indexes_;
};

struct OpenOptions {
    bool exclusive = false;
    bool readOnly = false;
    // The password from the connect string; nullopt when the string gave none.
    std::optional<std::wstring> password;
};

// Text column of a table that the engine creates.
struct TextColumnSpec {
    std::wstring name;
    std::uint16_t maxChars = 255;
};

class Pager;

class Database {
public:
    // Opens a file.  Errors: 3024, 3045, 3051 (file), 3343 (not a Jet 4 file),
    // 3031 (wrong or missing password), 3049 (corrupt).
    static std::unique_ptr<Database> Open(const std::wstring& path, const OpenOptions& options);
    static std::unique_ptr<Database> Open(std::unique_ptr<File> file, const OpenOptions& options);
    // Creates a new, empty database (fails with 3204 when the file exists).
    static std::unique_ptr<Database> Create(const std::wstring& path, const std::wstring& password = L"");
    static std::unique_ptr<Database> Create(std::unique_ptr<File> file, const std::wstring& password = L"");

    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const std::wstring& Name() const;
    bool ReadOnly() const { return readOnly_; }
    // Names of the tables, user tables only unless includeSystem.
    std::vector<std::wstring> TableNames(bool includeSystem = false);
    // Case-insensitive; throws 3078 when the table does not exist.
    Table& OpenTable(const std::wstring& name);
    // Adds a table of text columns without indexes.
    Table& CreateTable(const std::wstring& name, const std::vector<TextColumnSpec>& columns);
    // The password stored in the header (empty when none).
    const std::wstring& StoredPassword() const { return password_; }
    void Flush();

private:
    friend class Table;
    struct CatalogEntry {
        std::wstring name;
        std::uint32_t tdefPage = 0;
        std::int32_t type = 0;
        std::int32_t flags = 0;
    };
    Database();
    void ReadHeader(const OpenOptions& options);
    void LoadCatalog();
    Table& TableAt(const std::wstring& name, std::uint32_t tdefPage);
    void CheckWritable() const;

    std::unique_ptr<Pager> pager_;
    bool readOnly_ = false;
    std::wstring password_;
    double createDate_ = 0;
    std::vector<CatalogEntry> catalog_;
    bool catalogLoaded_ = false;
    std::map<std::uint32_t, std::unique_ptr<Table>> tables_;  // by definition page
};

}  // namespace jet
