#include "files.h"

namespace torvel {

namespace fs = std::filesystem;

namespace {

fs::path comparable_form(const fs::path& p) {
    std::error_code ec;
    fs::path absolute = fs::absolute(p, ec);
    if (ec) absolute = p;
    // A link whose target does not exist yet names that target, as an output written through it
    // creates it; weakly_canonical would keep the link's own name.
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(absolute, ec)); ++hops) {
        const fs::path next = fs::read_symlink(absolute, ec);
        if (ec) break;
        absolute = next.is_absolute() ? next : absolute.parent_path() / next;
    }
    fs::path canonical = fs::weakly_canonical(absolute, ec);
    // weakly_canonical gives up on a folder it may not search; the spelling is then the best there is.
    if (ec || canonical.empty()) return absolute.lexically_normal();
    return canonical;
}

}  // namespace

bool same_file(const fs::path& a, const fs::path& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code ea, eb;
    if (fs::exists(a, ea) && fs::exists(b, eb)) {
        std::error_code ec;
        const bool same = fs::equivalent(a, b, ec);
        if (!ec) return same;
        // One of them went away between the two checks: compared as a file that does not exist.
    }
    return comparable_form(a) == comparable_form(b);
}

}  // namespace torvel
