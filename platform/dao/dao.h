#pragma once
// The knowledge files' only door: DBEngine / Database / Recordset, named as DAO
// names them, over our own Jet 4 engine (platform/jet).  Portable: no <windows.h>.
//
// Errors are dao::Error (a vb::Error) with DAO's numbers and texts where DAO has
// one, e.g. 3031 "Not a valid password.", 3045/3356 file in use, 3078 missing
// table, 3075/3000-range syntax errors, 3021 "No current record.".
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/vb/VbError.h"

namespace jet {
class File;
}

namespace dao {

class Error : public vb::Error {
public:
    Error(long number, std::wstring description)
        : vb::Error(number, L"DAO.Database", std::move(description)) {}
};

// A field value: Null or text.  The knowledge files hold text fields only;
// other column types read as their text form where the engine can give one.
using Value = std::optional<std::wstring>;

class Recordset;
class Database;
using RecordsetPtr = std::shared_ptr<Recordset>;
using DatabasePtr = std::shared_ptr<Database>;

class Recordset {
public:
    virtual ~Recordset() = default;
    virtual long RecordCount() const = 0;
    virtual bool EOF_() const = 0;   // EOF is a C macro; DAO's EOF
    virtual bool BOF() const = 0;
    virtual void MoveFirst() = 0;
    virtual void MoveNext() = 0;
    // Current record's field by name (case-insensitive); throws 3265 for an unknown name,
    // 3021 without a current record.
    virtual Value Fields(const std::wstring& name) const = 0;
    // Sets a field of the record being added or edited (AddNew/Edit ... Update).
    virtual void SetField(const std::wstring& name, const Value& value) = 0;
    virtual void AddNew() = 0;
    virtual void Edit() = 0;
    virtual void Update() = 0;
    virtual void Delete() = 0;
    virtual void Close() = 0;
    // Leaves AddNew/Edit without saving.
    virtual void CancelUpdate() = 0;
};

class Database {
public:
    virtual ~Database() = default;
    // SELECT * FROM t [WHERE f = 'x' [AND g = 'y']]; anything else is error 3000-range.
    virtual RecordsetPtr OpenRecordset(const std::wstring& sql) = 0;
    virtual std::vector<std::wstring> TableNames() const = 0;
    virtual void Close() = 0;
    virtual const std::wstring& Name() const = 0;
};

// A text as an SQL string literal: in single quotes, each quote inside doubled.
std::wstring SqlQuote(const std::wstring& text);

struct DBEngine {
    // name: file path; exclusive: a second open of the file (any process) fails while
    // this one is open; connect: ";pwd=..." or empty.
    static DatabasePtr OpenDatabase(const std::wstring& name, bool exclusive = false,
                                    bool readOnly = false, const std::wstring& connect = L"");
    // The same over a file already opened (and locked) by the caller, e.g. one
    // that fails its writes on command in a test.
    static DatabasePtr OpenDatabase(std::unique_ptr<jet::File> file, bool readOnly = false,
                                    const std::wstring& connect = L"");
};

}  // namespace dao
