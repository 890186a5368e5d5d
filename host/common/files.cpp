#include "files.h"

#include <system_error>

namespace torvel {

namespace fs = std::filesystem;

bool same_file(const fs::path& a, const fs::path& b) {
    std::error_code ea, eb;
    const bool a_exists = fs::exists(a, ea), b_exists = fs::exists(b, eb);
    if (a_exists && b_exists) {
        std::error_code ec;
        return fs::equivalent(a, b, ec);
    }
    const fs::path ca = fs::weakly_canonical(fs::absolute(a, ea), ea);
    const fs::path cb = fs::weakly_canonical(fs::absolute(b, eb), eb);
    return !ea && !eb && ca == cb;
}

}  // namespace torvel
