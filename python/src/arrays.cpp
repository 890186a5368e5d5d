#include "arrays.h"

#include <cmath>
#include <limits>
#include <utility>

namespace torvel::python {

namespace {

constexpr std::uint64_t kMaxCount = std::numeric_limits<std::uint32_t>::max();

std::string shape_text(const py::array& a) {
    std::string text = "(";
    for (py::ssize_t d = 0; d < a.ndim(); ++d) text += (d ? ", " : "") + std::to_string(a.shape(d));
    return text + (a.ndim() == 1 ? ",)" : ")");
}

// numpy.asarray(value), its own error (a ragged list, say) reported as the argument's.
py::array as_array(py::handle value, const std::string& name) {
    try {
        return py::module_::import("numpy").attr("asarray")(value);
    } catch (py::error_already_set& e) {
        throw ArrayError(name + ": not an array: " + e.what());
    }
}

bool is_native(const py::array& a) { return a.dtype().attr("isnative").cast<bool>(); }

// An array of integers in native byte order, read where it is; `a` of any other number type is refused
// rather than rounded (an index of 2.5 is a mistake, not a vertex).
py::array integer_array(py::handle value, const std::string& name) {
    py::array a = as_array(value, name);
    if (a.ndim() != 1) throw ArrayError(name + ": expected a 1-D array, got shape " + shape_text(a));
    const char kind = a.dtype().kind();
    if (a.size() == 0) return a;  // [] is float64 to numpy
    if (kind != 'i' && kind != 'u')
        throw ArrayError(name + ": expected integers, got dtype " + py::str(a.dtype()).cast<std::string>());
    if (!is_native(a)) a = a.attr("astype")(a.dtype().attr("newbyteorder")("="));
    return a;
}

template <class T, class F>
void each_as(const py::array& a, F& f) {
    const auto values = a.unchecked<T, 1>();
    for (py::ssize_t i = 0; i < values.shape(0); ++i) f(i, values(i));
}

// Calls f(i, value) for each element of integer_array's `a`, in its own integer type.
template <class F>
void each_integer(const py::array& a, F&& f) {
    if (a.size() == 0) return;
    const bool is_signed = a.dtype().kind() == 'i';
    switch (a.itemsize()) {
        case 1: return is_signed ? each_as<std::int8_t>(a, f) : each_as<std::uint8_t>(a, f);
        case 2: return is_signed ? each_as<std::int16_t>(a, f) : each_as<std::uint16_t>(a, f);
        case 4: return is_signed ? each_as<std::int32_t>(a, f) : each_as<std::uint32_t>(a, f);
        case 8: return is_signed ? each_as<std::int64_t>(a, f) : each_as<std::uint64_t>(a, f);
        default: throw ArrayError("unsupported integer size " + std::to_string(a.itemsize()));
    }
}

template <class T>
std::string element(const std::string& name, py::ssize_t i, T value) {
    return name + "[" + std::to_string(i) + "] is " + std::to_string(value);
}

std::vector<double> read_positions(py::handle value) {
    py::array a = as_array(value, "positions");
    if (a.size() == 0) return {};
    const char kind = a.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u')
        throw ArrayError("positions: expected numbers, got dtype " + py::str(a.dtype()).cast<std::string>());
    if (a.ndim() != 2 || a.shape(1) != 3)
        throw ArrayError("positions: expected shape (N, 3), got shape " + shape_text(a));
    if (static_cast<std::uint64_t>(a.shape(0)) > kMaxCount)
        throw ArrayError("positions: more than 4294967295 vertices");
    if (kind != 'f' || a.itemsize() != 8 || !is_native(a)) a = a.attr("astype")("float64");
    const auto values = a.unchecked<double, 2>();
    // Reserved, not sized: zeroing the arrays first would be a pass over them of its own.
    std::vector<double> out;
    out.reserve(static_cast<std::size_t>(a.shape(0)) * 3);
    for (py::ssize_t v = 0; v < values.shape(0); ++v)
        for (py::ssize_t k = 0; k < 3; ++k) {
            const double x = values(v, k);
            if (!std::isfinite(x))
                throw ArrayError("positions[" + std::to_string(v) + ", " + std::to_string(k) + "] is " +
                                 (std::isnan(x) ? "nan" : x > 0 ? "inf" : "-inf") + ": coordinates must be finite");
            out.push_back(x);
        }
    return out;
}

}  // namespace

PolygonMesh mesh_from_arrays(py::handle positions, py::handle face_sizes, py::handle face_indices) {
    PolygonMesh mesh;
    mesh.positions = read_positions(positions);
    const std::uint64_t vertices = mesh.positions.size() / 3;

    const py::array sizes = integer_array(face_sizes, "face_sizes");
    mesh.offsets.reserve(static_cast<std::size_t>(sizes.size()) + 1);
    std::uint64_t total = 0;
    each_integer(sizes, [&](py::ssize_t i, auto size) {
        if (std::cmp_less(size, 0)) throw ArrayError(element("face_sizes", i, size) + ": a size cannot be negative");
        if (std::cmp_less(size, 3))
            throw ArrayError(element("face_sizes", i, size) + ": a face needs at least 3 vertices");
        if (std::cmp_greater(size, kMaxCount - total))
            throw ArrayError(element("face_sizes", i, size) + ": the faces have more than 4294967295 corners");
        total += static_cast<std::uint64_t>(size);
        mesh.offsets.push_back(static_cast<std::uint32_t>(total));
    });

    const py::array indices = integer_array(face_indices, "face_indices");
    if (static_cast<std::uint64_t>(indices.size()) != total)
        throw ArrayError("face_indices: has " + std::to_string(indices.size()) + " entries, but face_sizes add up to " +
                         std::to_string(total));
    mesh.indices.reserve(static_cast<std::size_t>(total));
    each_integer(indices, [&](py::ssize_t i, auto index) {
        if (std::cmp_less(index, 0) || std::cmp_greater_equal(index, vertices))
            throw ArrayError(element("face_indices", i, index) + ": out of range for " + std::to_string(vertices) +
                             " vertices");
        mesh.indices.push_back(static_cast<std::uint32_t>(index));
    });
    return mesh;
}

std::vector<ObjectRange> objects_from(py::handle objects, std::uint32_t polygons) {
    std::vector<ObjectRange> out;
    std::uint64_t next = 0;
    const py::object index = py::module_::import("operator").attr("index");
    std::size_t k = 0;
    for (const py::handle item : objects) {
        const std::string at = "objects[" + std::to_string(k++) + "]";
        ObjectRange range;
        long long first = 0, count = 0;
        try {
            const py::tuple fields = py::tuple(py::reinterpret_borrow<py::object>(item));
            if (fields.size() != 3) throw ArrayError(at + ": expected (name, first_face, face_count)");
            range.name = fields[0].cast<std::string>();
            first = index(fields[1]).cast<long long>();
            count = index(fields[2]).cast<long long>();
        } catch (const py::error_already_set&) {
            throw ArrayError(at + ": expected (name: str, first_face: int, face_count: int)");
        } catch (const py::cast_error&) {
            throw ArrayError(at + ": expected (name: str, first_face: int, face_count: int)");
        }
        if (std::cmp_not_equal(first, next))
            throw ArrayError(at + ": first_face is " + std::to_string(first) + ", expected " + std::to_string(next) +
                             " (the objects follow one another from face 0)");
        if (count < 1 || std::cmp_greater(count, polygons - next))
            throw ArrayError(at + ": face_count is " + std::to_string(count) + ", expected 1 to " +
                             std::to_string(polygons - next) + " (the faces left)");
        range.first = static_cast<std::uint32_t>(first);
        range.count = static_cast<std::uint32_t>(count);
        next += range.count;
        out.push_back(std::move(range));
    }
    if (next != polygons)
        throw ArrayError("objects: they cover " + std::to_string(next) + " of the " + std::to_string(polygons) +
                         " faces");
    return out;
}

py::array_t<std::int64_t> sizes_array(std::span<const std::uint32_t> offsets) {
    const std::size_t n = offsets.empty() ? 0 : offsets.size() - 1;
    py::array_t<std::int64_t> out(static_cast<py::ssize_t>(n));
    std::int64_t* data = out.mutable_data();
    for (std::size_t p = 0; p < n; ++p) data[p] = static_cast<std::int64_t>(offsets[p + 1] - offsets[p]);
    return out;
}

}  // namespace torvel::python
