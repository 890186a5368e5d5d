// The bytes the import child sends torvel through a pipe: a header, an optional text, then one record
// per object with its arrays as they are in memory (native byte order: both ends are the same program
// on the same machine). Everything is 4-byte aligned relative to the start of the stream.
//
//   header   "TVIS" version kind objects text_size 0 (u32 each) | total points lines (u64 each)
//            | text, zero padded to 4
//   object   mesh_index name_size vertices polygons corners 0 (u32 each) | name, zero padded to 4
//            | float xyz[vertices] | u32 offsets[polygons + 1] | u32 indices[corners]
//
// `total` is the size of the whole stream. The reader trusts nothing: the total must be within the
// caller's bound, every count is checked against the bytes the total leaves before anything is sized
// from it, and every rule of ImportResult's mesh is checked on what was received. The objects are joined
// into one mesh as they arrive: each object's vertices after those before it, its indices and offsets
// moved on by their counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "importer.h"

namespace torvel::importer::detail {

enum class Kind : std::uint32_t {
    result = 1,    // the objects
    refused = 2,   // Assimp refused the file; the text is its message
    bad_data = 3,  // Assimp's scene is unusable (bad index, ...); the text says what and where
};

inline constexpr std::uint32_t kStreamVersion = 1;

// Sizes of the parts, for the writer's total.
std::uint64_t header_size(std::size_t text_size);
std::uint64_t object_size(std::size_t name_size, std::uint64_t vertices, std::uint64_t polygons, std::uint64_t corners);

// Where the writer's bytes go: a buffer in tests, the pipe in the import child.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(const void* data, std::size_t size) = 0;
};

class VectorSink final : public ByteSink {
public:
    void write(const void* data, std::size_t size) override;
    std::vector<std::byte> bytes;
};

// Writes the stream in order: header() once, then per object: object() and its three arrays.
class StreamWriter {
public:
    explicit StreamWriter(ByteSink& sink) : sink_(sink) {}
    void header(Kind kind, std::uint64_t total, std::uint32_t objects, std::uint64_t points, std::uint64_t lines,
                std::string_view text);
    // A stream that is only a header: a refusal or bad data.
    void failure(Kind kind, std::string_view text) { header(kind, header_size(text.size()), 0, 0, 0, text); }
    void object(std::uint32_t mesh_index, std::string_view name, std::uint32_t vertices, std::uint32_t polygons,
                std::uint32_t corners);
    void floats(const float* data, std::size_t count) { sink_.write(data, count * sizeof(float)); }
    void u32s(const std::uint32_t* data, std::size_t count) { sink_.write(data, count * sizeof(std::uint32_t)); }

private:
    void padded(std::string_view text);
    ByteSink& sink_;
};

// Where the reader's bytes come from: the pipe from the import child, or memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `size` bytes into `data`; returns 0 only at the end of the stream.
    virtual std::size_t read(void* data, std::size_t size) = 0;
};

class SpanSource final : public ByteSource {
public:
    explicit SpanSource(std::span<const std::byte> bytes) : bytes_(bytes) {}
    std::size_t read(void* data, std::size_t size) override;

private:
    std::span<const std::byte> bytes_;
};

// A stream that does not hold what its header says, or breaks a rule of ImportResult's mesh.
class StreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Decoded {
    Kind kind = Kind::result;
    std::string text;                         // refused, bad_data
    ImportResult result;                      // result: names as sent (possibly empty), messages empty
    std::vector<std::uint32_t> mesh_indices;  // per object, strictly increasing
};

// Reads a whole stream, then expects the source to end. A stream whose header claims more than
// `max_total` bytes is refused before anything is allocated. Throws StreamError saying what is wrong.
Decoded decode_stream(ByteSource& in, std::uint64_t max_total);
Decoded decode_stream(std::span<const std::byte> bytes);

// Final names, the names as sent kept as mesh.source_names: an empty name becomes "mesh<index>", a repeated
// one a number (unique_names.h: "Cube", "Cube", "Cube1" give "Cube", "Cube2", "Cube1"), as the host
// names objects.
void assign_names(PolygonMesh& mesh, std::span<const std::uint32_t> mesh_indices);

}  // namespace torvel::importer::detail
