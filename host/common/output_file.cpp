#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "files.h"

namespace torvel {

namespace fs = std::filesystem;

namespace {

std::string error_text(int err) { return std::strerror(err); }

fs::path folder_of(const fs::path& p) { return p.parent_path().empty() ? fs::path(".") : p.parent_path(); }

// The standard stream (1 or 2) that `st` is, or -1. Such an output is written through the descriptor:
// opening its name again would start at offset 0, and renaming over it would leave the stream writing
// to a file that no longer has a name.
int standard_stream(const struct stat& st) {
    for (int fd : {1, 2}) {
        struct stat s {};
        if (::fstat(fd, &s) == 0 && s.st_dev == st.st_dev && s.st_ino == st.st_ino) return fd;
    }
    return -1;
}

}  // namespace

OutputFile::OutputFile(fs::path path, std::string shown, const RunFiles* files, std::string_view role)
    : path_(std::move(path)), shown_(std::move(shown)), files_(files), role_(role) {
    if (path_.empty()) fail("the file name is empty");
    refuse_clash();

    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0) {
        if (const int stream = standard_stream(st); stream >= 0) {
            fd_ = ::fcntl(stream, F_DUPFD_CLOEXEC, 3);
            if (fd_ < 0) fail("cannot use the standard stream: " + error_text(errno));
            target_ = path_;
            through_ = existed_ = true;
            return;
        }
    }

    // Follow the links by hand: the file to replace is the last target, and a link whose target does
    // not exist yet gets it created (weakly_canonical would stop at the dangling link).
    target_ = path_;
    bool found = false;
    for (int hops = 0;; ++hops) {
        if (::lstat(target_.c_str(), &st) != 0) {
            if (errno != ENOENT && errno != ENOTDIR)
                fail("cannot examine " + target_.string() + ": " + error_text(errno));
            break;
        }
        if (!S_ISLNK(st.st_mode)) {
            found = true;
            break;
        }
        if (hops == 40) fail("too many levels of symbolic links");
        std::error_code ec;
        const fs::path next = fs::read_symlink(target_, ec);
        if (ec) fail("cannot read the link " + target_.string() + ": " + ec.message());
        target_ = next.is_absolute() ? next : folder_of(target_) / next;
    }
    existed_ = found;
    if (found && S_ISDIR(st.st_mode)) fail("is a directory");

    if (found && !S_ISREG(st.st_mode)) {
        // A FIFO or a device is the reader or the device the user named: write to it, never replace it.
        fd_ = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) fail("cannot open for writing: " + error_text(errno));
        struct stat opened {};
        if (::fstat(fd_, &opened) != 0 || S_ISREG(opened.st_mode)) fail("the file changed while it was being opened");
        through_ = true;
        return;
    }

    const fs::path dir = folder_of(target_);
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".tmp%08x", static_cast<unsigned>(rd()));
        tmp_ = dir / ("." + target_.filename().string() + suffix);
        // 0666 so the process umask decides the mode of a new file, as for any file a program creates.
        fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) {
        const int err = errno;
        tmp_.clear();
        fail("cannot create a temporary file in " + dir.string() + ": " + error_text(err));
    }
    buffer_.reserve(kFlushAt + 4096);
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!through_ && !published_ && !tmp_.empty()) ::unlink(tmp_.c_str());
}

void OutputFile::fail(std::string_view what, ErrorCode code) const {
    throw FileError(shown_ + ": " + std::string(what), shown_, code);
}

void OutputFile::refuse_clash() const {
    // Both the name given and the file behind it: a link may have been turned to an input meanwhile.
    if (!files_) return;
    for (const fs::path& p : {path_, target_})
        if (const RunFile* clash = files_->clash(p, role_))
            throw FileError(refusal_text(shown_, *clash), shown_, ErrorCode::output_refused);
}

void OutputFile::flush() {
    const char* p = buffer_.data();
    std::size_t left = buffer_.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("write error: " + error_text(errno));
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    buffer_.clear();
}

void OutputFile::finish() {
    if (fd_ < 0) fail("already finished");
    flush();
    const int fd = fd_;
    if (!through_) {
        struct stat st {};
        if (existed_ && ::stat(target_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            // The owner first: changing it clears set-user-ID bits, which the mode then restores. Only
            // root may give a file away; for anyone else the file is theirs, as any file they write.
            if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) (void)::fchown(fd, st.st_uid, st.st_gid);
            if (::fchmod(fd, st.st_mode & 07777) != 0) fail("cannot set the file mode: " + error_text(errno));
        }
        if (::fsync(fd) != 0) fail("cannot sync: " + error_text(errno));
    }
    fd_ = -1;
    if (::close(fd) != 0 && !through_) fail("cannot close: " + error_text(errno));
}

void OutputFile::publish() {
    if (fd_ >= 0) fail("published before it was finished");
    if (through_ || published_) return;
    refuse_clash();
    if (::rename(tmp_.c_str(), target_.c_str()) != 0) fail("cannot rename into place: " + error_text(errno));
    published_ = true;
    // Best effort: make the rename itself durable.
    const int dfd = ::open(folder_of(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
}

void OutputFile::withdraw() noexcept {
    if (published_ && !existed_) ::unlink(target_.c_str());
}

}  // namespace torvel
