#pragma once
// Inside the engine: pages, byte helpers, RC4, and the write batch that
// makes each change all-or-nothing.  Not part of the engine's surface.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/jet/File.h"
#include "platform/jet/Jet.h"

namespace jet {

constexpr std::size_t kPageSize = 4096;
constexpr std::uint16_t kSlotDeleted = 0xC000;
constexpr std::uint16_t kSlotOverflow = 0x4000;  // body is a pointer to the real row
constexpr std::uint16_t kSlotTarget = 0x8000;    // target of an overflow pointer
constexpr std::uint16_t kSlotOffsetMask = 0x1FFF;
constexpr std::size_t kDataPageHeader = 14;      // bytes before the slot table
constexpr std::size_t kMaxRowsPerPage = 255;     // row numbers are one byte
constexpr std::size_t kUsageMapBitsPerPage = (kPageSize - 4) * 8;

inline std::uint16_t Get16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
inline std::uint32_t Get24(const std::uint8_t* p) { return p[0] | p[1] << 8 | std::uint32_t(p[2]) << 16; }
inline std::uint32_t Get32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
inline void Put16(std::uint8_t* p, std::uint32_t v) { p[0] = std::uint8_t(v); p[1] = std::uint8_t(v >> 8); }
inline void Put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v); p[1] = std::uint8_t(v >> 8); p[2] = std::uint8_t(v >> 16); p[3] = std::uint8_t(v >> 24);
}

// A page/row pointer as stored: one byte of row, three of page.
inline RowPointer SplitPointer(std::uint32_t v) { return {v >> 8, std::uint16_t(v & 0xFF)}; }
inline std::uint32_t JoinPointer(RowPointer p) { return p.page << 8 | p.slot; }

// The format's RC4; coding and decoding are the same call.
void Rc4(const std::uint8_t* key, std::size_t keyLength, std::uint8_t* data, std::size_t n);

[[noreturn]] void ThrowCorrupt(const std::wstring& name);

// Byte range [start, end) of row `slot` on a data page; false when the slot
// table does not describe a sane row.  `flags` receives the slot's flag bits.
bool RowExtent(const std::uint8_t* page, std::size_t slot, std::size_t& start, std::size_t& end,
               std::uint16_t& flags);

class Pager {
public:
    explicit Pager(std::unique_ptr<File> file);
    File& file() { return *file_; }
    std::uint32_t PageCount() const { return pageCount_; }
    // Pages past the header are coded with the database key; pages read
    // before the key was known are read again.
    void SetKey(std::uint32_t key) {
        key_ = key;
        for (std::size_t i = 1; i < cache_.size(); ++i) cache_[i].reset();
    }
    // The decoded page; throws 3049 for a page past the end of the file.
    const std::uint8_t* Page(std::uint32_t n);

    // A set of page changes written together.  Pages are changed in private
    // copies; Commit writes new pages first (they are referenced by nothing
    // yet), then the changed pages in the order they were first touched, so a
    // write that fails part-way leaves every earlier state readable.  On
    // failure the originals are restored as far as the file allows and the
    // error is raised; the file is cut back to its old length only when every
    // original was restored (otherwise a restored-in-vain page may name the
    // new pages, which then stay and belong to the file).
    class Batch {
    public:
        explicit Batch(Pager& pager) : pager_(pager), oldCount_(pager.pageCount_) {}
        const std::uint8_t* Read(std::uint32_t n);
        std::uint8_t* Modify(std::uint32_t n);
        std::uint32_t Allocate();  // a zeroed page at the end of the file
        void Commit();
        // After a Commit that threw: true when some page could not be put
        // back, so the file holds part of the batch (the pager's cache follows
        // the file; whatever the caller keeps of its own must be read again).
        bool PartlyWritten() const { return partlyWritten_; }

    private:
        struct Change {
            std::uint32_t page;
            std::vector<std::uint8_t> bytes;
        };
        Change* Find(std::uint32_t n);
        // The pager takes the batch's pages as the file's: all of them once
        // committed, only the new ones when a failed commit had to keep them.
        void Keep(bool newPagesOnly);
        Pager& pager_;
        std::uint32_t oldCount_;
        std::vector<Change> changes_;  // first-touch order
        std::uint32_t allocated_ = 0;
        bool partlyWritten_ = false;
    };

private:
    void WritePage(std::uint32_t n, const std::uint8_t* bytes);
    std::unique_ptr<File> file_;
    std::uint32_t pageCount_ = 0;
    std::uint32_t key_ = 0;
    std::vector<std::unique_ptr<std::uint8_t[]>> cache_;
};

// Text as Jet stores it (UTF-16LE, optionally with the FF FE compression).
std::wstring DecodeText(const std::uint8_t* p, std::size_t n);
// Encodes for a column; compresses when allowed and every character fits one byte.
std::vector<std::uint8_t> EncodeText(const std::wstring& text, bool compressible);

}  // namespace jet
