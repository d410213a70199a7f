#include "platform/jet/Pager.h"

#include <algorithm>

namespace jet {

void Rc4(const std::uint8_t* key, std::size_t keyLength, std::uint8_t* data, std::size_t n) {
    std::uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = std::uint8_t(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % keyLength]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    for (std::size_t k = 0, i = 0, j = 0; k < n; ++k) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        data[k] ^= s[(s[i] + s[j]) & 0xFF];
    }
}

void ThrowCorrupt(const std::wstring& name) {
    throw Error(err::CorruptFile, L"Cannot open database '" + name +
                                      L"'.  It may not be a database that your application "
                                      L"recognizes, or the file may be corrupt.");
}

bool RowExtent(const std::uint8_t* page, std::size_t slot, std::size_t& start, std::size_t& end,
               std::uint16_t& flags) {
    if (page[0] != 0x01) return false;
    std::size_t count = Get16(page + 12);
    std::size_t tableEnd = kDataPageHeader + 2 * count;
    if (slot >= count || tableEnd > kPageSize) return false;
    std::uint16_t raw = Get16(page + kDataPageHeader + 2 * slot);
    flags = raw & ~kSlotOffsetMask;
    start = raw & kSlotOffsetMask;
    end = slot == 0 ? kPageSize : std::size_t(Get16(page + kDataPageHeader + 2 * (slot - 1)) & kSlotOffsetMask);
    return start >= tableEnd && start <= end && end <= kPageSize;
}

// ---- pager -------------------------------------------------------------------

Pager::Pager(std::unique_ptr<File> file) : file_(std::move(file)) {
    std::uint64_t size = file_->Size();
    // Past 2^32 pages the pointers cannot reach; such a file is not Jet 4.
    if (size / kPageSize > 0xFFFFFFu) ThrowCorrupt(file_->Name());
    pageCount_ = std::uint32_t(size / kPageSize);
    cache_.resize(pageCount_);
}

const std::uint8_t* Pager::Page(std::uint32_t n) {
    if (n >= pageCount_) ThrowCorrupt(file_->Name());
    if (!cache_[n]) {
        // Tables are read page after page: fetch the pages that follow too,
        // in one call, up to the next one already held.
        constexpr std::uint32_t kReadAhead = 32;
        std::uint32_t count = 1;
        while (count < kReadAhead && n + count < pageCount_ && !cache_[n + count]) ++count;
        std::vector<std::uint8_t> run(std::size_t(count) * kPageSize);
        file_->Read(std::uint64_t(n) * kPageSize, run.data(), run.size());
        for (std::uint32_t i = 0; i < count; ++i) {
            auto page = std::make_unique<std::uint8_t[]>(kPageSize);
            std::memcpy(page.get(), run.data() + std::size_t(i) * kPageSize, kPageSize);
            if (key_ != 0 && n + i != 0) {
                std::uint8_t k[4];
                Put32(k, key_ ^ (n + i));
                Rc4(k, 4, page.get(), kPageSize);
            }
            cache_[n + i] = std::move(page);
        }
    }
    return cache_[n].get();
}

void Pager::WritePage(std::uint32_t n, const std::uint8_t* bytes) {
    if (key_ != 0 && n != 0) {
        std::uint8_t coded[kPageSize];
        std::memcpy(coded, bytes, kPageSize);
        std::uint8_t k[4];
        Put32(k, key_ ^ n);
        Rc4(k, 4, coded, kPageSize);
        file_->Write(std::uint64_t(n) * kPageSize, coded, kPageSize);
    } else {
        file_->Write(std::uint64_t(n) * kPageSize, bytes, kPageSize);
    }
}

Pager::Batch::Change* Pager::Batch::Find(std::uint32_t n) {
    for (auto& c : changes_)
        if (c.page == n) return &c;
    return nullptr;
}

const std::uint8_t* Pager::Batch::Read(std::uint32_t n) {
    if (Change* c = Find(n)) return c->bytes.data();
    return pager_.Page(n);
}

std::uint8_t* Pager::Batch::Modify(std::uint32_t n) {
    if (Change* c = Find(n)) return c->bytes.data();
    const std::uint8_t* current = pager_.Page(n);
    changes_.push_back({n, std::vector<std::uint8_t>(current, current + kPageSize)});
    return changes_.back().bytes.data();
}

std::uint32_t Pager::Batch::Allocate() {
    std::uint32_t n = oldCount_ + allocated_;
    if (n > 0xFFFFFEu) throw Error(err::DiskFull, L"Not enough space on disk.");
    ++allocated_;
    changes_.push_back({n, std::vector<std::uint8_t>(kPageSize, 0)});
    return n;
}

void Pager::Batch::Keep(bool newPagesOnly) {
    if (allocated_ > 0) {
        pager_.pageCount_ = oldCount_ + allocated_;
        pager_.cache_.resize(pager_.pageCount_);
    }
    for (const auto& c : changes_) {
        if (newPagesOnly && c.page < oldCount_) continue;
        auto page = std::make_unique<std::uint8_t[]>(kPageSize);
        std::memcpy(page.get(), c.bytes.data(), kPageSize);
        pager_.cache_[c.page] = std::move(page);
    }
}

void Pager::Batch::Commit() {
    std::vector<const Change*> order;
    for (const auto& c : changes_)
        if (c.page >= oldCount_) order.push_back(&c);
    std::sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->page < b->page; });
    for (const auto& c : changes_)
        if (c.page < oldCount_) order.push_back(&c);

    std::size_t written = 0;
    try {
        for (const Change* c : order) {
            pager_.WritePage(c->page, c->bytes.data());
            ++written;
        }
    } catch (...) {
        // Put back what was overwritten, the page whose write failed included:
        // a write may land part of its bytes before it fails.  Nothing refers
        // to the new pages then, and the file is cut back to its old length.
        // New pages are written first, so when an existing page was touched
        // they are all whole on disk: if one cannot be put back it may name
        // them, and they stay.
        bool restored = true;
        for (std::size_t i = 0; i <= written && i < order.size(); ++i) {
            const Change* c = order[i];
            if (c->page >= oldCount_) continue;
            try {
                pager_.WritePage(c->page, pager_.cache_[c->page].get());
            } catch (...) {
                restored = false;
                // What the disk holds is no longer our copy: read it again.
                pager_.cache_[c->page].reset();
            }
        }
        partlyWritten_ = !restored;
        if (allocated_ > 0 && restored) {
            try {
                pager_.file_->Truncate(std::uint64_t(oldCount_) * kPageSize);
            } catch (...) {
            }
        } else if (allocated_ > 0) {
            Keep(true);  // the kept pages are the file's now: never handed out again
        }
        throw;
    }
    Keep(false);
    changes_.clear();
    allocated_ = 0;
    oldCount_ = pager_.pageCount_;
}

// ---- text --------------------------------------------------------------------

std::wstring DecodeText(const std::uint8_t* p, std::size_t n) {
    std::wstring out;
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        // Compressed: one byte per character; a zero byte switches between
        // the one-byte and the two-byte mode.
        bool compressed = true;
        std::size_t i = 2;
        out.reserve(n - 2);
        while (i < n) {
            if (p[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                out.push_back(wchar_t(p[i++]));
            } else if (i + 1 < n) {
                out.push_back(wchar_t(Get16(p + i)));
                i += 2;
            } else {
                break;
            }
        }
        return out;
    }
    // A U+0000 ends the text, as it does for every reader of these files.
    out.reserve(n / 2);
    for (std::size_t i = 0; i + 1 < n; i += 2) {
        wchar_t c = wchar_t(Get16(p + i));
        if (c == 0) break;
        out.push_back(c);
    }
    return out;
}

std::vector<std::uint8_t> EncodeText(const std::wstring& text, bool compressible) {
    std::vector<std::uint8_t> out;
    bool narrow = compressible && std::all_of(text.begin(), text.end(), [](wchar_t c) {
        return c >= 0x01 && c <= 0xFF;
    });
    if (narrow) {
        out.reserve(text.size() + 2);
        out.push_back(0xFF);
        out.push_back(0xFE);
        for (wchar_t c : text) out.push_back(std::uint8_t(c));
        return out;
    }
    // A plain text that begins with U+FEFF would read as compressed.
    if (!text.empty() && (text[0] & 0xFFFF) == 0xFEFF)
        throw Error(err::ConversionError,
                    L"Data type conversion error.  A text cannot begin with U+FEFF.");
    out.reserve(text.size() * 2);
    for (wchar_t c : text) {
        out.push_back(std::uint8_t(c));
        out.push_back(std::uint8_t(unsigned(c) >> 8));
    }
    return out;
}

std::wstring FoldCase(const std::wstring& text) {
    std::wstring out = text;
    for (auto& ch : out) {
        unsigned c = unsigned(ch) & 0xFFFF;
        if (c < 0x80) {
            if (c >= 'A' && c <= 'Z') c += 32;
        } else if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
                   (c >= 0x410 && c <= 0x42F)) {
            c += 0x20;  // Latin-1, Greek, Cyrillic capitals
        } else if (c >= 0x400 && c <= 0x40F) {
            c += 0x50;
        } else if (c >= 0xFF21 && c <= 0xFF3A) {
            c += 0x20;  // full-width Latin
        } else if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177) ||
                   (c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF)) {
            c |= 1;  // Latin Extended-A and Cyrillic pairs: capital even, small odd
        } else if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
            if (c & 1) c += 1;  // pairs with the capital odd
        }
        ch = wchar_t(c);
    }
    return out;
}

// ---- UTF-8 -------------------------------------------------------------------

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = std::uint32_t(text[i]) & 0xFFFF;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            std::uint32_t d = std::uint32_t(text[i + 1]) & 0xFFFF;
            if (d >= 0xDC00 && d <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
                ++i;
            }
        }
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | c >> 6));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | c >> 12));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xF0 | c >> 18));
            out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::wstring FromUtf8(const std::string& bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        std::uint32_t c;
        std::size_t extra;
        if (b < 0x80) { c = b; extra = 0; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; extra = 1; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; extra = 2; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; extra = 3; }
        else { out.push_back(wchar_t(0xFFFD)); ++i; continue; }
        if (i + extra >= bytes.size() && extra > 0) {  // cut short
            out.push_back(wchar_t(0xFFFD));
            break;
        }
        bool ok = true;
        for (std::size_t k = 1; k <= extra; ++k) {
            unsigned char t = static_cast<unsigned char>(bytes[i + k]);
            if ((t & 0xC0) != 0x80) { ok = false; break; }
            c = c << 6 | (t & 0x3F);
        }
        if (!ok) { out.push_back(wchar_t(0xFFFD)); ++i; continue; }
        i += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(wchar_t(0xD800 + (c >> 10)));
            out.push_back(wchar_t(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(wchar_t(c));
        }
    }
    return out;
}

// ---- memory file -----------------------------------------------------------------

void MemoryFile::Read(std::uint64_t offset, void* buffer, std::size_t n) {
    if (offset > bytes_.size() || n > bytes_.size() - offset)
        throw Error(err::DiskError, L"Disk or network error.");
    std::memcpy(buffer, bytes_.data() + offset, n);
}

void MemoryFile::Write(std::uint64_t offset, const void* buffer, std::size_t n) {
    if (offset + n > bytes_.size()) bytes_.resize(offset + n);
    std::memcpy(bytes_.data() + offset, buffer, n);
}

void MemoryFile::Truncate(std::uint64_t size) { bytes_.resize(size); }

}  // namespace jet
