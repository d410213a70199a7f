// The file layer on Windows: the share mode of CreateFileW gives the
// exclusive open, across processes and within this one.
#include <windows.h>

#include "platform/jet/Jet.h"

namespace jet {
namespace {

[[noreturn]] void Fail(DWORD e) {
    if (e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL)
        throw Error(err::DiskFull, L"Not enough space on disk.");
    throw Error(err::DiskError, L"Disk or network error.");
}

class WinFile : public File {
public:
    WinFile(HANDLE h, std::wstring name) : h_(h), name_(std::move(name)) {}
    ~WinFile() override { CloseHandle(h_); }

    std::uint64_t Size() override {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(h_, &size)) Fail(GetLastError());
        return std::uint64_t(size.QuadPart);
    }
    void Read(std::uint64_t offset, void* buffer, std::size_t n) override {
        auto* p = static_cast<char*>(buffer);
        while (n > 0) {
            OVERLAPPED at{};
            at.Offset = DWORD(offset);
            at.OffsetHigh = DWORD(offset >> 32);
            DWORD got = 0;
            if (!ReadFile(h_, p, DWORD(n), &got, &at)) Fail(GetLastError());
            if (got == 0) Fail(ERROR_HANDLE_EOF);
            p += got;
            n -= got;
            offset += got;
        }
    }
    void Write(std::uint64_t offset, const void* buffer, std::size_t n) override {
        auto* p = static_cast<const char*>(buffer);
        while (n > 0) {
            OVERLAPPED at{};
            at.Offset = DWORD(offset);
            at.OffsetHigh = DWORD(offset >> 32);
            DWORD put = 0;
            if (!WriteFile(h_, p, DWORD(n), &put, &at)) Fail(GetLastError());
            if (put == 0) Fail(ERROR_DISK_FULL);
            p += put;
            n -= put;
            offset += put;
        }
    }
    void Truncate(std::uint64_t size) override {
        LARGE_INTEGER at;
        at.QuadPart = LONGLONG(size);
        if (!SetFilePointerEx(h_, at, nullptr, FILE_BEGIN) || !SetEndOfFile(h_)) Fail(GetLastError());
    }
    void Flush() override {
        if (!FlushFileBuffers(h_)) Fail(GetLastError());
    }
    const std::wstring& Name() const override { return name_; }

private:
    HANDLE h_;
    std::wstring name_;
};

}  // namespace

std::unique_ptr<File> AdoptFile(void* handle, std::wstring name) {
    return std::make_unique<WinFile>(static_cast<HANDLE>(handle), std::move(name));
}

std::unique_ptr<File> OpenFile(const std::wstring& path, FileAccess access, bool exclusive) {
    DWORD rights = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    if (access != FileAccess::ReadOnly) rights |= GENERIC_WRITE;
    if (access == FileAccess::CreateNew) disposition = CREATE_NEW;
    // Writers and exclusive opens share with nobody; shared readers only with readers.
    DWORD share = (exclusive || access != FileAccess::ReadOnly) ? 0 : FILE_SHARE_READ;
    HANDLE h = CreateFileW(path.c_str(), rights, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        switch (e) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            throw Error(err::FileNotFound, L"Could not find file '" + path + L"'.");
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            throw Error(err::FileInUse, L"Could not use '" + path + L"'; file already in use.");
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            throw Error(err::DatabaseExists, L"Database already exists.");
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            throw Error(err::NoPermission,
                        L"The Microsoft Jet database engine cannot open the file '" + path +
                            L"'.  It is already opened exclusively by another user, or you need "
                            L"permission to view its data.");
        default:
            throw Error(err::DiskError, L"Disk or network error.");
        }
    }
    return std::make_unique<WinFile>(h, path);
}

bool RenameNoReplace(const std::wstring& from, const std::wstring& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move refuses a name that is taken.
    if (MoveFileExW(from.c_str(), to.c_str(), 0)) return true;
    DWORD e = GetLastError();
    if (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS) return false;
    if (e == ERROR_ACCESS_DENIED || e == ERROR_WRITE_PROTECT)
        throw Error(err::NoPermission, L"Cannot rename '" + from + L"' to '" + to + L"'.");
    throw Error(err::DiskError, L"Disk or network error.");
}

}  // namespace jet
