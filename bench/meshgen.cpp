#include "meshgen.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace torvel::bench {

namespace {

// Coordinates are kept as whole thousandths so that every one prints as a short decimal.
constexpr double kUnit = 1000.0;
constexpr std::int64_t kJitter = 150;  // in-plane jitter of grid vertices, thousandths of a cell
constexpr std::int64_t kNotch = 200;   // how far a pentagon's or hexagon's extra vertex sits inside its cell

struct Builder {
    torvel::PolygonMesh mesh;
    std::uint32_t add(std::int64_t x, std::int64_t y, std::int64_t z) {
        mesh.positions.push_back(static_cast<double>(x) / kUnit);
        mesh.positions.push_back(static_cast<double>(y) / kUnit);
        mesh.positions.push_back(static_cast<double>(z) / kUnit);
        return static_cast<std::uint32_t>(mesh.positions.size() / 3 - 1);
    }
};

}  // namespace

torvel::PolygonMesh generate(const GenOptions& o, GenSummary* summary) {
    if (o.faces == 0 || o.faces > 0xffffffffull / 8) throw std::invalid_argument("face count out of range");
    const auto width = static_cast<std::uint64_t>(std::ceil(std::sqrt(static_cast<double>(o.faces))));
    const std::uint64_t rows = (o.faces + width - 1) / width;
    SplitMix64 rng(o.seed);

    // Grid vertices first, row by row, each nudged within the plane (z = 0).
    Builder b;
    std::vector<std::int64_t> gx((width + 1) * (rows + 1)), gy(gx.size());
    b.mesh.positions.reserve(gx.size() * 3 + o.faces / 4 * 3);
    for (std::uint64_t r = 0; r <= rows; ++r) {
        for (std::uint64_t c = 0; c <= width; ++c) {
            const std::uint64_t v = r * (width + 1) + c;
            gx[v] = static_cast<std::int64_t>(c) * 1000 + rng.between(-kJitter, kJitter);
            gy[v] = static_cast<std::int64_t>(r) * 1000 + rng.between(-kJitter, kJitter);
            b.add(gx[v], gy[v], 0);
        }
    }

    GenSummary s;
    const auto lift = static_cast<std::int64_t>(std::llround(o.offset * kUnit));
    b.mesh.offsets.reserve(o.faces + 1);
    b.mesh.indices.reserve(o.faces * 4 + o.faces / 16);
    for (std::uint64_t f = 0; f < o.faces; ++f) {
        const std::uint64_t r = f / width, c = f % width;
        const auto v00 = static_cast<std::uint32_t>(r * (width + 1) + c);
        const auto v10 = v00 + 1;
        const auto v11 = static_cast<std::uint32_t>(v10 + width + 1);
        const auto v01 = v11 - 1;
        const double kind = rng.unit();
        const bool bend = rng.unit() < o.bent;

        // Counter-clockwise: bottom edge v00 -> v10, then up the right side, back along the top.
        std::uint32_t corners[6];
        int n = 0;
        corners[n++] = v00;
        if (kind < o.ngons) {  // a notch in the bottom edge, pushed into the cell: flat, with a reflex corner
            corners[n++] = b.add((gx[v00] + gx[v10]) / 2, (gy[v00] + gy[v10]) / 2 + kNotch, 0);
        }
        corners[n++] = v10;
        corners[n++] = v11;
        if (kind < o.ngons / 2) {  // and one in the top edge: a hexagon
            corners[n++] = b.add((gx[v11] + gx[v01]) / 2, (gy[v11] + gy[v01]) / 2 - kNotch, 0);
        }
        // The lifted corner gets a vertex of its own, so that the neighbours stay flat.
        corners[n++] = bend ? b.add(gx[v01], gy[v01], lift) : v01;

        b.mesh.indices.insert(b.mesh.indices.end(), corners, corners + n);
        b.mesh.offsets.push_back(static_cast<std::uint32_t>(b.mesh.indices.size()));
        (n == 4 ? s.quads : n == 5 ? s.pentagons : s.hexagons)++;
        s.bent += bend;
    }
    if (summary) *summary = s;
    return std::move(b.mesh);
}

namespace {

class File {
public:
    explicit File(const std::filesystem::path& path) : path_(path), f_(std::fopen(path.c_str(), "wb")) {
        if (!f_) throw std::runtime_error("cannot create " + path.string() + ": " + std::strerror(errno));
        std::setvbuf(f_, nullptr, _IOFBF, 1 << 20);
    }
    ~File() {
        if (f_) std::fclose(f_);
    }
    void write(const void* data, std::size_t size) {
        if (std::fwrite(data, 1, size, f_) != size) fail();
    }
    void write(std::string_view s) { write(s.data(), s.size()); }
    void close() {
        if (std::fclose(std::exchange(f_, nullptr)) != 0) fail();
    }

private:
    [[noreturn]] void fail() {
        throw std::runtime_error("cannot write " + path_.string() + ": " + std::strerror(errno));
    }
    std::filesystem::path path_;
    std::FILE* f_;
};

char* put(char* p, double v) { return std::to_chars(p, p + 32, v).ptr; }
char* put(char* p, std::uint64_t v) { return std::to_chars(p, p + 24, v).ptr; }

}  // namespace

void write_obj(const std::filesystem::path& path, const torvel::PolygonMesh& mesh, const std::string& comment) {
    File out(path);
    out.write("# " + comment + "\n");
    char line[128];
    for (std::size_t v = 0; v < mesh.vertex_count(); ++v) {
        char* p = line;
        *p++ = 'v';
        for (int k = 0; k < 3; ++k) {
            *p++ = ' ';
            p = put(p, mesh.positions[3 * v + k]);
        }
        *p++ = '\n';
        out.write(line, static_cast<std::size_t>(p - line));
    }
    std::size_t object = 0;
    for (std::size_t f = 0; f < mesh.polygon_count(); ++f) {
        for (; object < mesh.objects.size() && mesh.objects[object].first == f; ++object)
            out.write("o " + mesh.objects[object].name + "\n");
        char* p = line;
        *p++ = 'f';
        for (std::uint32_t c = mesh.offsets[f]; c < mesh.offsets[f + 1]; ++c) {
            *p++ = ' ';
            p = put(p, std::uint64_t{mesh.indices[c]} + 1);
        }
        *p++ = '\n';
        out.write(line, static_cast<std::size_t>(p - line));
    }
    out.close();
}

void write_ply(const std::filesystem::path& path, const torvel::PolygonMesh& mesh, const std::string& comment) {
    static_assert(std::endian::native == std::endian::little, "the PLY writer stores native little-endian values");
    File out(path);
    out.write("ply\nformat binary_little_endian 1.0\ncomment " + comment + "\nelement vertex " +
              std::to_string(mesh.vertex_count()) +
              "\nproperty double x\nproperty double y\nproperty double z\nelement face " +
              std::to_string(mesh.polygon_count()) + "\nproperty list uchar uint vertex_indices\nend_header\n");
    out.write(mesh.positions.data(), mesh.positions.size() * sizeof(double));
    std::vector<unsigned char> buf;
    for (std::size_t f = 0; f < mesh.polygon_count(); ++f) {
        const std::uint32_t first = mesh.offsets[f], n = mesh.offsets[f + 1] - first;
        buf.push_back(static_cast<unsigned char>(n));
        const auto at = buf.size();
        buf.resize(at + 4 * n);
        std::memcpy(buf.data() + at, mesh.indices.data() + first, 4 * n);
        if (buf.size() > (1 << 20)) {
            out.write(buf.data(), buf.size());
            buf.clear();
        }
    }
    out.write(buf.data(), buf.size());
    out.close();
}

}  // namespace torvel::bench
