// Which of Assimp's importers reads a file, shared by the parent (before it forks) and the child.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace torvel::importer::detail {

// Indices of Assimp's importers (as Assimp::Importer::GetImporter counts them) that claim the file name's
// ending, in Assimp's order; several for a shared extension such as "xml" or "gltf", none for a name
// formats() does not cover (obj, ply and off included).
std::vector<std::size_t> importers_for(std::string_view filename);

}  // namespace torvel::importer::detail
