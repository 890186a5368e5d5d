// Deterministic test meshes for the benchmarks: a grid of cells, most of them flat quads, a share of
// them bent by lifting one corner out of the plane, a few flat pentagons and hexagons mixed in.
// The same options always give the same mesh, byte for byte, on every platform.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "mesh_io.h"

namespace torvel::bench {

struct GenOptions {
    std::uint64_t faces = 1000;  // grid cells; each becomes one polygon
    double bent = 0.1;           // share of cells with one corner lifted
    double ngons = 0.02;         // share of cells made pentagons or hexagons (half each)
    double offset = 0.25;        // height of a lifted corner, in cell sizes (0.25: about 14 degrees)
    std::uint64_t seed = 1;
};

// splitmix64: small, fast and fully specified, unlike the standard distributions.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1), 53 bits.
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    // Uniform integer in [lo, hi].
    std::int64_t between(std::int64_t lo, std::int64_t hi) {
        return lo + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(hi - lo + 1));
    }

private:
    std::uint64_t state_;
};

// What the generator made, for reporting.
struct GenSummary {
    std::uint64_t quads = 0, pentagons = 0, hexagons = 0, bent = 0;
};

torvel::PolygonMesh generate(const GenOptions& options, GenSummary* summary = nullptr);

// Plain writers: OBJ text (v and f lines, and `o NAME` where each of PolygonMesh::objects starts) and binary
// little-endian PLY (double xyz, uchar/uint face lists). Coordinates are written in their shortest round-trip
// form. Throw std::runtime_error.
void write_obj(const std::filesystem::path& path, const torvel::PolygonMesh& mesh, const std::string& comment);
void write_ply(const std::filesystem::path& path, const torvel::PolygonMesh& mesh, const std::string& comment);

}  // namespace torvel::bench
