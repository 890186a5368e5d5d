// Choosing the format from a file name and reading whole files.
#include "text_util.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvel::io {

Format format_of(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (ext == ".obj") return Format::obj;
    if (ext == ".ply") return Format::ply;
    if (ext == ".off") return Format::off;
    if (ext.empty())
        detail::fail(path.string(), "no file extension, cannot tell the mesh format (expected .obj, .ply or .off)");
    detail::fail(path.string(), "unknown mesh format " + detail::quoted(ext) + " (expected .obj, .ply or .off)");
}

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

struct Contents {
    std::unique_ptr<char[]> data;
    std::size_t size;
    std::string_view view() const { return {data.get(), size}; }
};

Contents read_all(const std::filesystem::path& path) {
    const std::string name = path.string();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) detail::fail(name, std::string("cannot open: ") + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) detail::fail(name, std::string("cannot stat: ") + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) detail::fail(name, "is a directory, not a mesh file");
    if (!S_ISREG(st.st_mode)) detail::fail(name, "is not a regular file");

    // One read into an uninitialised buffer: no zero filling, no copying.
    std::size_t cap = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
    std::unique_ptr<char[]> buf(new char[cap + 1]);
    detail::advise_huge_pages(buf.get(), cap + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == cap) {
            // Normally the end of the file; it may have grown since fstat, so look before giving up.
            char probe[65536];
            const ssize_t n = ::read(fd.get(), probe, sizeof probe);
            if (n == 0) break;
            if (n < 0) {
                if (errno == EINTR) continue;
                detail::fail(name, std::string("read error: ") + std::strerror(errno));
            }
            const std::size_t bigger = cap + cap / 2 + sizeof probe;
            std::unique_ptr<char[]> b(new char[bigger + 1]);
            std::memcpy(b.get(), buf.get(), got);
            std::memcpy(b.get() + got, probe, static_cast<std::size_t>(n));
            buf = std::move(b);
            cap = bigger;
            got += static_cast<std::size_t>(n);
            continue;
        }
        const ssize_t n = ::read(fd.get(), buf.get() + got, cap - got);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            detail::fail(name, std::string("read error: ") + std::strerror(errno));
        }
        got += static_cast<std::size_t>(n);
    }
    return {std::move(buf), got};
}

}  // namespace

MeshData read_mesh(const std::filesystem::path& path) {
    const Format format = format_of(path);
    const Contents data = read_all(path);
    const std::string name = path.string();
    // A zero-byte file is what a failed export leaves behind; it is not an empty mesh.
    if (data.size == 0) detail::fail(name, "the file is empty");
    switch (format) {
        case Format::obj: return parse_obj(data.view(), name);
        case Format::ply: return parse_ply(data.view(), name);
        case Format::off: return parse_off(data.view(), name);
    }
    detail::fail(name, "unknown mesh format");
}

}  // namespace torvel::io
