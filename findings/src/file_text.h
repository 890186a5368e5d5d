// The bytes of a small text file the findings read (torvel.toml, a baseline).
#pragma once

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace torvel::findings::detail {

// The file's bytes; throws Error("PATH: cannot open: REASON") or ("PATH: cannot read: REASON").
template <class Error>
std::string file_text(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw Error(file.string() + ": cannot open: " + std::generic_category().message(errno));
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) throw Error(file.string() + ": cannot read: " + std::generic_category().message(errno));
    return bytes.str();
}

}  // namespace torvel::findings::detail
