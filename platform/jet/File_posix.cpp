// The file layer on POSIX systems: flock() gives the exclusive open.  flock
// locks belong to the open file description, so a second open of the same
// file in this process conflicts just as one in another process does.
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/jet/Jet.h"

namespace jet {
namespace {

class PosixFile : public File {
public:
    PosixFile(int fd, std::wstring name) : fd_(fd), name_(std::move(name)) {}
    ~PosixFile() override { ::close(fd_); }

    std::uint64_t Size() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) Fail(errno);
        return std::uint64_t(st.st_size);
    }
    void Read(std::uint64_t offset, void* buffer, std::size_t n) override {
        auto* p = static_cast<char*>(buffer);
        while (n > 0) {
            ssize_t got = ::pread(fd_, p, n, off_t(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) Fail(got < 0 ? errno : EIO);
            p += got;
            n -= std::size_t(got);
            offset += std::uint64_t(got);
        }
    }
    void Write(std::uint64_t offset, const void* buffer, std::size_t n) override {
        auto* p = static_cast<const char*>(buffer);
        while (n > 0) {
            ssize_t put = ::pwrite(fd_, p, n, off_t(offset));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) Fail(put < 0 ? errno : ENOSPC);
            p += put;
            n -= std::size_t(put);
            offset += std::uint64_t(put);
        }
    }
    void Truncate(std::uint64_t size) override {
        if (::ftruncate(fd_, off_t(size)) != 0) Fail(errno);
    }
    void Flush() override {
        if (::fsync(fd_) != 0 && errno != EINVAL) Fail(errno);
    }
    const std::wstring& Name() const override { return name_; }

private:
    [[noreturn]] static void Fail(int e) {
        if (e == ENOSPC || e == EDQUOT || e == EFBIG) throw Error(err::DiskFull, L"Not enough space on disk.");
        throw Error(err::DiskError, L"Disk or network error.");
    }
    int fd_;
    std::wstring name_;
};

}  // namespace

std::unique_ptr<File> OpenFile(const std::wstring& path, FileAccess access, bool exclusive) {
    std::string native = ToUtf8(path);
    int flags = O_CLOEXEC;
    switch (access) {
    case FileAccess::ReadOnly: flags |= O_RDONLY; break;
    case FileAccess::ReadWrite: flags |= O_RDWR; break;
    case FileAccess::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    }
    int fd = ::open(native.c_str(), flags, 0666);
    if (fd < 0) {
        int e = errno;
        if (e == ENOENT || e == ENOTDIR)
            throw Error(err::FileNotFound, L"Could not find file '" + path + L"'.");
        if (e == EEXIST) throw Error(err::DatabaseExists, L"Database already exists.");
        if (e == EACCES || e == EPERM || e == EROFS || e == EISDIR)
            throw Error(err::NoPermission,
                        L"The Microsoft Jet database engine cannot open the file '" + path +
                            L"'.  It is already opened exclusively by another user, or you need "
                            L"permission to view its data.");
        throw Error(err::DiskError, L"Disk or network error.");
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Error(err::NoPermission, L"The Microsoft Jet database engine cannot open the file '" +
                                           path + L"'.  It is not a file.");
    }
    bool lockAll = exclusive || access != FileAccess::ReadOnly;
    if (::flock(fd, (lockAll ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        ::close(fd);
        throw Error(err::FileInUse, L"Could not use '" + path + L"'; file already in use.");
    }
    return std::make_unique<PosixFile>(fd, path);
}

bool RenameNoReplace(const std::wstring& from, const std::wstring& to) {
    std::string source = ToUtf8(from), target = ToUtf8(to);
    // link() refuses a name that is taken, where rename() would replace it.
    if (::link(source.c_str(), target.c_str()) != 0 || ::unlink(source.c_str()) != 0) {
        if (errno == EEXIST) return false;
        if (errno == EACCES || errno == EPERM || errno == EROFS)
            throw Error(err::NoPermission, L"Cannot rename '" + from + L"' to '" + to + L"'.");
        throw Error(err::DiskError, L"Disk or network error.");
    }
    return true;
}

}  // namespace jet
