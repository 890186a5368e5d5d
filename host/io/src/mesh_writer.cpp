// write_marked: OBJ (+ .mtl), PLY (binary little endian) or OFF with the marked polygons made visible.
// Every file goes through OutputFile, which decides how what is already there is replaced.
#include "text_util.h"

#include "files.h"
#include "output_file.h"
#include "text.h"

#include <bit>
#include <charconv>

namespace torvel::io {

namespace fs = std::filesystem;

namespace {

// Where write_marked's files go: never over another file of the run.
struct Targets {
    const RunFiles& files;
    std::string_view role;
};

// Messages about the material file still lead with the output the caller named.
std::string material_shown(const fs::path& out) {
    return out.string() + " (material file " + material_file(out).filename().string() + ")";
}

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

using Objects = std::span<const PolygonMesh::Object>;

void check_mesh(const MeshView& mesh, Objects objects, std::span<const std::uint32_t> marked,
                const std::string& shown) {
    if (mesh.positions.size() % 3 != 0)
        detail::fail(shown, "cannot write: positions are not x y z triples", ErrorCode::write_failed);
    if (mesh.offsets.empty() || mesh.offsets.front() != 0 || mesh.offsets.back() != mesh.indices.size())
        detail::fail(shown, "cannot write: polygon offsets do not match the index list", ErrorCode::write_failed);
    for (std::size_t i = 1; i < mesh.offsets.size(); ++i)
        if (mesh.offsets[i] < mesh.offsets[i - 1] + 3)
            detail::fail(shown, "cannot write: polygon " + std::to_string(i - 1) + " has fewer than 3 vertices",
                         ErrorCode::write_failed);
    const std::size_t nv = mesh.vertex_count();
    for (auto v : mesh.indices)
        if (v >= nv)
            detail::fail(shown, "cannot write: vertex index " + std::to_string(v) + " out of range",
                         ErrorCode::write_failed);
    for (std::size_t i = 0; i < objects.size(); ++i)
        if ((i == 0 && objects[i].first != 0) || (i > 0 && objects[i].first <= objects[i - 1].first) ||
            (objects[i].first >= mesh.polygon_count() && mesh.polygon_count() > 0))
            detail::fail(shown, "cannot write: object " + std::to_string(i) + " starts at no polygon of its own",
                         ErrorCode::write_failed);
    for (std::size_t i = 0; i < marked.size(); ++i) {
        if (marked[i] >= mesh.polygon_count())
            detail::fail(shown, "cannot write: marked polygon " + std::to_string(marked[i]) + " does not exist",
                         ErrorCode::write_failed);
        if (i > 0 && marked[i] <= marked[i - 1])
            detail::fail(shown, "cannot write: marked polygons are not in ascending order", ErrorCode::write_failed);
    }
}

// An object's name on one line of its own: what would end the line or start a comment becomes '_'.
std::string object_name(const PolygonMesh::Object& object) {
    std::string name = object.name.empty() ? "object" : object.name;
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == '#' || c == 0x7f) c = '_';
    return name;
}

// One comment line per object (PLY, OFF): "PREFIX object FIRST NAME", FIRST its first face.
void append_object_comments(std::string& s, Objects objects, const char* prefix) {
    for (const PolygonMesh::Object& o : objects) {
        s += prefix;
        s += " object ";
        append_number(s, std::uint64_t{o.first});
        s += ' ' + object_name(o) + '\n';
    }
}

// "x y z" of vertex v.
void append_position(std::string& s, const MeshView& mesh, std::size_t v) {
    append_number(s, mesh.positions[3 * v]);
    s += ' ';
    append_number(s, mesh.positions[3 * v + 1]);
    s += ' ';
    append_number(s, mesh.positions[3 * v + 2]);
}

// The vertex indices of a polygon, each after a blank and counted from `first` (OBJ counts from 1).
// A polygon of millions of vertices is flushed as it goes instead of growing the buffer to its size.
void append_indices(OutputFile& f, const MeshView& mesh, std::size_t polygon, std::uint64_t first) {
    std::string& s = f.buffer();
    for (std::uint32_t k = mesh.offsets[polygon]; k < mesh.offsets[polygon + 1]; ++k) {
        s += ' ';
        append_number(s, std::uint64_t{mesh.indices[k]} + first);
        f.maybe_flush();
    }
}

// Calls f(polygon, is_marked) for every polygon in order.
template <class F>
void for_each_polygon(const MeshView& mesh, std::span<const std::uint32_t> marked, F&& f) {
    std::size_t m = 0;
    for (std::size_t i = 0; i < mesh.polygon_count(); ++i) {
        const bool is_marked = m < marked.size() && marked[m] == i;
        if (is_marked) ++m;
        f(i, is_marked);
    }
}

void write_obj(const fs::path& out, const std::string& shown, const MeshView& mesh, Objects objects,
               std::span<const std::uint32_t> marked, const Targets& to) {
    const fs::path mtl = material_file(out);
    // Both files of one output have its role, which RunFiles::clash does not hold against each other: a
    // material file that is the mesh itself (through a link) is refused here.
    if (same_file(mtl, out))
        throw FileError(refusal_text(material_shown(out), {out, std::string(to.role), shown, true}), shown,
                        ErrorCode::output_refused);
    OutputFile mtl_file(mtl, material_shown(out), &to.files, to.role);
    mtl_file.buffer() = "# materials for " + out.filename().string() +
                        "\nnewmtl planar\nKa 0 0 0\nKd 0.784 0.784 0.784\nillum 1\n"
                        "\nnewmtl non_planar\nKa 0 0 0\nKd 1 0 0\nillum 1\n";
    mtl_file.finish();

    OutputFile f(out, shown, &to.files, to.role);
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
    std::size_t object = 0;
    for_each_polygon(mesh, marked, [&](std::size_t i, bool is_marked) {
        if (object < objects.size() && objects[object].first == i) {
            s += "o " + object_name(objects[object++]) + '\n';
            group = -1;  // each object names its groups again
        }
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
        mtl_file.withdraw();
        throw;
    }
}

void write_ply(const fs::path& out, const std::string& shown, const MeshView& mesh, Objects objects,
               std::span<const std::uint32_t> marked, const Targets& to) {
    std::uint32_t largest = 0;
    for (std::size_t i = 0; i < mesh.polygon_count(); ++i)
        largest = std::max(largest, mesh.offsets[i + 1] - mesh.offsets[i]);
    const bool small = largest < 256;

    OutputFile f(out, shown, &to.files, to.role);
    std::string& s = f.buffer();
    s += "ply\nformat binary_little_endian 1.0\ncomment written by torvel: red faces are non-planar\n";
    append_object_comments(s, objects, "comment");
    s += "element vertex ";
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
            f.maybe_flush();
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

void write_off(const fs::path& out, const std::string& shown, const MeshView& mesh, Objects objects,
               std::span<const std::uint32_t> marked, const Targets& to) {
    OutputFile f(out, shown, &to.files, to.role);
    std::string& s = f.buffer();
    s += "OFF\n# written by torvel: red faces are non-planar\n";
    append_object_comments(s, objects, "#");
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

fs::path material_file(const fs::path& out) {
    fs::path mtl = out;
    mtl.replace_extension(".mtl");
    return mtl;
}

void add_marked_outputs(RunFiles& files, const fs::path& out, std::string_view role) {
    files.add_output(out, role, out.string());
    if (out.has_filename() && ascii_lowered(out.extension().string()) == ".obj")
        files.add_output(material_file(out), role, material_shown(out));
}

void write_marked(const fs::path& out, const MeshView& mesh, Objects objects, std::span<const std::uint32_t> marked,
                  const RunFiles& files, std::string_view role) {
    const Targets to{files, role};
    const std::string shown = out.string();
    const Format format = format_of(out);
    check_mesh(mesh, objects, marked, shown);
    try {
        switch (format) {
            case Format::obj: write_obj(out, shown, mesh, objects, marked, to); break;
            case Format::ply: write_ply(out, shown, mesh, objects, marked, to); break;
            case Format::off: write_off(out, shown, mesh, objects, marked, to); break;
        }
    } catch (const FileError& e) {
        throw MeshError(e.what(), e.file(), e.code());
    }
}

}  // namespace torvel::io
