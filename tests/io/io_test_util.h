#pragma once

#include "mesh_io.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace iotest {

using TempDir = torvel::test::TempDir;
using torvel::test::read_file;

// Runs f, expects a MeshError whose message contains every one of `parts`.
void expect_error(const std::function<void()>& f, std::initializer_list<std::string> parts);

std::vector<std::vector<std::uint32_t>> polygons(const torvel::PolygonMesh& m);

// What `parse` returns with the readers held to one thread.
torvel::PolygonMesh on_one_thread(const std::function<torvel::PolygonMesh()>& parse);
// The message of the MeshError `parse` throws; std::nullopt when it throws none.
std::optional<std::string> error_of(const std::function<torvel::PolygonMesh()>& parse);
// Every array and message of `a` equal to `b`'s, the coordinates to the bit.
void expect_same_mesh(const torvel::PolygonMesh& a, const torvel::PolygonMesh& b);

// Little/big endian binary builders for PLY tests.
struct Bytes {
    std::string s;
    bool big = false;
    template <class T>
    Bytes& put(T v) {
        unsigned char b[sizeof(T)];
        std::memcpy(b, &v, sizeof(T));
        if (big)
            for (std::size_t i = 0; i < sizeof(T); ++i) s.push_back(static_cast<char>(b[sizeof(T) - 1 - i]));
        else
            s.append(reinterpret_cast<const char*>(b), sizeof(T));
        return *this;
    }
};

}  // namespace iotest
