// The exported (defined, global) function names of a shared library, read from its ELF dynamic symbol
// table. A pure reader over bytes: nothing is loaded or run. Every offset and size in the file is
// untrusted and checked before use; no buffer larger than the file is allocated.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace torvel::host {

// Throws HostError naming the path when the file is not a readable ELF shared object.
std::vector<std::string> exported_functions(const std::filesystem::path& path);
// The same for an image in memory; `name` stands for the file in error messages.
std::vector<std::string> exported_functions(std::span<const unsigned char> image, const std::string& name);

}  // namespace torvel::host
