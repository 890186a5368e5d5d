// The stream from the import child, read as torvel reads it: anything that is not exactly a valid
// stream is a StreamError, never a crash, a hang or an allocation the bytes do not back.
#include <cmath>
#include <cstring>
#include <limits>

#include "importer_test_util.h"
#include "stream.h"

using namespace torvel::importer;
using namespace torvel::importer::detail;

namespace {

struct Obj {
    std::uint32_t mesh;
    std::string name;
    std::vector<float> xyz;
    std::vector<std::uint32_t> offsets, indices;
};

std::vector<std::byte> encode(const std::vector<Obj>& objs, std::uint64_t points = 0, std::uint64_t lines = 0) {
    VectorSink sink;
    StreamWriter w(sink);
    std::uint64_t total = header_size(0);
    for (const Obj& o : objs)
        total += object_size(o.name.size(), o.xyz.size() / 3, o.offsets.size() - 1, o.indices.size());
    w.header(Kind::result, total, static_cast<std::uint32_t>(objs.size()), points, lines, {});
    for (const Obj& o : objs) {
        w.object(o.mesh, o.name, static_cast<std::uint32_t>(o.xyz.size() / 3),
                 static_cast<std::uint32_t>(o.offsets.size() - 1), static_cast<std::uint32_t>(o.indices.size()));
        w.floats(o.xyz.data(), o.xyz.size());
        w.u32s(o.offsets.data(), o.offsets.size());
        w.u32s(o.indices.data(), o.indices.size());
    }
    EXPECT_EQ(sink.bytes.size(), total);
    return sink.bytes;
}

const Obj kQuad{2, "Quad", {0, 0, 0, 1, 0, 0, 1, 1, 0.5f, 0, 1, 0}, {0, 4}, {0, 1, 2, 3}};
const Obj kPair{5, "", {0, 0, 1, 1, 0, 1, 1, 1, 1, 0, 1, 1, 2, 0, 1}, {0, 3, 7}, {0, 1, 2, 1, 4, 2, 3}};

// Offsets of fields inside encode({kQuad}): header 48, then the object record.
constexpr std::size_t kObject = 48, kVertices = kObject + 8, kFirstIndex = kObject + 24 + 4 + 48 + 8;

template <class T>
void poke(std::vector<std::byte>& b, std::size_t at, T v) {
    std::memcpy(b.data() + at, &v, sizeof v);
}

void expect_stream_error(const std::vector<std::byte>& b, const std::string& part) {
    try {
        decode_stream(b);
        ADD_FAILURE() << "decoded; expected an error about " << part;
    } catch (const StreamError& e) {
        EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
    }
}

// Hands out one byte per read, as a pipe may.
class Trickle final : public ByteSource {
public:
    explicit Trickle(const std::vector<std::byte>& b) : b_(b) {}
    std::size_t read(void* data, std::size_t size) override {
        if (at_ == b_.size() || size == 0) return 0;
        std::memcpy(data, b_.data() + at_++, 1);
        return 1;
    }

private:
    const std::vector<std::byte>& b_;
    std::size_t at_ = 0;
};

}  // namespace

TEST(Stream, RoundTripKeepsEverything) {
    const auto bytes = encode({kQuad, kPair}, 3, 4);
    Trickle slow(bytes);
    for (const Decoded& d : {decode_stream(bytes), decode_stream(slow, bytes.size())}) {
        ASSERT_EQ(d.kind, Kind::result);
        EXPECT_EQ(d.result.skipped_points, 3u);
        EXPECT_EQ(d.result.skipped_lines, 4u);
        EXPECT_EQ(d.mesh_indices, (std::vector<std::uint32_t>{2, 5}));
        // One mesh: the pair's vertices after the quad's, its polygons after the quad's.
        const torvel::PolygonMesh& m = d.result.mesh;
        ASSERT_EQ(m.objects.size(), 2u);
        EXPECT_EQ(m.objects[0].name, "Quad");
        EXPECT_EQ(m.objects[1].name, "");
        EXPECT_EQ(m.objects[0].first, 0u);
        EXPECT_EQ(m.objects[1].first, 1u);
        EXPECT_EQ(m.objects[0].first_vertex, 0u);
        EXPECT_EQ(m.objects[1].first_vertex, 4u);
        EXPECT_EQ(m.positions, (std::vector<double>{0, 0, 0, 1, 0, 0, 1, 1, 0.5, 0, 1, 0, 0, 0,
                                                    1, 1, 0, 1, 1, 1, 1, 0, 1,   1, 2, 0, 1}));
        EXPECT_EQ(m.offsets, (std::vector<std::uint32_t>{0, 4, 7, 11}));
        EXPECT_EQ(m.indices, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 5, 8, 6, 7}));
        EXPECT_TRUE(m.warnings.empty());
    }
    VectorSink sink;
    StreamWriter(sink).failure(Kind::refused, "FBX-Parser unexpected end of file");
    const Decoded refused = decode_stream(sink.bytes);
    EXPECT_EQ(refused.kind, Kind::refused);
    EXPECT_EQ(refused.text, "FBX-Parser unexpected end of file");
}

// Every prefix of a valid stream, and the stream with bytes after it, is refused.
TEST(Stream, TruncatedOrExtendedIsRefused) {
    const auto bytes = encode({kQuad, kPair});
    for (std::size_t n = 0; n < bytes.size(); ++n)
        EXPECT_THROW(decode_stream(std::vector<std::byte>(bytes.begin(), bytes.begin() + n)), StreamError) << n;
    auto longer = bytes;
    longer.push_back(std::byte{0});
    expect_stream_error(longer, "more bytes than the header announced");
}

TEST(Stream, CorruptFieldsAreRefused) {
    const auto good = encode({kQuad});
    auto b = good;
    b[0] = std::byte{'X'};
    expect_stream_error(b, "bad magic");
    (b = good, poke<std::uint32_t>(b, 4, 2));
    expect_stream_error(b, "version 2");
    (b = good, poke<std::uint32_t>(b, 8, 9));
    expect_stream_error(b, "unknown stream kind 9");
    (b = good, poke<std::uint32_t>(b, 12, 1000000));
    expect_stream_error(b, "objects cannot fit");
    (b = good, poke<std::uint32_t>(b, kVertices, 0xFFFFFFFFu));
    expect_stream_error(b, "positions");
    (b = good, poke<std::uint32_t>(b, kFirstIndex + 8, 4));  // index 4 in a 4-vertex object
    expect_stream_error(b, "vertex index 4 out of range");
    (b = good, poke<float>(b, kObject + 24 + 4 + 8, std::numeric_limits<float>::quiet_NaN()));
    expect_stream_error(b, "not finite");
    (b = good, poke<float>(b, kObject + 24 + 4, std::numeric_limits<float>::infinity()));
    expect_stream_error(b, "not finite");
    (b = good, poke<std::uint32_t>(b, kFirstIndex - 4, 3));  // the last offset short of the indices
    expect_stream_error(b, "offsets do not span the indices");
    b = encode({{2, "abc", kQuad.xyz, kQuad.offsets, kQuad.indices}});
    poke<std::uint8_t>(b, kObject + 24 + 3, 1);  // the byte that pads "abc" to 4
    expect_stream_error(b, "non-zero padding after an object name");
    expect_stream_error(encode({kPair, kQuad}), "mesh indices out of order");  // mesh 5 before mesh 2
    // A later object's index is checked against its own vertices, not those of the objects before it.
    expect_stream_error(encode({kQuad, {5, "", kPair.xyz, kPair.offsets, {0, 1, 2, 1, 5, 2, 3}}}),
                        "object 1: vertex index 5 out of range (5 vertices)");
    expect_stream_error(encode({{0, "t", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 2, 6}, {0, 1, 0, 1, 2, 0}}}),
                        "polygon 0 has fewer than 3 corners");
}

// The total in the header is checked against the caller's bound before anything is reserved.
TEST(Stream, AClaimBeyondTheBoundIsRefusedFirst) {
    auto b = encode({kQuad});
    poke<std::uint64_t>(b, 24, std::uint64_t{1} << 40);
    SpanSource src(b);
    try {
        decode_stream(src, 1 << 20);
        ADD_FAILURE() << "decoded a stream that claims a terabyte";
    } catch (const StreamError& e) {
        EXPECT_NE(std::string(e.what()).find("more than the 1048576 allowed"), std::string::npos) << e.what();
    }
}

TEST(Stream, NamesAreCompletedAndMadeUnique) {
    auto named = [](std::vector<std::string> names, std::vector<std::uint32_t> mesh_indices) {
        torvel::PolygonMesh mesh;
        for (std::string& n : names) mesh.objects.push_back({std::move(n), 0, 0});
        assign_names(mesh, mesh_indices);
        return mesh;
    };
    auto names_of = [](const torvel::PolygonMesh& mesh) {
        std::vector<std::string> got;
        for (const auto& o : mesh.objects) got.push_back(o.name);
        return got;
    };
    const torvel::PolygonMesh objs = named({"Cube", "", "Cube", "mesh1", "Cube"}, {0, 1, 2, 3, 7});
    EXPECT_EQ(names_of(objs), (std::vector<std::string>{"Cube", "mesh1", "Cube1", "mesh11", "Cube2"}));
    EXPECT_EQ(objs.source_names, (std::vector<std::string>{"Cube", "", "Cube", "mesh1", "Cube"}));

    // A number never makes a name the file has itself.
    const torvel::PolygonMesh file = named({"Cube", "Cube", "Cube1", "Cube"}, {0, 1, 2, 3});
    EXPECT_EQ(names_of(file), (std::vector<std::string>{"Cube", "Cube2", "Cube1", "Cube3"}));
    EXPECT_EQ(file.source_name(1), "Cube");
}
