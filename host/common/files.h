// File identity: the one rule by which the host and the program tell whether two paths are one file.
#pragma once

#include <filesystem>

namespace torvel {

// Two paths name the same file when both exist and are one file by identity (device and inode, after
// following symbolic links), or, when either does not exist, when their absolute forms with every
// existing part resolved (std::filesystem::weakly_canonical) are equal.
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace torvel
