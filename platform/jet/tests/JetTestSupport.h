#pragma once
// Shared by the engine's tests: temporary folders, sample files, and a file
// that fails on command.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/jet/Jet.h"

namespace jettest {

// A fresh folder under the system's temporary folder, removed on destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path& path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return (path_ / name).wstring(); }

private:
    std::filesystem::path path_;
};

// The five Access-made samples, and a writable copy of one of them.
std::filesystem::path Sample(const std::wstring& name);
std::wstring CopySample(const std::wstring& name, const TempFolder& into);
extern const wchar_t* const kSamples[5];
// The password of a sample ("" when it has none).
std::wstring SamplePassword(const std::wstring& name);

std::vector<std::uint8_t> ReadAll(const std::wstring& path);
void WriteAll(const std::wstring& path, const std::vector<std::uint8_t>& bytes);

// Wraps a file and fails writes when told to: `failAfter` successful writes
// then every write fails (a full disk), or only that one write fails.  A
// failing write first lands its first `landBytes` bytes (a torn write).
// `goneAfterFault`: once a write failed, reads fail too (a drive pulled out).
class FaultyFile : public jet::File {
public:
    FaultyFile(std::unique_ptr<jet::File> inner, long failAfter, bool onlyOnce, long errorNumber = 3026,
               std::size_t landBytes = 0)
        : inner_(std::move(inner)), failAfter_(failAfter), onlyOnce_(onlyOnce), error_(errorNumber),
          landBytes_(landBytes) {}
    std::uint64_t Size() override { return inner_->Size(); }
    void Read(std::uint64_t offset, void* buffer, std::size_t n) override {
        if (failed && goneAfterFault) throw jet::Error(jet::err::DiskError, L"injected read failure");
        inner_->Read(offset, buffer, n);
    }
    void Write(std::uint64_t offset, const void* buffer, std::size_t n) override;
    void Truncate(std::uint64_t size) override;
    void Flush() override { inner_->Flush(); }
    const std::wstring& Name() const override { return inner_->Name(); }
    long writes = 0;
    bool failed = false;
    bool goneAfterFault = false;

private:
    bool ShouldFail();
    std::unique_ptr<jet::File> inner_;
    long failAfter_;
    bool onlyOnce_;
    long error_;
    std::size_t landBytes_;
};

// The error number a call raises (0 when it returns); E is the error type.
template <class E = jet::Error>
long ErrorOf(const std::function<void()>& call) {
    try {
        call();
        return 0;
    } catch (const E& e) {
        return e.Number();
    }
}

// Rows of three 255-character Chinese texts, two to a page: 1200 of them
// take the table past the 512 pages an inline usage map covers.  Row i's
// name starts with i in decimal.
std::wstring WideName(int i);
void AppendWideRows(jet::Table& table, int count);

// Text of every row of a table, in storage order ("\x01" marks Null).
std::vector<std::vector<std::wstring>> Dump(jet::Table& table);

}  // namespace jettest
