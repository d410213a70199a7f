#pragma once
// A report-style list view whose rows live in the program: the control only
// shows them.  Rows are keyed ("PID:1234"), indexed from 1 in display order
// like the list view the windows were designed with, carry texts for every
// column, a text colour (an OLE colour, system colours included) and a small
// icon.  Cells are written to the control only when their text changes, and
// sorting compares the stored texts (LVM_SORTITEMS), never the control's.
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace ui {

class ImageList {
public:
    ImageList(int cx = 16, int cy = 16);
    ~ImageList();
    ImageList(const ImageList&) = delete;
    ImageList& operator=(const ImageList&) = delete;

    // Adds a copy of the icon under key; false (and nothing added) when the key exists.
    bool Add(const std::wstring& key, HICON icon);
    bool Exists(const std::wstring& key) const { return index_.count(key) != 0; }
    int IndexOf(const std::wstring& key) const;  // -1 when missing
    int Count() const { return static_cast<int>(index_.size()); }
    HIMAGELIST Handle() const { return list_; }
    HICON ExtractIcon(int index) const;  // caller destroys

private:
    HIMAGELIST list_ = nullptr;
    std::unordered_map<std::wstring, int> index_;
};

enum class Align { Left, Right, Center };

struct Column {
    std::wstring header;
    long widthTwips = 0;
    Align align = Align::Left;
    std::wstring tag;  // a hidden column keeps its former width here
    int subItem = 0;   // which cell the column shows: 0 the row text, n SubItems(n)
};

class ListView {
public:
    ListView() = default;
    ~ListView();
    ListView(const ListView&) = delete;
    ListView& operator=(const ListView&) = delete;

    // Creates the control as a child of parent; extra styles are added to
    // report view, shared image lists and show-selection-always.
    void Create(HWND parent, int id, const RECT& pixels, DWORD extraStyle = 0);
    HWND Hwnd() const { return hwnd_; }
    int Id() const { return id_; }

    // ---- columns (index from 1) ----
    // subItem binds the column to the cell it shows (0 the row text, n
    // SubItems(n)); by default a column shows the cell of its own position.
    // The cell is written under the column that shows it, so the binding holds
    // even where the control ignores LVCF_SUBITEM.  The first column always
    // shows the row text.
    void AddColumn(const std::wstring& header, long widthTwips, Align align, int subItem = -1);
    int ColumnSubItem(int column) const { return columns_.at(column - 1).subItem; }
    int ColumnCount() const { return static_cast<int>(columns_.size()); }
    long ColumnWidth(int column) const;  // twips
    void SetColumnWidth(int column, long twips);
    std::wstring& ColumnTag(int column) { return columns_.at(column - 1).tag; }
    const std::wstring& ColumnHeader(int column) const { return columns_.at(column - 1).header; }

    // ---- rows: Index from 1 in display order; 0 means none ----
    int Count() const { return static_cast<int>(rows_.size()); }
    // Adds a row at the end (or at its sorted place while Sorted is on).  An
    // existing key is refused: returns 0.
    int Add(const std::wstring& key, const std::wstring& text);
    void Remove(int index);
    void Clear();
    int FindKey(const std::wstring& key) const;  // 0 when missing
    std::wstring Key(int index) const;
    std::wstring Text(int index) const { return SubItem(index, 0); }
    void SetText(int index, const std::wstring& text) { SetSubItem(index, 0, text); }
    // Sub-item n (1-based, like SubItems(n)); 0 is the row text.
    std::wstring SubItem(int index, int n) const;
    void SetSubItem(int index, int n, const std::wstring& text);
    unsigned long ForeColor(int index) const;
    void SetForeColor(int index, unsigned long oleColour);
    void SetSmallIcon(int index, int imageIndex);
    int SmallIcon(int index) const;
    void SetImageList(const ImageList& images);

    // ---- selection ----
    int SelectedIndex() const;  // the focused/selected row ("SelectedItem"), 0 when none
    bool Selected(int index) const;
    void Select(int index, bool only = true);
    std::vector<int> SelectedIndices() const;

    // ---- sorting, over the stored texts ----
    int SortKey = 0;    // 0 text, k sub-item k
    int SortOrder = 0;  // 0 ascending, 1 descending
    bool Sorted() const { return sorted_; }
    void SetSorted(bool on);  // on: sorts now
    void Sort();

    // Batch updates: rows added, removed or moved inside a batch show at the
    // outermost EndUpdate, all at once; changed cells repaint as usual.
    void BeginUpdate();
    void EndUpdate();

    // The parent forwards WM_NOTIFY of this control here; returns true with
    // *result set when handled (custom draw of row colours).
    bool HandleNotify(NMHDR* hdr, LRESULT* result);

private:
    struct Row {
        std::wstring key;
        std::vector<std::wstring> cells;  // 0 = text, 1.. = sub-items
        unsigned long foreColor = 0x80000008;
        int image = -1;
        LPARAM id = 0;
    };
    Row* RowAt(int index);
    const Row* RowAt(int index) const;
    int PositionOf(LPARAM id) const;  // 1-based display position, 0 when missing
    void ReadOrderFromControl();
    static int CALLBACK Compare(LPARAM a, LPARAM b, LPARAM self);

    HWND hwnd_ = nullptr;
    int id_ = 0;
    std::vector<Column> columns_;
    std::unordered_map<LPARAM, std::unique_ptr<Row>> rows_;
    std::unordered_map<std::wstring, LPARAM> byKey_;
    std::vector<LPARAM> order_;  // display order, mirrors the control
    mutable std::unordered_map<LPARAM, int> position_;
    mutable bool positionsDirty_ = true;
    LPARAM nextId_ = 1;
    bool sorted_ = false;
    int updateDepth_ = 0;
    bool frozen_ = false;  // redraw switched off by this batch
    void FreezeForRows();
};

}  // namespace ui
