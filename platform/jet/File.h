#pragma once
// The engine's only contact with the operating system: a file read and
// written at page offsets, locked against other opens for as long as it is
// held.  Portable interface; one implementation per platform (File_win.cpp,
// File_posix.cpp), plus an in-memory file for the fuzzer and tests.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace jet {

class File {
public:
    virtual ~File() = default;
    virtual std::uint64_t Size() = 0;
    // Reads exactly n bytes or throws (a short file is corruption, not a partial read).
    virtual void Read(std::uint64_t offset, void* buffer, std::size_t n) = 0;
    // Writes all n bytes or throws Error 3026 (disk full) / 3043 (other failure).
    virtual void Write(std::uint64_t offset, const void* buffer, std::size_t n) = 0;
    virtual void Truncate(std::uint64_t size) = 0;
    virtual void Flush() = 0;
    // Name used in error texts.
    virtual const std::wstring& Name() const = 0;
};

enum class FileAccess {
    ReadOnly,   // the file must exist
    ReadWrite,  // the file must exist
    CreateNew,  // read-write; fails with 3204 when the file exists
};

// Locking: `exclusive` or any write access locks the file against every other
// open (this process or another); a shared read-only open coexists with other
// shared read-only opens only.  The lock lasts until the File is destroyed.
// Errors: 3024 not found, 3045 in use, 3051 no permission, 3204 exists, 3043 other.
std::unique_ptr<File> OpenFile(const std::wstring& path, FileAccess access, bool exclusive);

// Renames `from` to `to` (same folder) only where nothing is at `to`, even
// something that came a moment ago: then false, and `from` is left as it was
// (std::filesystem::rename would replace it).  Other failures throw 3051 (no
// permission) or 3043.
bool RenameNoReplace(const std::wstring& from, const std::wstring& to);

#ifdef _WIN32
// Takes over a Windows file handle opened with read access (and write access
// unless the database is opened read-only); the File closes it.  For a file
// the caller holds against every other open.
std::unique_ptr<File> AdoptFile(void* handle, std::wstring name);
#endif

// A file held in memory: the fuzzer's input, and the tests' way to inject faults.
class MemoryFile : public File {
public:
    explicit MemoryFile(std::vector<std::uint8_t> bytes = {}, std::wstring name = L"(memory)")
        : bytes_(std::move(bytes)), name_(std::move(name)) {}
    std::uint64_t Size() override { return bytes_.size(); }
    void Read(std::uint64_t offset, void* buffer, std::size_t n) override;
    void Write(std::uint64_t offset, const void* buffer, std::size_t n) override;
    void Truncate(std::uint64_t size) override;
    void Flush() override {}
    const std::wstring& Name() const override { return name_; }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::wstring name_;
};

// UTF-16 (one unit per wchar_t, whatever wchar_t's width) to UTF-8 and back,
// for file names on POSIX and for the tests' comparisons with mdbtools.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& bytes);

}  // namespace jet
