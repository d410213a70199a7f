// Table definitions, rows, usage maps and the writes on them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <set>

#include "platform/jet/Pager.h"
#include "platform/jet/Rows.h"

namespace jet {

namespace {

constexpr std::size_t kMaxRowBytes = 4060;
constexpr std::uint32_t kMaxTdefPages = 64;

std::size_t FixedSize(const Column& c) {
    switch (c.type) {
    case type::Boolean: return 0;
    case type::Byte: return 1;
    case type::Integer: return 2;
    case type::Long: case type::Single: return 4;
    case type::Currency: case type::Double: case type::DateTime: return 8;
    case type::GUID: return 16;
    case type::Numeric: return 17;
    default: return c.length;
    }
}

}  // namespace

// ---- row pages -------------------------------------------------------------------

int TryAddRow(Pager::Batch& batch, std::uint32_t pageNo, std::uint32_t owner,
              const std::vector<std::uint8_t>& row) {
    const std::uint8_t* p = batch.Read(pageNo);
    if (p[0] != 0x01 || Get32(p + 4) != owner) return -1;
    std::size_t count = Get16(p + 12);
    if (count >= kMaxRowsPerPage) return -1;
    // New rows go below the lowest row; readers find a row's end at the
    // start of the previous slot, so that must be the lowest start.
    std::size_t lowest = kPageSize;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t start = Get16(p + kDataPageHeader + 2 * i) & kSlotOffsetMask;
        if (start > lowest || start < kDataPageHeader + 2 * count) return -1;
        lowest = start;
    }
    std::size_t tableEnd = kDataPageHeader + 2 * (count + 1);
    if (lowest < tableEnd || lowest - tableEnd < row.size()) return -1;
    std::uint8_t* q = batch.Modify(pageNo);
    std::size_t start = lowest - row.size();
    std::memcpy(q + start, row.data(), row.size());
    Put16(q + kDataPageHeader + 2 * count, std::uint32_t(start));
    Put16(q + 12, std::uint32_t(count + 1));
    Put16(q + 2, std::uint32_t(start - tableEnd));
    return int(count);
}

void InitDataPage(std::uint8_t* q, std::uint32_t owner) {
    std::memset(q, 0, kPageSize);
    q[0] = 0x01;
    q[1] = 0x01;
    Put16(q + 2, kPageSize - kDataPageHeader);
    Put32(q + 4, owner);
}

// Page 1 holds the database's own map, where a set bit means a free page.
void MarkPageUsed(Pager::Batch& batch, std::uint32_t pageNo) {
    const std::uint8_t* p = batch.Read(1);
    std::size_t start, end;
    std::uint16_t flags;
    if (Get32(p + 4) != 1 || !RowExtent(p, 0, start, end, flags) || end - start < 5 || p[start] != 0) return;
    std::uint32_t first = Get32(p + start + 1);
    std::size_t bits = (end - start - 5) * 8;
    if (pageNo < first || pageNo - first >= bits) return;
    std::uint32_t i = pageNo - first;
    if (!(p[start + 5 + i / 8] & (1u << (i % 8)))) return;
    batch.Modify(1)[start + 5 + i / 8] &= std::uint8_t(~(1u << (i % 8)));
}

static std::uint32_t NewBitmapPage(Pager::Batch& batch) {
    std::uint32_t n = batch.Allocate();
    std::uint8_t* q = batch.Modify(n);
    q[0] = 0x05;
    q[1] = 0x01;
    MarkPageUsed(batch, n);
    return n;
}

// Sets the bit of `pageNo` in a table's usage map.  An inline map that cannot
// reach the page becomes a map of bitmap pages (type 1) in the same row.
void SetMapBit(Pager::Batch& batch, std::uint32_t mapPointer, std::uint32_t pageNo, const std::wstring& name) {
    RowPointer where = SplitPointer(mapPointer);
    const std::uint8_t* p = batch.Read(where.page);
    std::size_t start, end;
    std::uint16_t flags;
    if (!RowExtent(p, where.slot, start, end, flags) || end - start < 5) ThrowCorrupt(name);
    std::size_t len = end - start;
    std::size_t entries = (len - 1) / 4;
    if (p[start] == 0) {
        std::uint32_t first = Get32(p + start + 1);
        std::size_t bits = (len - 5) * 8;
        if (pageNo >= first && pageNo - first < bits) {
            std::uint32_t i = pageNo - first;
            batch.Modify(where.page)[start + 5 + i / 8] |= std::uint8_t(1u << (i % 8));
            return;
        }
        // Convert: collect the pages set now, then lay them out in bitmap pages.
        std::vector<std::uint32_t> pages{pageNo};
        for (std::size_t i = 0; i < bits; ++i)
            if (p[start + 5 + i / 8] & (1u << (i % 8))) pages.push_back(first + std::uint32_t(i));
        std::vector<std::uint8_t> row(len, 0);
        row[0] = 0x01;
        for (std::uint32_t page : pages) {
            std::size_t k = page / kUsageMapBitsPerPage;
            if (k >= entries) throw Error(3035, L"System resource exceeded.");
            std::uint32_t bitmap = Get32(row.data() + 1 + 4 * k);
            if (bitmap == 0) {
                bitmap = NewBitmapPage(batch);
                Put32(row.data() + 1 + 4 * k, bitmap);
            }
            std::size_t i = page % kUsageMapBitsPerPage;
            batch.Modify(bitmap)[4 + i / 8] |= std::uint8_t(1u << (i % 8));
        }
        std::memcpy(batch.Modify(where.page) + start, row.data(), len);
        return;
    }
    if (p[start] != 1) ThrowCorrupt(name);
    std::size_t k = pageNo / kUsageMapBitsPerPage;
    if (k >= entries) throw Error(3035, L"System resource exceeded.");
    std::uint32_t bitmap = Get32(p + start + 1 + 4 * k);
    if (bitmap == 0) {
        bitmap = NewBitmapPage(batch);
        Put32(batch.Modify(where.page) + start + 1 + 4 * k, bitmap);
    } else if (batch.Read(bitmap)[0] != 0x05) {
        ThrowCorrupt(name);
    }
    std::size_t i = pageNo % kUsageMapBitsPerPage;
    batch.Modify(bitmap)[4 + i / 8] |= std::uint8_t(1u << (i % 8));
}

// ---- table -----------------------------------------------------------------------

Table::Table(Database& db, std::wstring name, std::uint32_t tdefPage)
    : db_(db), name_(std::move(name)), tdefPage_(tdefPage) {}

int Table::ColumnIndex(const std::wstring& name) const {
    std::wstring folded = FoldCase(name);
    for (std::size_t i = 0; i < columns_.size(); ++i)
        if (FoldCase(columns_[i].name) == folded) return int(i);
    return -1;
}

void Table::Load() {
    Pager& pager = *db_.pager_;
    const std::wstring& file = pager.file().Name();
    std::vector<std::uint8_t> def;
    std::set<std::uint32_t> seen;
    std::uint32_t page = tdefPage_;
    while (true) {
        if (!seen.insert(page).second || seen.size() > kMaxTdefPages) ThrowCorrupt(file);
        const std::uint8_t* p = pager.Page(page);
        if (p[0] != 0x02) ThrowCorrupt(file);
        if (def.empty())
            def.assign(p, p + kPageSize);
        else
            def.insert(def.end(), p + 8, p + kPageSize);
        page = Get32(p + 4);
        if (page == 0) break;
    }
    auto need = [&](std::size_t at, std::size_t n) {
        if (at > def.size() || n > def.size() - at) ThrowCorrupt(file);
    };
    maxColumns_ = Get16(&def[0x29]);
    std::size_t columnCount = Get16(&def[0x2D]);
    realIndexCount_ = Get32(&def[0x33]);
    usedMap_ = Get32(&def[0x37]);
    freeMap_ = Get32(&def[0x3B]);
    // Access allows 255 fields in a table.
    if (realIndexCount_ > 1000 || columnCount > 255) ThrowCorrupt(file);
    std::size_t at = 0x3F + 12 * std::size_t(realIndexCount_);
    std::vector<Column> columns(columnCount);
    for (auto& c : columns) {
        need(at, 25);
        const std::uint8_t* d = &def[at];
        c.type = d[0];
        c.number = Get16(d + 5);
        c.varIndex = Get16(d + 7);
        c.flags = d[15];
        c.extraFlags = d[16];
        c.precision = d[11];
        c.scale = d[12];
        c.fixedOffset = Get16(d + 21);
        c.length = Get16(d + 23);
        at += 25;
    }
    for (auto& c : columns) {
        need(at, 2);
        std::size_t n = Get16(&def[at]);
        at += 2;
        need(at, n);
        c.name = DecodeText(def.data() + at, n);
        at += n;
    }
    std::stable_sort(columns.begin(), columns.end(),
                     [](const Column& a, const Column& b) { return a.number < b.number; });
    // Reading is lenient; writing needs a definition without clashes.
    std::set<unsigned> numbers, varIndexes;
    consistent_ = true;
    for (const Column& c : columns) {
        consistent_ &= numbers.insert(c.number).second;
        if (!c.IsFixed()) consistent_ &= varIndexes.insert(c.varIndex).second;
    }
    columns_ = std::move(columns);
    hasVariableColumns_ =
        std::any_of(columns_.begin(), columns_.end(), [](const Column& c) { return !c.IsFixed(); });
}

std::vector<std::uint32_t> Table::MapPages(std::uint32_t mapPointer) {
    Pager& pager = *db_.pager_;
    const std::wstring& file = pager.file().Name();
    RowPointer where = SplitPointer(mapPointer);
    const std::uint8_t* p = pager.Page(where.page);
    std::size_t start, end;
    std::uint16_t flags;
    if (!RowExtent(p, where.slot, start, end, flags) || end - start < 5) ThrowCorrupt(file);
    const std::uint8_t* row = p + start;
    std::size_t len = end - start;
    std::vector<std::uint32_t> pages;
    std::uint32_t count = pager.PageCount();
    // A page the map names past the end of the file means the file lost its
    // end: refused, never read as a table with fewer rows.
    if (row[0] == 0) {
        std::uint64_t first = Get32(row + 1);
        for (std::size_t i = 0; i < (len - 5) * 8; ++i)
            if ((row[5 + i / 8] >> (i % 8)) & 1) {
                std::uint64_t n = first + i;
                if (n >= count) ThrowCorrupt(file);
                pages.push_back(std::uint32_t(n));
            }
    } else if (row[0] == 1) {
        for (std::size_t k = 0; k < (len - 1) / 4; ++k) {
            std::uint32_t bitmap = Get32(row + 1 + 4 * k);
            if (bitmap == 0) continue;
            const std::uint8_t* b = pager.Page(bitmap);  // 3049 past the end
            if (b[0] != 0x05) continue;
            for (std::size_t i = 0; i < kUsageMapBitsPerPage; ++i) {
                if (b[4 + i / 8] == 0) {
                    i += 7 - i % 8;
                    continue;
                }
                if ((b[4 + i / 8] >> (i % 8)) & 1) {
                    std::uint64_t n = std::uint64_t(k) * kUsageMapBitsPerPage + i;
                    if (n >= count) ThrowCorrupt(file);
                    pages.push_back(std::uint32_t(n));
                }
            }
        }
    } else {
        ThrowCorrupt(file);
    }
    return pages;
}

void Table::EnsureRows() {
    if (lost_) std::rethrow_exception(lost_);
    if (rowsLoaded_) return;
    ReadRows(rows_, ownedPages_);
    liveCount_ = rows_.size();
    rowsLoaded_ = true;
}

void Table::ReadRows(std::vector<CachedRow>& rows, std::vector<std::uint32_t>& owned) {
    Pager& pager = *db_.pager_;
    longValueBytes_ = 0;
    rows.clear();
    owned.clear();
    for (std::uint32_t n : MapPages(usedMap_)) {
        const std::uint8_t* p = pager.Page(n);
        // Only pages this table owns: maps may list pages since given away.
        if (p[0] != 0x01 || Get32(p + 4) != tdefPage_) continue;
        owned.push_back(n);
        std::size_t count = Get16(p + 12);
        for (std::size_t slot = 0; slot < count && slot < kMaxRowsPerPage * 2; ++slot) {
            std::size_t start, end;
            std::uint16_t flags;
            if (!RowExtent(p, slot, start, end, flags)) continue;
            if (flags & kSlotTarget) continue;  // deleted, or reached through its header
            const std::uint8_t* rp = p + start;
            std::size_t rn = end - start;
            if (flags & kSlotOverflow) {
                if (rn < 4) continue;
                RowPointer target = SplitPointer(Get32(rp));
                const std::uint8_t* tp = pager.Page(target.page);  // 3049 past the end
                std::uint16_t targetFlags;
                if (!RowExtent(tp, target.slot, start, end, targetFlags)) continue;
                if ((targetFlags & kSlotDeleted) == kSlotOverflow || (targetFlags & kSlotDeleted) == kSlotDeleted) continue;
                rp = tp + start;
                rn = end - start;
            }
            CachedRow row;
            row.where = {n, std::uint16_t(slot)};
            row.values = DecodeRow(rp, rn);
            rows.push_back(std::move(row));
            // DecodeRow may have read other pages; p stays valid (pages are never evicted).
        }
    }
}

// The file holds part of a failed write: the cache learns what it holds now.
// Rows still in their place keep their ids (record sets hold them), rows gone
// die, rows that came are added.  When the file cannot be read, the cache no
// longer tells what it holds: every later read and write raises that error.
void Table::Resync() {
    std::vector<CachedRow> fresh;
    std::vector<std::uint32_t> owned;
    try {
        ReadRows(fresh, owned);
    } catch (...) {
        lost_ = std::current_exception();
        return;
    }
    ++resyncs_;
    std::map<std::pair<std::uint32_t, std::uint16_t>, std::size_t> at;
    for (std::size_t i = 0; i < fresh.size(); ++i) at[{fresh[i].where.page, fresh[i].where.slot}] = i;
    for (CachedRow& row : rows_) {
        if (!row.live) continue;
        auto hit = at.find({row.where.page, row.where.slot});
        row.live = hit != at.end();
        if (!row.live) continue;
        row.values = std::move(fresh[hit->second].values);
        fresh[hit->second].live = false;  // taken
        at.erase(hit);
    }
    for (CachedRow& row : fresh)
        if (row.live) rows_.push_back(std::move(row));
    ownedPages_ = std::move(owned);
    liveCount_ = std::size_t(std::count_if(rows_.begin(), rows_.end(), [](const CachedRow& r) { return r.live; }));
    indexes_.clear();  // built again on the next search
}

std::vector<Value> Table::DecodeRow(const std::uint8_t* row, std::size_t n) {
    const std::wstring& file = db_.pager_->file().Name();
    std::vector<Value> values(columns_.size());
    if (n < 3) ThrowCorrupt(file);
    std::size_t stored = Get16(row);
    std::size_t maskLen = (stored + 7) / 8;
    if (maskLen + 2 > n) ThrowCorrupt(file);
    const std::uint8_t* mask = row + n - maskLen;
    bool hasVar = hasVariableColumns_;
    std::size_t varCount = 0, varPos = 0, dataEnd = n - maskLen;
    if (hasVar) {
        if (n < maskLen + 4) ThrowCorrupt(file);
        varPos = n - maskLen - 2;
        varCount = Get16(row + varPos);
        if (2 * (varCount + 1) + 2 > varPos) ThrowCorrupt(file);
        dataEnd = varPos - 2 * (varCount + 1);
    }
    auto varOffset = [&](std::size_t j) { return std::size_t(Get16(row + varPos - 2 * (j + 1))); };
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const Column& c = columns_[i];
        bool bit = c.number < stored && ((mask[c.number / 8] >> (c.number % 8)) & 1);
        if (c.type == type::Boolean) {
            values[i] = bit ? L"True" : L"False";
            continue;
        }
        if (!bit) continue;
        const std::uint8_t* data;
        std::size_t size;
        if (c.IsFixed()) {
            size = FixedSize(c);
            std::size_t at = 2 + std::size_t(c.fixedOffset);
            if (at > dataEnd || size > dataEnd - at) continue;
            data = row + at;
        } else {
            if (c.varIndex >= varCount) continue;
            std::size_t s = varOffset(c.varIndex), e = varOffset(c.varIndex + 1);
            if (s > e || e > dataEnd) continue;
            data = row + s;
            size = e - s;
        }
        values[i] = DecodeField(c, data, size, [&](const std::uint8_t* p, std::size_t m, bool text) {
            return DecodeLongValue(p, m, text);
        });
    }
    return values;
}

Value Table::DecodeLongValue(const std::uint8_t* p, std::size_t n, bool text) {
    Pager& pager = *db_.pager_;
    if (n < 12) return std::nullopt;
    std::uint32_t header = Get32(p);
    std::size_t length = header & 0x3FFFFFFF;
    std::vector<std::uint8_t> data;
    auto rowAt = [&](std::uint32_t pointer, const std::uint8_t*& rp, std::size_t& rn) {
        RowPointer where = SplitPointer(pointer);
        const std::uint8_t* page = pager.Page(where.page);  // 3049 past the end
        std::size_t start, end;
        std::uint16_t flags;
        if (!RowExtent(page, where.slot, start, end, flags)) return false;
        rp = page + start;
        rn = end - start;
        return true;
    };
    switch (header & 0xC0000000) {
    case 0x80000000:  // in the row
        if (length > n - 12) return std::nullopt;
        data.assign(p + 12, p + 12 + length);
        break;
    case 0x40000000: {  // one long-value row
        const std::uint8_t* rp;
        std::size_t rn;
        if (!rowAt(Get32(p + 4), rp, rn)) return std::nullopt;
        data.assign(rp, rp + std::min(rn, length));
        break;
    }
    case 0: {  // a chain of rows, each starting with the pointer to the next
        std::uint32_t next = Get32(p + 4);
        std::set<std::uint32_t> seen;
        while (next != 0 && data.size() < length) {
            const std::uint8_t* rp;
            std::size_t rn;
            if (!seen.insert(next).second || !rowAt(next, rp, rn) || rn < 4) return std::nullopt;
            next = Get32(rp);
            data.insert(data.end(), rp + 4, rp + std::min(rn, 4 + (length - data.size())));
        }
        break;
    }
    default:
        return std::nullopt;
    }
    // Rows of a sound file never share long values, so all of them together
    // are no larger than the file; more means pointers made to repeat.
    if ((header & 0xC0000000) != 0x80000000) longValueBytes_ += data.size();
    if (longValueBytes_ > 2 * std::uint64_t(pager.PageCount()) * kPageSize + (1u << 20))
        ThrowCorrupt(pager.file().Name());
    if (text) return DecodeText(data.data(), data.size());
    return HexText(data.data(), data.size());
}

std::vector<Table::RowId> Table::AllRows() {
    EnsureRows();
    std::vector<RowId> ids;
    ids.reserve(liveCount_);
    for (RowId i = 0; i < rows_.size(); ++i)
        if (rows_[i].live) ids.push_back(i);
    return ids;
}

bool Table::IsLive(RowId id) {
    EnsureRows();
    return id < rows_.size() && rows_[id].live;
}

const std::vector<Value>& Table::Row(RowId id) {
    if (!IsLive(id)) throw Error(err::RecordDeleted, L"Record is deleted.");
    return rows_[id].values;
}

std::size_t Table::LiveRowCount() {
    EnsureRows();
    return liveCount_;
}

std::uint64_t Table::Resyncs() {
    EnsureRows();
    return resyncs_;
}

std::vector<Table::RowId> Table::FindEqual(int column, const std::wstring& text) {
    EnsureRows();
    auto it = indexes_.find(column);
    if (it == indexes_.end()) {
        auto& index = indexes_[column];
        index.reserve(liveCount_);
        for (RowId i = 0; i < rows_.size(); ++i)
            if (rows_[i].live && rows_[i].values[column]) index[FoldCase(*rows_[i].values[column])].Add(i);
        it = indexes_.find(column);
    }
    auto hit = it->second.find(FoldCase(text));
    if (hit == it->second.end()) return {};
    std::vector<RowId> ids{hit->second.first};
    ids.insert(ids.end(), hit->second.more.begin(), hit->second.more.end());
    return ids;
}

void Table::IndexAdd(RowId id) {
    for (auto& [column, index] : indexes_)
        if (const Value& v = rows_[id].values[column]) index[FoldCase(*v)].Add(id);
}

void Table::IndexRemove(RowId id) {
    for (auto& [column, index] : indexes_) {
        const Value& v = rows_[id].values[column];
        if (!v) continue;
        auto hit = index.find(FoldCase(*v));
        if (hit != index.end() && hit->second.Remove(id)) index.erase(hit);
    }
}

// ---- writes ----------------------------------------------------------------------

void Table::CheckWritable() const {
    db_.CheckWritable();
    if (lost_) std::rethrow_exception(lost_);
    if (!consistent_) ThrowCorrupt(db_.Name());
    if (realIndexCount_ > 0)
        throw Error(err::NotUpdatable,
                    L"Cannot update.  Table '" + name_ +
                        L"' has an index, and this engine does not maintain indexes; "
                        L"writing would damage the file.");
}

std::vector<std::uint8_t> Table::EncodeRow(const std::vector<Value>& values) const {
    if (values.size() != columns_.size()) throw Error(err::ItemNotFound, L"Item not found in this collection.");
    std::size_t stored = maxColumns_;
    std::size_t fixedEnd = 0, varCount = 0;
    bool hasVar = false;
    for (const Column& c : columns_) {
        stored = std::max<std::size_t>(stored, c.number + 1u);
        if (c.IsFixed())
            fixedEnd = std::max(fixedEnd, std::size_t(c.fixedOffset) + FixedSize(c));
        else {
            hasVar = true;
            varCount = std::max<std::size_t>(varCount, c.varIndex + 1u);
        }
    }
    std::vector<std::uint8_t> mask((stored + 7) / 8, 0);
    std::vector<std::uint8_t> row(2 + fixedEnd, 0);
    Put16(row.data(), std::uint32_t(stored));
    std::vector<const Column*> byVar(varCount, nullptr);
    std::vector<const Value*> varValue(varCount, nullptr);
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const Column& c = columns_[i];
        if (!c.IsFixed()) {
            byVar[c.varIndex] = &c;
            varValue[c.varIndex] = &values[i];
            continue;
        }
        bool present = false;
        std::vector<std::uint8_t> bytes = EncodeField(c, values[i], present);
        if (present) mask[c.number / 8] |= std::uint8_t(1u << (c.number % 8));
        if (!bytes.empty())
            std::memcpy(row.data() + 2 + c.fixedOffset, bytes.data(), std::min(bytes.size(), FixedSize(c)));
    }
    std::vector<std::size_t> offsets(varCount);
    for (std::size_t j = 0; j < varCount; ++j) {
        offsets[j] = row.size();
        if (!byVar[j]) continue;
        bool present = false;
        std::vector<std::uint8_t> bytes = EncodeField(*byVar[j], *varValue[j], present);
        if (present) mask[byVar[j]->number / 8] |= std::uint8_t(1u << (byVar[j]->number % 8));
        row.insert(row.end(), bytes.begin(), bytes.end());
        if (row.size() > kMaxRowBytes) throw Error(3047, L"Record is too large.");
    }
    if (hasVar) {
        std::size_t eod = row.size();
        std::uint8_t two[2];
        Put16(two, std::uint32_t(eod));
        row.insert(row.end(), two, two + 2);
        for (std::size_t j = varCount; j-- > 0;) {
            Put16(two, std::uint32_t(offsets[j]));
            row.insert(row.end(), two, two + 2);
        }
        Put16(two, std::uint32_t(varCount));
        row.insert(row.end(), two, two + 2);
    }
    row.insert(row.end(), mask.begin(), mask.end());
    if (row.size() > kMaxRowBytes) throw Error(3047, L"Record is too large.");
    return row;
}

struct Table::Staging {
    static PlacedRow Append(Table& t, Pager::Batch& batch, const std::vector<std::uint8_t>& bytes,
                            std::uint32_t preferredPage = 0);
    static void Delete(Table& t, Pager::Batch& batch, RowId id);
    static void Commit(Table& t, Pager::Batch& batch);
};

// Stages a new row: on the preferred page (0: none) if it has room, else the
// last page with room, any other, or a new page.  Pages are written in the
// order first touched, after any new page; the write that makes the row
// visible comes last, so a failure before it leaves the table as it was.  The
// row count goes first: readers count by scanning, so a count left one too
// high is harmless.
Table::PlacedRow Table::Staging::Append(Table& t, Pager::Batch& batch, const std::vector<std::uint8_t>& bytes,
                                        std::uint32_t preferredPage) {
    const std::uint32_t owner = t.tdefPage_;
    std::uint8_t* def = batch.Modify(owner);
    Put32(def + 0x10, Get32(def + 0x10) + 1);
    PlacedRow placed;
    int slot = -1;
    if (preferredPage != 0) {
        placed.page = preferredPage;
        slot = TryAddRow(batch, placed.page, owner, bytes);
    }
    for (auto it = t.ownedPages_.rbegin(); it != t.ownedPages_.rend() && slot < 0; ++it) {
        placed.page = *it;
        slot = TryAddRow(batch, placed.page, owner, bytes);
    }
    if (slot < 0) {
        const std::wstring& file = t.db_.pager_->file().Name();
        placed.page = batch.Allocate();
        InitDataPage(batch.Modify(placed.page), owner);
        slot = TryAddRow(batch, placed.page, owner, bytes);
        MarkPageUsed(batch, placed.page);
        SetMapBit(batch, t.freeMap_, placed.page, file);
        SetMapBit(batch, t.usedMap_, placed.page, file);  // makes the page part of the table
        placed.newPage = true;
    }
    placed.slot = std::uint16_t(slot);
    return placed;
}

// Stages the deletion of a live row: the count first, the slot mark last.
void Table::Staging::Delete(Table& t, Pager::Batch& batch, RowId id) {
    RowPointer where = t.rows_[id].where;
    std::size_t start, end;
    std::uint16_t flags;
    if (!RowExtent(batch.Read(where.page), where.slot, start, end, flags)) ThrowCorrupt(t.db_.Name());
    std::uint8_t* def = batch.Modify(t.tdefPage_);
    if (std::uint32_t count = Get32(def + 0x10)) Put32(def + 0x10, count - 1);
    std::uint8_t* page = batch.Modify(where.page);
    std::uint8_t* entry = page + kDataPageHeader + 2 * where.slot;
    Put16(entry, Get16(entry) | kSlotDeleted);
}

// Writes the batch; a failure that left part of it in the file makes the
// table read its rows again.
void Table::Staging::Commit(Table& t, Pager::Batch& batch) {
    try {
        batch.Commit();
    } catch (...) {
        if (batch.PartlyWritten()) t.Resync();
        throw;
    }
}

Table::RowId Table::CacheAppended(const PlacedRow& placed, const std::vector<std::uint8_t>& bytes) {
    if (placed.newPage) ownedPages_.push_back(placed.page);
    CachedRow row;
    row.where = {placed.page, placed.slot};
    row.values = DecodeRow(bytes.data(), bytes.size());
    rows_.push_back(std::move(row));
    ++liveCount_;
    RowId id = RowId(rows_.size() - 1);
    IndexAdd(id);
    return id;
}

void Table::CacheDeleted(RowId id) {
    IndexRemove(id);
    rows_[id].live = false;
    --liveCount_;
}

Table::RowId Table::Append(const std::vector<Value>& values) {
    CheckWritable();
    EnsureRows();
    std::vector<std::uint8_t> bytes = EncodeRow(values);
    Pager::Batch batch(*db_.pager_);
    PlacedRow placed = Staging::Append(*this, batch, bytes);
    Staging::Commit(*this, batch);
    return CacheAppended(placed, bytes);
}

void Table::Delete(RowId id) {
    CheckWritable();
    if (!IsLive(id)) throw Error(err::RecordDeleted, L"Record is deleted.");
    Pager::Batch batch(*db_.pager_);
    Staging::Delete(*this, batch, id);
    Staging::Commit(*this, batch);
    CacheDeleted(id);
}

Table::RowId Table::Replace(RowId id, const std::vector<Value>& values) {
    CheckWritable();
    if (!IsLive(id)) throw Error(err::RecordDeleted, L"Record is deleted.");
    EnsureRows();
    std::vector<std::uint8_t> bytes = EncodeRow(values);
    // One batch: a failure anywhere rolls back both halves.  The new row goes
    // on the old one's page when it fits, so one page write makes the whole
    // change visible: even a device that refuses the rollback's writes then
    // leaves the old row or the new one, never both.
    Pager::Batch batch(*db_.pager_);
    PlacedRow placed = Staging::Append(*this, batch, bytes, rows_[id].where.page);
    Staging::Delete(*this, batch, id);
    Staging::Commit(*this, batch);
    CacheDeleted(id);
    return CacheAppended(placed, bytes);
}

}  // namespace jet
