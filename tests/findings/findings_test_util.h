// A small two-object mesh with a polygon for each rule, and helpers shared by the findings tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "findings.h"

namespace findtest {

// Polygons as corner position lists; an object owns its own vertex arrays.
struct TestObject {
    explicit TestObject(std::string object_name) : name(std::move(object_name)) {}
    std::string name;
    std::vector<double> positions;
    std::vector<std::uint32_t> offsets{0};
    std::vector<std::uint32_t> indices;
    std::vector<std::uint32_t> reported;
    std::vector<std::uint32_t> lines;

    // Adds a polygon with new vertices; returns its index in the object.
    std::uint32_t add(const std::vector<std::array<double, 3>>& corners, bool is_reported, std::uint32_t line = 0) {
        for (const auto& c : corners) {
            indices.push_back(static_cast<std::uint32_t>(positions.size() / 3));
            positions.insert(positions.end(), c.begin(), c.end());
        }
        offsets.push_back(static_cast<std::uint32_t>(indices.size()));
        const auto k = static_cast<std::uint32_t>(offsets.size() - 2);
        if (is_reported) reported.push_back(k);
        if (line) lines.push_back(line);
        return k;
    }
    // The corner positions of polygon k.
    std::vector<std::array<double, 3>> corners(std::size_t k) const {
        std::vector<std::array<double, 3>> out;
        for (std::uint32_t c = offsets[k]; c < offsets[k + 1]; ++c)
            out.push_back({positions[3 * indices[c]], positions[3 * indices[c] + 1], positions[3 * indices[c] + 2]});
        return out;
    }
    torvel::findings::ObjectInput input(std::uint32_t first) const {
        return {name, {positions, offsets, indices}, first, reported, lines};
    }
};

inline std::vector<std::array<double, 3>> square() { return {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}; }
inline std::vector<std::array<double, 3>> raised(double h) { return {{0, 0, 0}, {1, 0, 0}, {1, 1, h}, {0, 1, 0}}; }
// Corner 1 on the line of its neighbours but for `lift` out of the plane.
inline std::vector<std::array<double, 3>> straight_corner(double lift) {
    return {{0, 0, 0}, {0.5, 0, lift}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
}
// A 100 m square facade with one corner 5 cm out.
inline std::vector<std::array<double, 3>> facade() { return {{0, 0, 0}, {100, 0, 0}, {100, 0.05, 100}, {0, 0, 100}}; }

// Object "walls": 0 flat square, 1 raised square (reported), 2 straight corner (reported), 3 noise corner
// (reported), 4 facade, 5 straight corner in a bent polygon (reported). Object "roof": 0 facade (reported),
// 1 square. OBJ lines 10, 11, ... for the walls.
inline std::vector<TestObject> sample() {
    TestObject walls("walls"), roof("roof");
    walls.add(square(), false, 10);
    walls.add(raised(1), true, 11);
    walls.add(straight_corner(0), true, 12);
    walls.add(straight_corner(1e-9), true, 13);
    walls.add(facade(), false, 14);
    auto bent = straight_corner(0);
    bent[3][2] = 0.5;
    walls.add(bent, true, 15);
    roof.add(facade(), true);
    roof.add(square(), false);
    return {walls, roof};
}

inline std::vector<torvel::findings::ObjectInput> inputs(const std::vector<TestObject>& objects) {
    std::vector<torvel::findings::ObjectInput> out;
    std::uint32_t first = 0;
    for (const TestObject& o : objects) {
        out.push_back(o.input(first));
        first += static_cast<std::uint32_t>(o.offsets.size() - 1);
    }
    return out;
}

}  // namespace findtest
