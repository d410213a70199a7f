// The database header, the password, the catalog, and new databases.
#include <algorithm>
#include <cmath>
#include <cwchar>

#include "platform/jet/Pager.h"
#include "platform/jet/Rows.h"

namespace jet {

int TryAddRow(Pager::Batch& batch, std::uint32_t pageNo, std::uint32_t owner, const std::vector<std::uint8_t>& row);
void InitDataPage(std::uint8_t* page, std::uint32_t owner);
void MarkPageUsed(Pager::Batch& batch, std::uint32_t pageNo);

namespace {

const std::uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
const char kJetMagic[16] = {'S', 't', 'a', 'n', 'd', 'a', 'r', 'd', ' ', 'J', 'e', 't', ' ', 'D', 'B', 0};
constexpr std::size_t kRegion = 0x18, kRegionSize = 128;
constexpr std::size_t kPasswordAt = 0x42, kPasswordSize = 40, kDateAt = 0x72, kKeyAt = 0x3E;
constexpr std::uint32_t kCatalogPage = 2;
constexpr std::int32_t kTablesContainer = 0x0F000001;
constexpr std::size_t kMapRowSize = 69;

// The password is masked with the whole days of the creation date.
void PasswordMask(double date, std::uint8_t mask[4]) {
    std::int64_t days = 0;
    if (std::isfinite(date) && date > -2147483648.0 && date < 2147483647.0) days = std::int64_t(std::floor(date));
    Put32(mask, std::uint32_t(days));
}

std::wstring Quoted(const std::wstring& s) { return L"'" + s + L"'"; }

struct ColumnDef {
    const wchar_t* name;
    std::uint8_t type;
    std::uint16_t length;
    int fixedOffset;  // -1: variable
};

// The catalog's columns, as Access lays them out.
const ColumnDef kCatalogColumns[] = {
    {L"Id", type::Long, 4, 0},           {L"ParentId", type::Long, 4, 4},
    {L"Name", type::Text, 510, -1},      {L"Type", type::Integer, 2, 8},
    {L"DateCreate", type::DateTime, 8, 10}, {L"DateUpdate", type::DateTime, 8, 18},
    {L"Owner", type::Binary, 255, -1},   {L"Flags", type::Long, 4, 26},
    {L"Database", type::Memo, 0, -1},    {L"Connect", type::Memo, 0, -1},
    {L"ForeignName", type::Text, 510, -1}, {L"RmtInfoShort", type::Binary, 255, -1},
    {L"RmtInfoLong", type::OLE, 0, -1},  {L"Lv", type::OLE, 0, -1},
    {L"LvProp", type::OLE, 0, -1},       {L"LvModule", type::OLE, 0, -1},
    {L"LvExtra", type::OLE, 0, -1},
};

void AppendName(std::vector<std::uint8_t>& def, const std::wstring& name) {
    std::vector<std::uint8_t> bytes = EncodeText(name, false);
    std::uint8_t two[2];
    Put16(two, std::uint32_t(bytes.size()));
    def.insert(def.end(), two, two + 2);
    def.insert(def.end(), bytes.begin(), bytes.end());
}

struct NewColumn {
    std::wstring name;
    std::uint8_t type;
    std::uint16_t length;
    int fixedOffset;
    std::uint8_t flags, extraFlags;
};

// A one-page table definition without indexes.  `lvMaps` are the used/free
// map pointers of each long-value column, written after the names.
std::vector<std::uint8_t> BuildTdef(const std::vector<NewColumn>& columns, std::uint8_t tableType,
                                    std::uint32_t usedMap, std::uint32_t freeMap, std::uint32_t rows,
                                    const std::vector<std::pair<std::uint16_t, std::pair<std::uint32_t, std::uint32_t>>>& lvMaps) {
    std::vector<std::uint8_t> def(0x3F, 0);
    def[0] = 0x02;
    def[1] = 0x01;
    Put32(&def[0x0C], 1625);
    Put32(&def[0x10], rows);
    def[0x18] = 0x01;
    def[0x28] = tableType;
    std::uint16_t varCount = 0;
    for (const auto& c : columns) varCount += c.fixedOffset < 0;
    Put16(&def[0x29], std::uint32_t(columns.size()));
    Put16(&def[0x2B], varCount);
    Put16(&def[0x2D], std::uint32_t(columns.size()));
    Put32(&def[0x37], usedMap);
    Put32(&def[0x3B], freeMap);
    std::uint16_t varIndex = 0;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const NewColumn& c = columns[i];
        std::uint8_t d[25] = {};
        d[0] = c.type;
        Put32(d + 1, 1625);
        Put16(d + 5, std::uint32_t(i));
        if (c.fixedOffset < 0) Put16(d + 7, varIndex++);
        if (tableType == 0x4E) Put16(d + 9, std::uint32_t(i));
        Put16(d + 11, 0x0409);
        d[15] = c.flags;
        d[16] = c.extraFlags;
        if (c.fixedOffset >= 0) Put16(d + 21, std::uint32_t(c.fixedOffset));
        Put16(d + 23, c.length);
        def.insert(def.end(), d, d + 25);
    }
    for (const auto& c : columns) AppendName(def, c.name);
    for (const auto& [number, maps] : lvMaps) {
        std::uint8_t d[10];
        Put16(d, number);
        Put32(d + 2, maps.first);
        Put32(d + 6, maps.second);
        def.insert(def.end(), d, d + 10);
    }
    def.push_back(0xFF);
    def.push_back(0xFF);
    if (def.size() > kPageSize - 8) throw Error(3190, L"Too many fields defined.");
    Put32(&def[0x08], std::uint32_t(def.size()));
    Put16(&def[0x02], std::uint32_t(kPageSize - def.size() - 8));
    def.resize(kPageSize, 0);
    return def;
}

std::vector<std::uint8_t> EmptyMapRow() {
    std::vector<std::uint8_t> row(kMapRowSize, 0);  // inline map from page 0, nothing set
    return row;
}

}  // namespace

Database::Database() = default;

Database::~Database() {
    if (pager_ && !readOnly_) {
        try {
            pager_->file().Flush();
        } catch (...) {
        }
    }
}

const std::wstring& Database::Name() const { return pager_->file().Name(); }

void Database::CheckWritable() const {
    if (readOnly_) throw Error(err::NotUpdatable, L"Cannot update.  Database or object is read-only.");
}

void Database::Flush() { pager_->file().Flush(); }

std::unique_ptr<Database> Database::Open(const std::wstring& path, const OpenOptions& options) {
    auto file = OpenFile(path, options.readOnly ? FileAccess::ReadOnly : FileAccess::ReadWrite, options.exclusive);
    return Open(std::move(file), options);
}

std::unique_ptr<Database> Database::Open(std::unique_ptr<File> file, const OpenOptions& options) {
    std::unique_ptr<Database> db(new Database);
    db->readOnly_ = options.readOnly;
    db->pager_ = std::make_unique<Pager>(std::move(file));
    db->ReadHeader(options);
    db->LoadCatalog();
    // Every table is read once now: a file that lost its end (a page named
    // past it by a usage map, an overflow row or a long value) is refused
    // whole, before anything relies on a table that quietly lost rows.
    for (const auto& e : db->catalog_) {
        if ((e.type & 0x7F) != 1) continue;
        if (e.tdefPage >= db->pager_->PageCount()) ThrowCorrupt(db->Name());
        db->TableAt(e.name, e.tdefPage).EnsureRows();
    }
    return db;
}

void Database::ReadHeader(const OpenOptions& options) {
    const std::wstring& name = Name();
    auto notJet4 = [&] { return Error(err::NotDatabase, L"Unrecognized database format '" + name + L"'."); };
    if (pager_->PageCount() <= kCatalogPage) throw notJet4();
    const std::uint8_t* p = pager_->Page(0);
    // Jet 3 files (version 0) and ACE files ("Standard ACE DB", 2 and later) are not ours.
    if (Get32(p) != 0x100 || std::memcmp(p + 4, kJetMagic, 16) != 0 || Get32(p + 0x14) != 1) throw notJet4();
    std::uint8_t region[kRegionSize];
    std::memcpy(region, p + kRegion, kRegionSize);
    Rc4(kHeaderKey, 4, region, kRegionSize);
    std::memcpy(&createDate_, region + (kDateAt - kRegion), 8);
    std::uint8_t mask[4];
    PasswordMask(createDate_, mask);
    password_.clear();
    for (std::size_t i = 0; i + 1 < kPasswordSize; i += 2) {
        std::uint8_t lo = region[kPasswordAt - kRegion + i] ^ mask[i % 4];
        std::uint8_t hi = region[kPasswordAt - kRegion + i + 1] ^ mask[(i + 1) % 4];
        wchar_t c = wchar_t(lo | hi << 8);
        if (c == 0) break;
        password_.push_back(c);
    }
    // A password is a check made at open time; Access compares it exactly.
    if (!password_.empty() && options.password.value_or(L"") != password_)
        throw Error(err::BadPassword, L"Not a valid password.");
    pager_->SetKey(Get32(region + (kKeyAt - kRegion)));
    if (pager_->Page(kCatalogPage)[0] != 0x02) throw notJet4();
}

Table& Database::TableAt(const std::wstring& name, std::uint32_t tdefPage) {
    auto& slot = tables_[tdefPage];
    if (!slot) {
        std::unique_ptr<Table> table(new Table(*this, name, tdefPage));
        table->Load();
        slot = std::move(table);
    }
    return *slot;
}

void Database::LoadCatalog() {
    Table& catalog = TableAt(L"MSysObjects", kCatalogPage);
    int id = catalog.ColumnIndex(L"Id"), name = catalog.ColumnIndex(L"Name"),
        kind = catalog.ColumnIndex(L"Type"), flags = catalog.ColumnIndex(L"Flags");
    if (id < 0 || name < 0 || kind < 0 || flags < 0) ThrowCorrupt(Name());
    catalog_.clear();
    for (Table::RowId r : catalog.AllRows()) {
        const auto& row = catalog.Row(r);
        if (!row[id] || !row[name] || !row[kind]) continue;
        CatalogEntry e;
        e.name = *row[name];
        e.tdefPage = std::uint32_t(std::wcstol(row[id]->c_str(), nullptr, 10)) & 0x00FFFFFF;
        e.type = std::int32_t(std::wcstol(row[kind]->c_str(), nullptr, 10));
        e.flags = row[flags] ? std::int32_t(std::wcstoll(row[flags]->c_str(), nullptr, 10)) : 0;
        catalog_.push_back(std::move(e));
    }
    catalogLoaded_ = true;
}

std::vector<std::wstring> Database::TableNames(bool includeSystem) {
    std::vector<std::wstring> names;
    for (const auto& e : catalog_) {
        if ((e.type & 0x7F) != 1) continue;
        bool system = (std::uint32_t(e.flags) & 0x80000002u) != 0;
        if (system && !includeSystem) continue;
        names.push_back(e.name);
    }
    return names;
}

Table& Database::OpenTable(const std::wstring& name) {
    std::wstring folded = FoldCase(name);
    for (const auto& e : catalog_) {
        if ((e.type & 0x7F) == 1 && FoldCase(e.name) == folded) {
            if (e.tdefPage >= pager_->PageCount()) ThrowCorrupt(Name());
            return TableAt(e.name, e.tdefPage);
        }
    }
    throw Error(err::NoSuchTable, L"The Microsoft Jet database engine cannot find the input table or query " +
                                      Quoted(name) + L".  Make sure it exists and that its name is spelled correctly.");
}

// ---- new databases -------------------------------------------------------------

std::unique_ptr<Database> Database::Create(const std::wstring& path, const std::wstring& password) {
    return Create(OpenFile(path, FileAccess::CreateNew, true), password);
}

std::unique_ptr<Database> Database::Create(std::unique_ptr<File> file, const std::wstring& password) {
    if (password.size() > kPasswordSize / 2) throw Error(err::BadPassword, L"Not a valid password.");
    std::unique_ptr<Database> db(new Database);
    db->pager_ = std::make_unique<Pager>(std::move(file));
    if (db->pager_->PageCount() != 0) throw Error(err::DatabaseExists, L"Database already exists.");
    db->password_ = password;
    db->createDate_ = OleDateNow();

    Pager::Batch batch(*db->pager_);
    std::uint32_t header = batch.Allocate(), global = batch.Allocate(), catalogDef = batch.Allocate(),
                  maps = batch.Allocate();

    // Page 0: the header with its coded region.
    std::uint8_t* h = batch.Modify(header);
    Put32(h, 0x100);
    std::memcpy(h + 4, kJetMagic, 16);
    Put32(h + 0x14, 1);
    std::uint8_t* r = h + kRegion;
    static const std::uint8_t fixed[24] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0};
    std::memcpy(r, fixed, sizeof fixed);
    Put16(r + (0x3C - kRegion), 1252);
    std::uint8_t mask[4];
    PasswordMask(db->createDate_, mask);
    std::vector<std::uint8_t> pw = EncodeText(password, false);
    pw.resize(kPasswordSize, 0);
    for (std::size_t i = 0; i < kPasswordSize; ++i) r[kPasswordAt - kRegion + i] = pw[i] ^ mask[i % 4];
    Put32(r + (0x6E - kRegion), 0x0409);
    std::memcpy(r + (kDateAt - kRegion), &db->createDate_, 8);
    Rc4(kHeaderKey, 4, r, kRegionSize);
    Put32(h + 0x98, 0x0654);
    std::memcpy(h + 0x9C, "4.0", 4);
    for (std::size_t i = 0; i < 256; ++i) Put16(h + 0xE00 + 2 * i, i == 0 ? 0x0101 : 0x0100);

    // Page 1: the database's own map of free pages (a set bit is free).
    std::uint8_t* g = batch.Modify(global);
    InitDataPage(g, 1);
    std::vector<std::uint8_t> freeMap(kMapRowSize, 0);
    for (std::size_t i = 4; i < (kMapRowSize - 5) * 8; ++i) freeMap[5 + i / 8] |= std::uint8_t(1u << (i % 8));
    TryAddRow(batch, global, 1, freeMap);
    TryAddRow(batch, global, 1, std::vector<std::uint8_t>(kMapRowSize, 0));

    // Page 3: usage-map rows of the catalog and its long-value columns.
    InitDataPage(batch.Modify(maps), 0);
    auto addMap = [&] { return JoinPointer({maps, std::uint16_t(TryAddRow(batch, maps, 0, EmptyMapRow()))}); };
    std::uint32_t usedMap = addMap(), freeMapPtr = addMap();
    std::vector<NewColumn> columns;
    std::vector<std::pair<std::uint16_t, std::pair<std::uint32_t, std::uint32_t>>> lvMaps;
    for (const ColumnDef& c : kCatalogColumns) {
        bool fixedColumn = c.fixedOffset >= 0;
        columns.push_back({c.name, c.type, c.length, c.fixedOffset, std::uint8_t(fixedColumn ? 0x13 : 0x12), 0});
        if (c.type == type::Memo || c.type == type::OLE) {
            std::uint32_t used = addMap(), free = addMap();
            lvMaps.push_back({std::uint16_t(columns.size() - 1), {used, free}});
        }
    }
    std::vector<std::uint8_t> def = BuildTdef(columns, 0x53, usedMap, freeMapPtr, 0, lvMaps);
    std::memcpy(batch.Modify(catalogDef), def.data(), kPageSize);
    batch.Commit();

    // The catalog's own rows go through the ordinary append.
    db->LoadCatalog();
    Table& catalog = db->TableAt(L"MSysObjects", kCatalogPage);
    std::wstring now = FormatDate(db->createDate_);
    auto addObject = [&](std::int32_t id, std::int32_t parent, const std::wstring& objectName, int kind,
                         std::uint32_t flags) {
        std::vector<Value> row(catalog.Columns().size());
        row[catalog.ColumnIndex(L"Id")] = std::to_wstring(id);
        row[catalog.ColumnIndex(L"ParentId")] = std::to_wstring(parent);
        row[catalog.ColumnIndex(L"Name")] = objectName;
        row[catalog.ColumnIndex(L"Type")] = std::to_wstring(kind);
        row[catalog.ColumnIndex(L"DateCreate")] = now;
        row[catalog.ColumnIndex(L"DateUpdate")] = now;
        row[catalog.ColumnIndex(L"Flags")] = std::to_wstring(std::int32_t(flags));
        catalog.Append(row);
    };
    addObject(kTablesContainer, 0x0F000000, L"Tables", 3, 0x80000000u);
    addObject(0x0F000002, 0x0F000000, L"Databases", 3, 0x80000000u);
    addObject(0x0F000003, 0x0F000000, L"Relationships", 3, 0x80000000u);
    addObject(std::int32_t(kCatalogPage), kTablesContainer, L"MSysObjects", 1, 0x80000002u);
    db->LoadCatalog();
    return db;
}

Table& Database::CreateTable(const std::wstring& name, const std::vector<TextColumnSpec>& specs) {
    CheckWritable();
    Table& catalog = TableAt(L"MSysObjects", kCatalogPage);
    if (catalog.HasIndexes())
        throw Error(err::NotUpdatable, L"Cannot update.  The catalog of '" + Name() +
                                           L"' has indexes, and this engine does not maintain indexes.");
    if (name.empty() || name.size() > 64 || specs.empty() || specs.size() > 255)
        throw Error(3125, Quoted(name) + L" is not a valid name.");
    for (const auto& e : catalog_)
        if (FoldCase(e.name) == FoldCase(name)) throw Error(3010, L"Table " + Quoted(name) + L" already exists.");
    std::vector<NewColumn> columns;
    for (const auto& s : specs) {
        if (s.name.empty() || s.maxChars == 0 || s.maxChars > 255)
            throw Error(3125, Quoted(s.name) + L" is not a valid name.");
        for (const auto& c : columns)
            if (FoldCase(c.name) == FoldCase(s.name)) throw Error(3191, L"Cannot define field more than once.");
        columns.push_back({s.name, type::Text, std::uint16_t(2 * s.maxChars), -1, 0x02, 0x01});
    }

    // The definition and its two map rows are written first; the table exists
    // once its catalog row is added.
    Pager::Batch batch(*pager_);
    std::uint32_t tdef = batch.Allocate();
    MarkPageUsed(batch, tdef);
    // Map rows go beside the newest table's, or on a fresh page.
    std::uint32_t mapPage = 0, newest = 0;
    for (const auto& e : catalog_)
        if ((e.type & 0x7F) == 1 && e.tdefPage >= newest && e.tdefPage < pager_->PageCount()) {
            newest = e.tdefPage;
            mapPage = TableAt(e.name, e.tdefPage).usedMap_ >> 8;
        }
    int used = mapPage ? TryAddRow(batch, mapPage, 0, EmptyMapRow()) : -1;
    int free = used >= 0 ? TryAddRow(batch, mapPage, 0, EmptyMapRow()) : -1;
    std::uint32_t usedPage = mapPage, freePage = mapPage;
    if (used < 0 || free < 0) {
        std::uint32_t fresh = batch.Allocate();
        InitDataPage(batch.Modify(fresh), 0);
        MarkPageUsed(batch, fresh);
        if (used < 0) {
            usedPage = fresh;
            used = TryAddRow(batch, fresh, 0, EmptyMapRow());
        }
        freePage = fresh;
        free = TryAddRow(batch, fresh, 0, EmptyMapRow());
    }
    std::vector<std::uint8_t> def = BuildTdef(columns, 0x4E, JoinPointer({usedPage, std::uint16_t(used)}),
                                              JoinPointer({freePage, std::uint16_t(free)}), 0, {});
    std::memcpy(batch.Modify(tdef), def.data(), kPageSize);
    batch.Commit();

    std::vector<Value> row(catalog.Columns().size());
    std::wstring now = FormatDate(OleDateNow());
    row[catalog.ColumnIndex(L"Id")] = std::to_wstring(tdef);
    row[catalog.ColumnIndex(L"ParentId")] = std::to_wstring(kTablesContainer);
    row[catalog.ColumnIndex(L"Name")] = name;
    row[catalog.ColumnIndex(L"Type")] = L"1";
    row[catalog.ColumnIndex(L"DateCreate")] = now;
    row[catalog.ColumnIndex(L"DateUpdate")] = now;
    row[catalog.ColumnIndex(L"Flags")] = L"0";
    try {
        catalog.Append(row);
    } catch (...) {
        // The row may have stayed when the rollback failed: list what the file holds.
        try {
            LoadCatalog();
        } catch (...) {
        }
        throw;
    }
    catalog_.push_back({name, tdef, 1, 0});
    return TableAt(name, tdef);
}

}  // namespace jet
