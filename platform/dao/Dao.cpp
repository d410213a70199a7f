// DBEngine / Database / Recordset over the Jet engine, with the small SQL the
// program sends: SELECT * FROM t [WHERE f = 'x' [AND g = 'y']].
#include <algorithm>
#include <set>

#include "platform/dao/dao.h"
#include "platform/jet/Jet.h"

namespace dao {

namespace {

constexpr long kSyntaxStatement = 3129, kSyntaxFrom = 3131, kSyntaxSelect = 3141, kSyntaxExpression = 3075,
               kTypeMismatch = 3464, kNoEditMode = 3020;

Error Closed() { return Error(jet::err::ObjectClosed, L"Object invalid or no longer set."); }

// Runs an engine call, giving its failures DAO's shape.
template <class F>
auto Guard(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const jet::Error& e) {
        throw Error(e.Number(), e.Description());
    } catch (const std::bad_alloc&) {
        throw Error(3035, L"System resource exceeded.");
    }
}

// ---- the query text ------------------------------------------------------------

struct Condition {
    std::wstring field;
    std::wstring text;
};

struct Query {
    std::wstring table;
    std::vector<Condition> where;
};

class Parser {
public:
    explicit Parser(const std::wstring& sql) : s_(sql) {}

    Query Parse() {
        Query q;
        SkipSpace();
        std::wstring verb = Word();
        if (Fold(verb) != L"select")
            throw Error(kSyntaxStatement,
                        verb.empty() || !IsVerb(verb)
                            ? L"Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'."
                            : L"Invalid SQL statement; only SELECT * FROM table [WHERE field = 'text' [AND field = "
                              L"'text']] is understood.");
        SkipSpace();
        if (!Take(L'*')) throw SelectError();
        SkipSpace();
        if (Fold(Word()) != L"from") throw SelectError();
        SkipSpace();
        q.table = Name();
        if (q.table.empty()) throw Error(kSyntaxFrom, L"Syntax error in FROM clause.");
        SkipSpace();
        std::size_t whereAt = i_;
        std::wstring next = Word();
        if (Fold(next) == L"where") {
            std::size_t exprAt = i_;
            q.where.push_back(ConditionAt(exprAt));
            SkipSpace();
            std::size_t andAt = i_;
            std::wstring more = Word();
            if (Fold(more) == L"and") {
                q.where.push_back(ConditionAt(exprAt));
                SkipSpace();
            } else {
                i_ = andAt;
            }
            End(exprAt);
        } else {
            i_ = whereAt;
            if (Take(L';')) SkipSpace();
            if (!AtEnd()) throw Error(kSyntaxFrom, L"Syntax error in FROM clause.");
        }
        return q;
    }

private:
    static std::wstring Fold(const std::wstring& w) { return jet::FoldCase(w); }
    static bool IsVerb(const std::wstring& w) {
        std::wstring f = Fold(w);
        return f == L"insert" || f == L"update" || f == L"delete" || f == L"procedure" || f == L"transform" ||
               f == L"parameters" || f == L"create" || f == L"drop" || f == L"alter";
    }
    static bool IsWordChar(wchar_t c) {
        return !(c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'=' || c == L';' || c == L'\'' ||
                 c == L'"' || c == L'[' || c == L']' || c == L'(' || c == L')' || c == L'*' || c == L',' ||
                 c == L'<' || c == L'>' || c == L'.' || c == L'!' || c == L'&' || c == L'+' || c == L'-' ||
                 c == L'/' || c == L'#' || c == 0);
    }
    static Error SelectError() {
        return Error(kSyntaxSelect,
                     L"The SELECT statement includes a reserved word or an argument name that is misspelled or "
                     L"missing, or the punctuation is incorrect.");
    }
    Error ExpressionError(std::size_t from, bool inString) const {
        std::wstring expr = s_.substr(std::min(s_.size(), s_.find_first_not_of(L" \t\r\n", from)));
        while (!expr.empty() && (expr.back() == L' ' || expr.back() == L';')) expr.pop_back();
        return Error(kSyntaxExpression, (inString ? L"Syntax error in string in query expression '"
                                                  : L"Syntax error (missing operator) in query expression '") +
                                            expr + L"'.");
    }
    bool AtEnd() const { return i_ >= s_.size(); }
    void SkipSpace() {
        while (!AtEnd() && (s_[i_] == L' ' || s_[i_] == L'\t' || s_[i_] == L'\r' || s_[i_] == L'\n')) ++i_;
    }
    bool Take(wchar_t c) {
        if (AtEnd() || s_[i_] != c) return false;
        ++i_;
        return true;
    }
    std::wstring Word() {
        std::size_t start = i_;
        while (!AtEnd() && IsWordChar(s_[i_])) ++i_;
        return s_.substr(start, i_ - start);
    }
    // A plain name, or any text in brackets.
    std::wstring Name() {
        if (Take(L'[')) {
            std::size_t close = s_.find(L']', i_);
            if (close == std::wstring::npos || close == i_) return L"";
            std::wstring n = s_.substr(i_, close - i_);
            i_ = close + 1;
            return n;
        }
        return Word();
    }
    Condition ConditionAt(std::size_t exprAt) {
        Condition c;
        SkipSpace();
        c.field = Name();
        SkipSpace();
        if (c.field.empty() || !Take(L'=')) throw ExpressionError(exprAt, false);
        SkipSpace();
        if (!Take(L'\'')) throw ExpressionError(exprAt, false);
        while (true) {
            if (AtEnd()) throw ExpressionError(exprAt, true);
            wchar_t ch = s_[i_++];
            if (ch == L'\'') {
                if (Take(L'\'')) {
                    c.text.push_back(L'\'');
                    continue;
                }
                break;
            }
            c.text.push_back(ch);
        }
        return c;
    }
    // Only white space and one closing ";" may follow.
    void End(std::size_t exprAt) {
        SkipSpace();
        if (Take(L';')) SkipSpace();
        if (!AtEnd()) throw ExpressionError(exprAt, false);
    }

    const std::wstring& s_;
    std::size_t i_ = 0;
};

// ---- connection ----------------------------------------------------------------

// Shared by a Database and its record sets: closing the database ends them too.
struct Connection {
    std::unique_ptr<jet::Database> engine;
    std::wstring name;
    jet::Database& Engine() {
        if (!engine) throw Closed();
        return *engine;
    }
};

// The rows a query selects: those whose columns equal the texts under
// FoldCase, or all rows.
struct Selection {
    std::vector<int> columns;
    std::vector<std::wstring> texts;

    std::vector<jet::Table::RowId> Rows(jet::Table& table) const {
        if (columns.empty()) return table.AllRows();
        std::vector<jet::Table::RowId> found = table.FindEqual(columns[0], texts[0]);
        if (columns.size() > 1) {
            std::wstring key = jet::FoldCase(texts[1]);
            std::erase_if(found, [&](jet::Table::RowId id) {
                const jet::Value& v = table.Row(id)[columns[1]];
                return !v || jet::FoldCase(*v) != key;
            });
        }
        return found;
    }
};

class JetRecordset : public Recordset {
public:
    JetRecordset(std::shared_ptr<Connection> connection, jet::Table& table, Selection selection)
        : connection_(std::move(connection)), table_(&table), selection_(std::move(selection)) {
        Guard([&] {
            ids_ = selection_.Rows(table);
            resyncs_ = table.Resyncs();
        });
        live_ = long(ids_.size());
    }

    long RecordCount() const override {
        Follow();
        return live_;
    }
    bool EOF_() const override {
        Follow();
        return pos_ >= ids_.size();
    }
    bool BOF() const override {
        Follow();
        return ids_.empty();
    }
    void MoveFirst() override {
        Follow();
        EndEdit();
        pos_ = 0;
        SkipDeleted();
        if (pos_ >= ids_.size()) throw NoCurrent();
    }
    void MoveNext() override {
        Follow();
        if (pos_ >= ids_.size()) throw NoCurrent();
        EndEdit();
        ++pos_;
        SkipDeleted();
    }
    Value Fields(const std::wstring& name) const override {
        Follow();
        int column = Column(name);
        if (mode_ != Mode::None) return buffer_[column];
        return Guard([&] { return table_->Row(Current())[column]; });
    }
    void SetField(const std::wstring& name, const Value& value) override {
        Check();
        int column = Column(name);
        if (mode_ == Mode::None) throw Error(kNoEditMode, L"Update or CancelUpdate without AddNew or Edit.");
        buffer_[column] = value;
    }
    void AddNew() override {
        Follow();
        Guard([&] { table_->CheckWritable(); });
        buffer_.assign(table_->Columns().size(), std::nullopt);
        mode_ = Mode::Adding;
    }
    void Edit() override {
        Follow();
        Guard([&] { table_->CheckWritable(); });
        jet::Table::RowId id = Current();
        buffer_ = Guard([&] { return table_->Row(id); });
        mode_ = Mode::Editing;
    }
    void Update() override {
        Follow();
        if (mode_ == Mode::None) throw Error(kNoEditMode, L"Update or CancelUpdate without AddNew or Edit.");
        if (mode_ == Mode::Adding) {
            jet::Table::RowId id = Guard([&] { return table_->Append(buffer_); });
            bool atEnd = pos_ >= ids_.size();
            ids_.push_back(id);
            if (atEnd) pos_ = ids_.size();
            ++live_;
        } else {
            jet::Table::RowId id = Current();
            ids_[pos_] = Guard([&] { return table_->Replace(id, buffer_); });
        }
        EndEdit();
    }
    void CancelUpdate() override {
        Check();
        EndEdit();
    }
    void Delete() override {
        Follow();
        EndEdit();
        jet::Table::RowId id = Current();
        Guard([&] { table_->Delete(id); });
        --live_;
    }
    void Close() override {
        EndEdit();
        connection_.reset();
    }

private:
    enum class Mode { None, Adding, Editing };
    static Error NoCurrent() { return Error(jet::err::NoCurrentRecord, L"No current record."); }
    void Check() const {
        if (!connection_ || !connection_->engine) throw Closed();
    }
    // A failed write that partly landed made the table read its rows again:
    // the rows the query now selects that this set lacks are added at its
    // end, and the count is taken anew.  When that read failed, its error is
    // raised here.
    void Follow() const {
        Check();
        std::uint64_t resyncs = Guard([&] { return table_->Resyncs(); });
        if (resyncs == resyncs_) return;
        std::vector<jet::Table::RowId> now = Guard([&] { return selection_.Rows(*table_); });
        std::set<jet::Table::RowId> held(ids_.begin(), ids_.end());
        bool atEnd = pos_ >= ids_.size();
        for (jet::Table::RowId id : now)
            if (!held.count(id)) ids_.push_back(id);
        if (atEnd) pos_ = ids_.size();
        live_ = long(std::count_if(ids_.begin(), ids_.end(), [&](auto id) { return table_->IsLive(id); }));
        resyncs_ = resyncs;
    }
    void EndEdit() {
        mode_ = Mode::None;
        buffer_.clear();
    }
    int Column(const std::wstring& name) const {
        int c = table_->ColumnIndex(name);
        if (c < 0) throw Error(jet::err::ItemNotFound, L"Item not found in this collection.");
        return c;
    }
    jet::Table::RowId Current() const {
        if (pos_ >= ids_.size()) throw NoCurrent();
        jet::Table::RowId id = ids_[pos_];
        if (!table_->IsLive(id)) throw Error(jet::err::RecordDeleted, L"Record is deleted.");
        return id;
    }
    void SkipDeleted() {
        while (pos_ < ids_.size() && !table_->IsLive(ids_[pos_])) ++pos_;
    }

    std::shared_ptr<Connection> connection_;
    jet::Table* table_;
    Selection selection_;
    // Mutable: the const reads follow the table too.
    mutable std::vector<jet::Table::RowId> ids_;
    mutable std::size_t pos_ = 0;
    mutable long live_ = 0;
    mutable std::uint64_t resyncs_ = 0;
    Mode mode_ = Mode::None;
    std::vector<jet::Value> buffer_;
};

class JetDatabase : public Database {
public:
    explicit JetDatabase(std::shared_ptr<Connection> c) : connection_(std::move(c)) {}

    RecordsetPtr OpenRecordset(const std::wstring& sql) override {
        jet::Database& engine = connection_->Engine();
        Query q = Parser(sql).Parse();
        jet::Table& table = Guard([&]() -> jet::Table& { return engine.OpenTable(q.table); });
        Selection selection;
        int unknown = 0;
        for (const auto& c : q.where) {
            int column = table.ColumnIndex(c.field);
            unknown += column < 0;
            selection.columns.push_back(column);
            selection.texts.push_back(c.text);
        }
        // Jet takes a name it does not know for a parameter it was not given.
        if (unknown)
            throw Error(jet::err::TooFewParameters, L"Too few parameters. Expected " + std::to_wstring(unknown) + L".");
        for (int column : selection.columns)
            if (!table.Columns()[column].IsText())
                throw Error(kTypeMismatch, L"Data type mismatch in criteria expression.");
        return std::make_shared<JetRecordset>(connection_, table, std::move(selection));
    }
    std::vector<std::wstring> TableNames() const override {
        return Guard([&] { return connection_->Engine().TableNames(); });
    }
    void Close() override { connection_->engine.reset(); }
    const std::wstring& Name() const override { return connection_->name; }

private:
    std::shared_ptr<Connection> connection_;
};

// The password of a connect string (";pwd=secret"); keys are not case-sensitive.
std::optional<std::wstring> PasswordOf(const std::wstring& connect) {
    std::size_t start = 0;
    while (start <= connect.size()) {
        std::size_t end = connect.find(L';', start);
        if (end == std::wstring::npos) end = connect.size();
        std::wstring part = connect.substr(start, end - start);
        std::size_t eq = part.find(L'=');
        if (eq != std::wstring::npos) {
            std::wstring key = part.substr(0, eq);
            key.erase(0, key.find_first_not_of(L' '));
            key.erase(key.find_last_not_of(L' ') + 1);
            if (jet::FoldCase(key) == L"pwd") return part.substr(eq + 1);
        }
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace

std::wstring SqlQuote(const std::wstring& text) {
    std::wstring out = L"'";
    for (wchar_t c : text) {
        out.push_back(c);
        if (c == L'\'') out.push_back(c);
    }
    out.push_back(L'\'');
    return out;
}

DatabasePtr DBEngine::OpenDatabase(const std::wstring& name, bool exclusive, bool readOnly,
                                   const std::wstring& connect) {
    jet::OpenOptions options;
    options.exclusive = exclusive;
    options.readOnly = readOnly;
    options.password = PasswordOf(connect);
    auto connection = std::make_shared<Connection>();
    connection->name = name;
    connection->engine = Guard([&] { return jet::Database::Open(name, options); });
    return std::make_shared<JetDatabase>(std::move(connection));
}

DatabasePtr DBEngine::OpenDatabase(std::unique_ptr<jet::File> file, bool readOnly, const std::wstring& connect) {
    jet::OpenOptions options;
    options.exclusive = true;  // the caller holds the file
    options.readOnly = readOnly;
    options.password = PasswordOf(connect);
    auto connection = std::make_shared<Connection>();
    connection->name = file ? file->Name() : std::wstring();
    connection->engine = Guard([&] { return jet::Database::Open(std::move(file), options); });
    return std::make_shared<JetDatabase>(std::move(connection));
}

}  // namespace dao
