#include "io_test_util.h"

using namespace torvel::io;
using iotest::expect_error;
using iotest::polygons;
using P = std::vector<std::vector<std::uint32_t>>;

TEST(Off, ReadsVerticesFacesCommentsAndColours) {
    PolygonMesh m = parse_off(
        "# leading comment\nOFF\n\n5 2 0  # counts\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n"
        "0.1 2 -0.3\n4 0 1 2 3 255 0 0\n3 4 3 2  # face comment\n",
        "a.off");
    ASSERT_EQ(m.vertex_count(), 5u);
    EXPECT_EQ(m.positions[12], 0.1);
    EXPECT_EQ(m.positions[14], -0.3);
    EXPECT_EQ(polygons(m), (P{{0, 1, 2, 3}, {4, 3, 2}}));
    // Counts on the header line; COFF vertices carry colours; NOFF normals.
    EXPECT_EQ(parse_off("COFF 3 1 0\n0 0 0 1 0 0 1\n1 0 0 1 0 0 1\n0 1 0 1 0 0 1\n3 0 1 2\n", "c.off").polygon_count(),
              1u);
    EXPECT_EQ(parse_off("NOFF\n3 1\n0 0 0 0 0 1\n1 0 0 0 0 1\n0 1 0 0 0 1\n3 2 1 0\n", "n.off").indices[0], 2u);
}

TEST(Off, BadInputNamesFileAndLine) {
    auto bad = [](const std::string& text, std::initializer_list<std::string> parts) {
        expect_error([&] { parse_off(text, "m.off"); }, parts);
    };
    const std::string v3 = "0 0 0\n1 0 0\n0 1 0\n";
    bad("", {"m.off", "empty"});
    bad("PLY\n", {"m.off:1:", "not an OFF"});
    bad("4OFF\n", {"m.off:1:", "unsupported"});
    bad("OFF BINARY\n", {"m.off:1:", "binary"});
    bad("OFF\n3\n", {"m.off:2:", "face count"});
    bad("OFF\n3 x 0\n", {"m.off:2:", "'x'"});
    bad("OFF\n99999999999999999999999 1 0\n", {"m.off:2:", "overflows"});
    bad("OFF\n3 1 0\n0 0 0\n1 0\n0 1 0\n3 0 1 2\n", {"m.off:4:", "x y z"});
    bad("OFF\n3 1 0\n0 0 0\n1 0 inf\n0 1 0\n3 0 1 2\n", {"m.off:4:", "not finite"});
    bad("OFF\n3 1 0\n" + v3 + "3 0 1 3\n", {"m.off:6:", "3 out of range"});
    bad("OFF\n3 1 0\n" + v3 + "3 0 -1 2\n", {"m.off:6:", "-1 out of range"});
    bad("OFF\n3 1 0\n" + v3 + "2 0 1\n", {"m.off:6:", "2 vertices"});
    bad("OFF\n3 1 0\n" + v3 + "4 0 1 2\n", {"m.off:6:", "declares 4", "lists 3"});
    bad("OFF\n3 1 0\n" + v3 + "3 0 1 2 1 2 3 4 5\n", {"m.off:6:", "too many"});
    bad("OFF\n3 2 0\n" + v3 + "3 0 1 2\n", {"m.off", "1 of 2 faces"});
    bad("OFF\n3 1 0\n" + v3 + "3 0 1 2\n\n3 0 1 2\n", {"m.off:8:", "after the last face"});
    // Hostile counts: nothing reserved beyond what the text can hold, the shortfall is reported.
    bad("OFF\n4000000000 1000000000000 0\n0 0 0\n", {"m.off", "1 of 4000000000 vertices"});
    bad("OFF\n5000000000 0 0\n", {"m.off:2:", "too many vertices"});
}
