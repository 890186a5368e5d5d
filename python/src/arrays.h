// numpy arrays (or anything numpy.asarray takes) in, torvel's mesh arrays out, and back. Needs the GIL.
//
// Every function checks what it reads and throws ArrayError naming the argument and its first bad
// element ("face_indices[12] is 99: ..."); the module raises it as torvel.UsageError (a ValueError).
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <torvel/torvel.h>

namespace torvel::python {

namespace py = pybind11;

class ArrayError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// One object of check_mesh's `objects` argument: its polygons are [first, first + count).
struct ObjectRange {
    std::string name;
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};

// positions (N, 3), face_sizes (P) and face_indices (sum of the sizes) as one PolygonMesh: each array
// is read once, straight into the mesh's own vector (float64 and integer arrays of any layout and byte
// order are read in place; other floating types and lists are converted by numpy first). Coordinates
// must be finite and faces have 3 or more vertices, as the mesh readers require.
PolygonMesh mesh_from_arrays(py::handle positions, py::handle face_sizes, py::handle face_indices);

// check_mesh's `objects`: a sequence of (name, first_face, face_count) that covers the mesh's
// `polygons` faces in order, without gaps.
std::vector<ObjectRange> objects_from(py::handle objects, std::uint32_t polygons);

// A new 1-D int64 array with `values`.
template <class T>
py::array_t<std::int64_t> int64_array(std::span<const T> values) {
    py::array_t<std::int64_t> out(static_cast<py::ssize_t>(values.size()));
    std::int64_t* data = out.mutable_data();
    for (std::size_t i = 0; i < values.size(); ++i) data[i] = static_cast<std::int64_t>(values[i]);
    return out;
}

// The face sizes of a polygon mesh's offsets, as int64.
py::array_t<std::int64_t> sizes_array(std::span<const std::uint32_t> offsets);

}  // namespace torvel::python
