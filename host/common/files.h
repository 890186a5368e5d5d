// File identity for the program and the mesh writers: deciding whether an output would replace an
// input (a log over a mesh, a marked mesh over its source), also through links.
#pragma once

#include <filesystem>

namespace torvel {

// True when `a` and `b` name the same file. The one rule:
// - when both exist, by identity (device and inode, after following symbolic links, as
//   std::filesystem::equivalent decides): different spellings, a symbolic link and a hard link to a
//   file all name that file;
// - when either does not exist, by their absolute forms made weakly canonical (symbolic links resolved
//   in the part of the path that exists, "." and ".." removed, and a link whose target is missing
//   followed to that target): so "out.obj" not yet written beside a link to its folder is the same
//   file as the same name in the folder itself, and a dangling link is the file it would create.
// A path whose existence or canonical form cannot be found (a folder on the way that cannot be searched)
// counts as not existing, and its absolute, lexically normal form stands in for the canonical one.
// An empty path names no file (false). Relative paths are taken from the working directory. Never throws
// (beyond std::bad_alloc).
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace torvel
