// write_marked: OBJ (+ .mtl), PLY (binary little endian) or OFF with the marked polygons made visible.
// Every file goes to a temporary beside its target and is renamed over it once complete and synced.
#include "text_util.h"

#include "files.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace torvel::io {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t flush_at = 1 << 20;

class AtomicFile {
public:
    // `shown` is the name used in messages: always the output the caller asked for.
    AtomicFile(fs::path target, std::string shown) : target_(std::move(target)), shown_(std::move(shown)) {
        fs::path dir = target_.parent_path();
        if (dir.empty()) dir = ".";
        std::random_device rd;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const unsigned r = rd();
            char suffix[32];
            std::snprintf(suffix, sizeof suffix, ".tmp%08x", r);
            tmp_ = dir / ("." + target_.filename().string() + suffix);
            // 0666 so the process umask decides the mode, as for any newly created file.
            fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0 || errno != EEXIST) break;
        }
        if (fd_ < 0)
            fail(std::string("cannot create a temporary file in ") + detail::printable(dir.string()) + ": " +
                 std::strerror(errno));
        buf_.reserve(flush_at + 4096);
    }

    ~AtomicFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!published_) ::unlink(tmp_.c_str());
    }

    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    std::string& buffer() { return buf_; }
    void maybe_flush() {
        if (buf_.size() >= flush_at) flush();
    }

    // Writes out everything, gives it the target's mode, syncs and closes. The target is untouched.
    void finish() {
        flush();
        struct stat st {};
        if (::stat(target_.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::fchmod(fd_, st.st_mode & 07777) != 0)
            fail(std::string("cannot set the file mode: ") + std::strerror(errno));
        if (::fsync(fd_) != 0) fail(std::string("cannot sync: ") + std::strerror(errno));
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) fail(std::string("cannot close: ") + std::strerror(errno));
    }

    // Renames the finished temporary over the target.
    void publish() {
        if (::rename(tmp_.c_str(), target_.c_str()) != 0)
            fail(std::string("cannot rename into place: ") + std::strerror(errno));
        published_ = true;
        fs::path dir = target_.parent_path();
        if (dir.empty()) dir = ".";
        // Best effort: make the rename itself durable.
        const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            (void)::fsync(dfd);
            ::close(dfd);
        }
    }

private:
    [[noreturn]] void fail(const std::string& what) const { detail::fail(shown_, what); }

    void flush() {
        const char* p = buf_.data();
        std::size_t left = buf_.size();
        while (left > 0) {
            const ssize_t n = ::write(fd_, p, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                fail(std::string("write error: ") + std::strerror(errno));
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        buf_.clear();
    }

    fs::path target_;
    std::string shown_;
    fs::path tmp_;
    int fd_ = -1;
    bool published_ = false;
    std::string buf_;
};

void append_number(std::string& s, double v) {
    char b[32];
    auto r = std::to_chars(b, b + sizeof b, v);  // shortest form that reads back to the same double
    s.append(b, r.ptr);
}

void append_number(std::string& s, std::uint64_t v) {
    char b[24];
    auto r = std::to_chars(b, b + sizeof b, v);
    s.append(b, r.ptr);
}

template <class T>
void append_le(std::string& s, T v) {
    auto u = std::bit_cast<std::conditional_t<sizeof(T) == 8, std::uint64_t,
                                              std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint8_t>>>(v);
    for (std::size_t i = 0; i < sizeof u; ++i) s.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}

void refuse_inputs(const fs::path& target, const std::string& shown, std::span<const fs::path> inputs) {
    for (const auto& in : inputs)
        if (same_file(target, in))
            detail::fail(shown, "refusing to overwrite the input file " + detail::printable(in.string()));
}

void check_mesh(const MeshData& mesh, std::span<const std::uint32_t> marked, const std::string& shown) {
    if (mesh.positions.size() % 3 != 0) detail::fail(shown, "cannot write: positions are not x y z triples");
    if (mesh.offsets.empty() || mesh.offsets.front() != 0 || mesh.offsets.back() != mesh.indices.size())
        detail::fail(shown, "cannot write: polygon offsets do not match the index list");
    for (std::size_t i = 1; i < mesh.offsets.size(); ++i)
        if (mesh.offsets[i] < mesh.offsets[i - 1] + 3)
            detail::fail(shown, "cannot write: polygon " + std::to_string(i - 1) + " has fewer than 3 vertices");
    const std::size_t nv = mesh.vertex_count();
    for (auto v : mesh.indices)
        if (v >= nv) detail::fail(shown, "cannot write: vertex index " + std::to_string(v) + " out of range");
    for (std::size_t i = 0; i < marked.size(); ++i) {
        if (marked[i] >= mesh.polygon_count())
            detail::fail(shown, "cannot write: marked polygon " + std::to_string(marked[i]) + " does not exist");
        if (i > 0 && marked[i] <= marked[i - 1])
            detail::fail(shown, "cannot write: marked polygons are not in ascending order");
    }
}

// "x y z" of vertex v.
void append_position(std::string& s, const MeshData& mesh, std::size_t v) {
    append_number(s, mesh.positions[3 * v]);
    s += ' ';
    append_number(s, mesh.positions[3 * v + 1]);
    s += ' ';
    append_number(s, mesh.positions[3 * v + 2]);
}

// The vertex indices of a polygon, each after a blank and counted from `first` (OBJ counts from 1).
// A polygon of millions of vertices is flushed as it goes instead of growing the buffer to its size.
void append_indices(AtomicFile& f, const MeshData& mesh, std::size_t polygon, std::uint64_t first) {
    std::string& s = f.buffer();
    for (std::uint32_t k = mesh.offsets[polygon]; k < mesh.offsets[polygon + 1]; ++k) {
        s += ' ';
        append_number(s, std::uint64_t{mesh.indices[k]} + first);
        if (s.size() >= flush_at) f.maybe_flush();
    }
}

// Calls f(polygon, is_marked) for every polygon in order.
template <class F>
void for_each_polygon(const MeshData& mesh, std::span<const std::uint32_t> marked, F&& f) {
    std::size_t m = 0;
    for (std::size_t i = 0; i < mesh.polygon_count(); ++i) {
        const bool is_marked = m < marked.size() && marked[m] == i;
        if (is_marked) ++m;
        f(i, is_marked);
    }
}

void write_obj(const fs::path& out, const std::string& shown, const MeshData& mesh,
               std::span<const std::uint32_t> marked, std::span<const fs::path> inputs) {
    fs::path mtl = out;
    mtl.replace_extension(".mtl");
    // Messages about the material file still lead with the output the caller named.
    const std::string mtl_shown = shown + " (material file " + mtl.filename().string() + ")";
    refuse_inputs(mtl, mtl_shown, inputs);
    std::error_code ec;
    const bool mtl_existed = fs::exists(mtl, ec);

    AtomicFile mtl_file(mtl, mtl_shown);
    mtl_file.buffer() = "# materials for " + out.filename().string() +
                        "\nnewmtl planar\nKa 0 0 0\nKd 0.784 0.784 0.784\nillum 1\n"
                        "\nnewmtl non_planar\nKa 0 0 0\nKd 1 0 0\nillum 1\n";
    mtl_file.finish();

    AtomicFile f(out, shown);
    std::string& s = f.buffer();
    s += "# written by torvel: ";
    append_number(s, std::uint64_t{mesh.vertex_count()});
    s += " vertices, ";
    append_number(s, std::uint64_t{mesh.polygon_count()});
    s += " polygons, ";
    append_number(s, std::uint64_t{marked.size()});
    s += " non-planar\nmtllib " + mtl.filename().string() + "\n";
    for (std::size_t v = 0; v < mesh.vertex_count(); ++v) {
        s += "v ";
        append_position(s, mesh, v);
        s += '\n';
        f.maybe_flush();
    }
    int group = -1;
    for_each_polygon(mesh, marked, [&](std::size_t i, bool is_marked) {
        if (group != int{is_marked}) {
            s += is_marked ? "g non_planar\nusemtl non_planar\n" : "g planar\nusemtl planar\n";
            group = is_marked;
        }
        s += 'f';
        append_indices(f, mesh, i, 1);
        s += '\n';
        f.maybe_flush();
    });
    f.finish();
    mtl_file.publish();
    try {
        f.publish();
    } catch (...) {
        if (!mtl_existed) ::unlink(mtl.c_str());
        throw;
    }
}

void write_ply(const fs::path& out, const std::string& shown, const MeshData& mesh,
               std::span<const std::uint32_t> marked) {
    std::uint32_t largest = 0;
    for (std::size_t i = 0; i < mesh.polygon_count(); ++i)
        largest = std::max(largest, mesh.offsets[i + 1] - mesh.offsets[i]);
    const bool small = largest < 256;

    AtomicFile f(out, shown);
    std::string& s = f.buffer();
    s += "ply\nformat binary_little_endian 1.0\ncomment written by torvel: red faces are non-planar\nelement vertex ";
    append_number(s, std::uint64_t{mesh.vertex_count()});
    s += "\nproperty double x\nproperty double y\nproperty double z\nelement face ";
    append_number(s, std::uint64_t{mesh.polygon_count()});
    s += small ? "\nproperty list uchar uint vertex_indices" : "\nproperty list uint uint vertex_indices";
    s += "\nproperty uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
    for (double v : mesh.positions) {
        append_le(s, v);
        f.maybe_flush();
    }
    for_each_polygon(mesh, marked, [&](std::size_t i, bool is_marked) {
        const std::uint32_t n = mesh.offsets[i + 1] - mesh.offsets[i];
        if (small)
            append_le(s, static_cast<std::uint8_t>(n));
        else
            append_le(s, n);
        for (std::uint32_t k = mesh.offsets[i]; k < mesh.offsets[i + 1]; ++k) {
            append_le(s, mesh.indices[k]);
            if (s.size() >= flush_at) f.maybe_flush();
        }
        const std::uint8_t grey = 200;
        append_le(s, is_marked ? std::uint8_t{255} : grey);
        append_le(s, is_marked ? std::uint8_t{0} : grey);
        append_le(s, is_marked ? std::uint8_t{0} : grey);
        f.maybe_flush();
    });
    f.finish();
    f.publish();
}

void write_off(const fs::path& out, const std::string& shown, const MeshData& mesh,
               std::span<const std::uint32_t> marked) {
    AtomicFile f(out, shown);
    std::string& s = f.buffer();
    s += "OFF\n# written by torvel: red faces are non-planar\n";
    append_number(s, std::uint64_t{mesh.vertex_count()});
    s += ' ';
    append_number(s, std::uint64_t{mesh.polygon_count()});
    s += " 0\n";
    for (std::size_t v = 0; v < mesh.vertex_count(); ++v) {
        append_position(s, mesh, v);
        s += '\n';
        f.maybe_flush();
    }
    for_each_polygon(mesh, marked, [&](std::size_t i, bool is_marked) {
        append_number(s, std::uint64_t{mesh.offsets[i + 1] - mesh.offsets[i]});
        append_indices(f, mesh, i, 0);
        s += is_marked ? " 255 0 0\n" : " 200 200 200\n";
        f.maybe_flush();
    });
    f.finish();
    f.publish();
}

}  // namespace

void write_marked(const fs::path& out, const MeshData& mesh, std::span<const std::uint32_t> marked,
                  std::span<const fs::path> inputs) {
    const std::string shown = out.string();
    const Format format = format_of(out);
    check_mesh(mesh, marked, shown);
    refuse_inputs(out, shown, inputs);
    switch (format) {
        case Format::obj: write_obj(out, shown, mesh, marked, inputs); break;
        case Format::ply: write_ply(out, shown, mesh, marked); break;
        case Format::off: write_off(out, shown, mesh, marked); break;
    }
}

}  // namespace torvel::io
