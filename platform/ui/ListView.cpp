#include "platform/ui/ListView.h"

#include <algorithm>

#include "platform/vb/Runtime.h"
#include "platform/win/Handle.h"

namespace ui {

// ---------------------------------------------------------------- ImageList

ImageList::ImageList(int cx, int cy) {
    list_ = ImageList_Create(cx, cy, ILC_COLOR32 | ILC_MASK, 16, 16);
}

ImageList::~ImageList() {
    if (list_) ImageList_Destroy(list_);
}

bool ImageList::Add(const std::wstring& key, HICON icon) {
    if (Exists(key) || !icon) return false;
    int i = ImageList_AddIcon(list_, icon);
    if (i < 0) return false;
    index_[key] = i;
    return true;
}

int ImageList::IndexOf(const std::wstring& key) const {
    auto it = index_.find(key);
    return it == index_.end() ? -1 : it->second;
}

HICON ImageList::ExtractIcon(int index) const { return ImageList_GetIcon(list_, index, ILD_NORMAL); }

// ---------------------------------------------------------------- ListView

ListView::~ListView() = default;  // the control dies with its parent

void ListView::Create(HWND parent, int id, const RECT& r, DWORD extraStyle) {
    id_ = id;
    hwnd_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHAREIMAGELISTS |
                                LVS_SHOWSELALWAYS | extraStyle,
                            r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            GetModuleHandleW(nullptr), nullptr);
    ListView_SetExtendedListViewStyle(hwnd_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_LABELTIP);
}

void ListView::AddColumn(const std::wstring& header, long widthTwips, Align align, int subItem) {
    int position = static_cast<int>(columns_.size());
    columns_.push_back({header, widthTwips, align, L"", position == 0 || subItem < 0 ? position : subItem});
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    c.fmt = align == Align::Left ? LVCFMT_LEFT : align == Align::Right ? LVCFMT_RIGHT : LVCFMT_CENTER;
    c.cx = vb::TwipsToPixelsX(widthTwips);
    c.pszText = const_cast<wchar_t*>(header.c_str());
    c.iSubItem = static_cast<int>(columns_.size()) - 1;
    ListView_InsertColumn(hwnd_, c.iSubItem, &c);
}

long ListView::ColumnWidth(int column) const {
    if (column < 1 || column > ColumnCount()) return 0;
    return vb::PixelsToTwipsX(ListView_GetColumnWidth(hwnd_, column - 1));
}

void ListView::SetColumnWidth(int column, long twips) {
    if (column < 1 || column > ColumnCount()) return;
    ListView_SetColumnWidth(hwnd_, column - 1, twips <= 0 ? 0 : vb::TwipsToPixelsX(twips));
}

ListView::Row* ListView::RowAt(int index) {
    if (index < 1 || index > static_cast<int>(order_.size())) return nullptr;
    auto it = rows_.find(order_[static_cast<size_t>(index - 1)]);
    return it == rows_.end() ? nullptr : it->second.get();
}

const ListView::Row* ListView::RowAt(int index) const {
    return const_cast<ListView*>(this)->RowAt(index);
}

int ListView::PositionOf(LPARAM id) const {
    if (positionsDirty_) {
        position_.clear();
        for (size_t i = 0; i < order_.size(); ++i) position_[order_[i]] = static_cast<int>(i) + 1;
        positionsDirty_ = false;
    }
    auto it = position_.find(id);
    return it == position_.end() ? 0 : it->second;
}

void ListView::ReadOrderFromControl() {
    int n = ListView_GetItemCount(hwnd_);
    order_.assign(static_cast<size_t>(n), 0);
    for (int i = 0; i < n; ++i) {
        LVITEMW item{};
        item.mask = LVIF_PARAM;
        item.iItem = i;
        ListView_GetItem(hwnd_, &item);
        order_[static_cast<size_t>(i)] = item.lParam;
    }
    positionsDirty_ = true;
}

int ListView::Add(const std::wstring& key, const std::wstring& text) {
    if (!key.empty() && byKey_.count(key)) return 0;
    FreezeForRows();
    auto row = std::make_unique<Row>();
    row->key = key;
    row->cells.assign(static_cast<size_t>(std::max(1, ColumnCount())), L"");
    row->cells[0] = text;
    row->id = nextId_++;
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
    item.iItem = static_cast<int>(order_.size());
    item.pszText = const_cast<wchar_t*>(text.c_str());
    item.lParam = row->id;
    item.iImage = I_IMAGENONE;
    int pos = ListView_InsertItem(hwnd_, &item);
    if (pos < 0) return 0;
    LPARAM id = row->id;
    if (!key.empty()) byKey_[key] = id;
    rows_[id] = std::move(row);
    order_.insert(order_.begin() + pos, id);
    positionsDirty_ = true;
    return pos + 1;
}

void ListView::Remove(int index) {
    Row* row = RowAt(index);
    if (!row) return;
    FreezeForRows();
    ListView_DeleteItem(hwnd_, index - 1);
    if (!row->key.empty()) byKey_.erase(row->key);
    LPARAM id = row->id;
    order_.erase(order_.begin() + (index - 1));
    rows_.erase(id);
    positionsDirty_ = true;
}

void ListView::Clear() {
    FreezeForRows();
    ListView_DeleteAllItems(hwnd_);
    rows_.clear();
    byKey_.clear();
    order_.clear();
    positionsDirty_ = true;
}

int ListView::FindKey(const std::wstring& key) const {
    auto it = byKey_.find(key);
    return it == byKey_.end() ? 0 : PositionOf(it->second);
}

std::wstring ListView::Key(int index) const {
    const Row* row = RowAt(index);
    return row ? row->key : std::wstring();
}

std::wstring ListView::SubItem(int index, int n) const {
    const Row* row = RowAt(index);
    if (!row || n < 0 || n >= static_cast<int>(row->cells.size())) return {};
    return row->cells[static_cast<size_t>(n)];
}

void ListView::SetSubItem(int index, int n, const std::wstring& text) {
    Row* row = RowAt(index);
    if (!row || n < 0 || n >= std::max(1, ColumnCount())) return;
    if (row->cells.size() <= static_cast<size_t>(n)) row->cells.resize(static_cast<size_t>(n) + 1);
    if (row->cells[static_cast<size_t>(n)] == text) return;  // unchanged cells are not rewritten
    row->cells[static_cast<size_t>(n)] = text;
    wchar_t* cell = const_cast<wchar_t*>(row->cells[static_cast<size_t>(n)].c_str());
    for (size_t c = 0; c < columns_.size(); ++c)
        if (columns_[c].subItem == n) ListView_SetItemText(hwnd_, index - 1, static_cast<int>(c), cell);
    if (n == 0 && columns_.empty()) ListView_SetItemText(hwnd_, index - 1, 0, cell);
}

unsigned long ListView::ForeColor(int index) const {
    const Row* row = RowAt(index);
    return row ? row->foreColor : 0;
}

void ListView::SetForeColor(int index, unsigned long oleColour) {
    Row* row = RowAt(index);
    if (!row || row->foreColor == oleColour) return;
    row->foreColor = oleColour;
    ListView_RedrawItems(hwnd_, index - 1, index - 1);
}

void ListView::SetSmallIcon(int index, int imageIndex) {
    Row* row = RowAt(index);
    if (!row || row->image == imageIndex) return;
    row->image = imageIndex;
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = index - 1;
    item.iImage = imageIndex < 0 ? I_IMAGENONE : imageIndex;
    ListView_SetItem(hwnd_, &item);
}

int ListView::SmallIcon(int index) const {
    const Row* row = RowAt(index);
    return row ? row->image : -1;
}

void ListView::SetImageList(const ImageList& images) {
    ListView_SetImageList(hwnd_, images.Handle(), LVSIL_SMALL);
}

int ListView::SelectedIndex() const {
    int focused = ListView_GetNextItem(hwnd_, -1, LVNI_FOCUSED | LVNI_SELECTED);
    if (focused < 0) focused = ListView_GetNextItem(hwnd_, -1, LVNI_SELECTED);
    return focused < 0 ? 0 : focused + 1;
}

bool ListView::Selected(int index) const {
    return index >= 1 && index <= Count() &&
           (ListView_GetItemState(hwnd_, index - 1, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

void ListView::Select(int index, bool only) {
    if (only) ListView_SetItemState(hwnd_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (index < 1 || index > Count()) return;
    ListView_SetItemState(hwnd_, index - 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(hwnd_, index - 1, FALSE);
}

std::vector<int> ListView::SelectedIndices() const {
    std::vector<int> out;
    for (int i = ListView_GetNextItem(hwnd_, -1, LVNI_SELECTED); i >= 0;
         i = ListView_GetNextItem(hwnd_, i, LVNI_SELECTED))
        out.push_back(i + 1);
    return out;
}

void ListView::SetSorted(bool on) {
    sorted_ = on;
    if (on) Sort();
}

int CALLBACK ListView::Compare(LPARAM a, LPARAM b, LPARAM self) {
    auto* lv = reinterpret_cast<ListView*>(self);
    auto ra = lv->rows_.find(a), rb = lv->rows_.find(b);
    if (ra == lv->rows_.end() || rb == lv->rows_.end()) return 0;
    size_t k = static_cast<size_t>(std::max(0, lv->SortKey));
    const std::wstring empty;
    const std::wstring& ta = k < ra->second->cells.size() ? ra->second->cells[k] : empty;
    const std::wstring& tb = k < rb->second->cells.size() ? rb->second->cells[k] : empty;
    int c = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, ta.c_str(), static_cast<int>(ta.size()),
                           tb.c_str(), static_cast<int>(tb.size())) - CSTR_EQUAL;
    return lv->SortOrder == 1 ? -c : c;
}

void ListView::Sort() {
    FreezeForRows();
    ListView_SortItems(hwnd_, Compare, reinterpret_cast<LPARAM>(this));
    ReadOrderFromControl();
}

void ListView::BeginUpdate() { ++updateDepth_; }

void ListView::EndUpdate() {
    if (updateDepth_ > 0 && --updateDepth_ == 0 && frozen_) {
        frozen_ = false;
        SendMessageW(hwnd_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(hwnd_, nullptr, FALSE);
    }
}

void ListView::FreezeForRows() {
    // Only rows that come, go or move need the control frozen; a changed cell
    // repaints just itself at the next paint.  Switching the redraw costs a
    // whole repaint, so a batch that changes no row leaves it alone.
    if (updateDepth_ > 0 && !frozen_) {
        SendMessageW(hwnd_, WM_SETREDRAW, FALSE, 0);
        frozen_ = true;
    }
}

bool ListView::HandleNotify(NMHDR* hdr, LRESULT* result) {
    if (hdr->hwndFrom != hwnd_ || hdr->code != NM_CUSTOMDRAW) return false;
    auto* cd = reinterpret_cast<NMLVCUSTOMDRAW*>(hdr);
    switch (cd->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        *result = CDRF_NOTIFYITEMDRAW;
        return true;
    case CDDS_ITEMPREPAINT: {
        auto it = rows_.find(static_cast<LPARAM>(cd->nmcd.lItemlParam));
        if (it != rows_.end()) cd->clrText = vb::TranslateColor(it->second->foreColor);
        *result = CDRF_DODEFAULT;
        return true;
    }
    default:
        return false;
    }
}

}  // namespace ui
