// Choosing the format from a file name and reading whole files.
#include "text_util.h"

#include "text.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvel::io {

std::optional<Format> format_named(const std::filesystem::path& path) {
    const std::string ext = ascii_lowered(path.extension().string());
    if (ext == ".obj") return Format::obj;
    if (ext == ".ply") return Format::ply;
    if (ext == ".off") return Format::off;
    return std::nullopt;
}

Format format_of(const std::filesystem::path& path) {
    if (const std::optional<Format> format = format_named(path)) return *format;
    const std::string ext = path.extension().string();
    if (ext.empty())
        detail::fail(path.string(), "no file extension, cannot tell the mesh format (expected .obj, .ply or .off)",
                     ErrorCode::unknown_format);
    detail::fail(path.string(), "unknown mesh format " + detail::quoted(ext) + " (expected .obj, .ply or .off)",
                 ErrorCode::unknown_format);
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

// The file's pages as they sit in the page cache, mapped read-only: no copy, and no fresh memory to be
// zeroed by the kernel and then overwritten (for a file of tens of megabytes that is a good part of the
// import).
class MappedFile {
public:
    MappedFile(int fd, std::size_t size, const std::string& name) : size_(size) {
        if (size == 0) return;
        void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (p == MAP_FAILED)
            detail::fail(name, std::string("cannot map: ") + std::strerror(errno), ErrorCode::unreadable);
        data_ = static_cast<const char*>(p);
    }
    ~MappedFile() {
        if (data_) ::munmap(const_cast<char*>(data_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    std::string_view view() const { return {data_, size_}; }

private:
    const char* data_ = nullptr;
    std::size_t size_;
};

// A mapped file that another program truncates while it is parsed would raise SIGBUS on the next read
// of a page past the new end. While a file is parsed, such a fault inside its mapping maps zero pages
// over the rest of the mapping instead and is recorded: the parse goes on over zeros and read_mesh
// reports the file as changed. A fault anywhere else gets the disposition there was before. One file
// at a time per process (the disposition of SIGBUS is process-wide); a fault on any thread of the
// parse is caught the same way.
class TruncationGuard {
public:
    TruncationGuard(std::string_view mapped) {
        begin_ = mapped.data();
        end_ = mapped.data() + mapped.size();
        // Read here, so that the handler calls nothing but mmap and sigaction.
        page_ = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        truncated_ = 0;
        struct sigaction sa {};
        sa.sa_sigaction = &TruncationGuard::on_bus_error;
        sa.sa_flags = SA_SIGINFO;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGBUS, &sa, &previous_);
    }
    ~TruncationGuard() {
        ::sigaction(SIGBUS, &previous_, nullptr);
        begin_ = nullptr;
        end_ = nullptr;
    }
    TruncationGuard(const TruncationGuard&) = delete;
    TruncationGuard& operator=(const TruncationGuard&) = delete;
    bool truncated() const { return truncated_ != 0; }

private:
    static void on_bus_error(int, siginfo_t* info, void*) {
        const char* at = static_cast<const char*>(info->si_addr);
        if (at >= begin_ && at < end_) {
            const std::uintptr_t page = page_;
            const auto from = reinterpret_cast<std::uintptr_t>(at) & ~(page - 1);
            const auto to = (reinterpret_cast<std::uintptr_t>(end_) + page - 1) & ~(page - 1);
            if (::mmap(reinterpret_cast<void*>(from), to - from, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
                       0) != MAP_FAILED) {
                truncated_ = 1;
                return;
            }
        }
        // Not ours: the faulting access runs again under the previous disposition.
        ::sigaction(SIGBUS, &previous_, nullptr);
    }

    static inline const char* volatile begin_ = nullptr;
    static inline const char* volatile end_ = nullptr;
    static inline volatile sig_atomic_t truncated_ = 0;
    static inline std::uintptr_t page_ = 4096;
    static inline struct sigaction previous_ {};
};

}  // namespace

PolygonMesh read_mesh(const std::filesystem::path& path) { return detail::read_mapped(path, nullptr); }

PolygonMesh detail::read_mapped(const std::filesystem::path& path, void (*after_map)(const std::filesystem::path&)) {
    const std::string name = path.string();
    // A folder is told as one whatever its name: "models" has no extension, "scan.obj" may be a folder too.
    if (std::error_code ec; std::filesystem::is_directory(path, ec))
        detail::fail(name, "is a folder", ErrorCode::is_folder);
    const Format format = format_of(path);
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (const int err = errno; fd.get() < 0)
        detail::fail(name, std::string("cannot open: ") + std::strerror(err),
                     err == ENOENT ? ErrorCode::not_found : ErrorCode::unreadable);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        detail::fail(name, std::string("cannot stat: ") + std::strerror(errno), ErrorCode::unreadable);
    if (S_ISDIR(st.st_mode)) detail::fail(name, "is a folder", ErrorCode::is_folder);
    if (!S_ISREG(st.st_mode)) detail::fail(name, "is not a regular file", ErrorCode::unreadable);
    // A zero-byte file is what a failed export leaves behind; it is not an empty mesh.
    if (st.st_size <= 0) detail::fail(name, "the file is empty", ErrorCode::empty_file);

    const MappedFile file(fd.get(), static_cast<std::size_t>(st.st_size), name);
    const TruncationGuard guard(file.view());
    if (after_map) after_map(path);
    auto parse = [&] {
        switch (format) {
            case Format::obj: return parse_obj(file.view(), name);
            case Format::ply: return parse_ply(file.view(), name);
            case Format::off: return parse_off(file.view(), name);
        }
        detail::fail(name, "unknown mesh format");
    };
    try {
        PolygonMesh mesh = parse();
        if (!guard.truncated()) return mesh;
    } catch (const MeshError&) {
        if (!guard.truncated()) throw;
    }
    detail::fail(name, "the file was cut short while it was being read", ErrorCode::file_changed);
}

}  // namespace torvel::io
