#include "run_files.h"

#include "errors.h"
#include "files.h"

namespace torvel {

namespace fs = std::filesystem;

void RunFiles::add_input(fs::path path, std::string_view role) {
    files_.push_back({std::move(path), std::string(role), {}, false});
}

void RunFiles::add_output(fs::path path, std::string_view role, std::string shown) {
    files_.push_back({std::move(path), std::string(role), std::move(shown), true});
}

const RunFile* RunFiles::clash(const fs::path& path, std::string_view role) const {
    for (const RunFile& f : files_)
        if (!(f.output && !role.empty() && f.role == role) && same_file(path, f.path)) return &f;
    return nullptr;
}

void RunFiles::refuse_clashes() {
    for (std::size_t i = 0; i < files_.size(); ++i) {
        const RunFile& out = files_[i];
        if (!out.output) continue;
        // The files read win over every output, wherever they were registered; of two outputs, the
        // later one is refused (the log, registered last, rather than the mesh it would replace).
        const RunFile* clash = nullptr;
        for (const RunFile& f : files_)
            if (!f.output && same_file(out.path, f.path)) {
                clash = &f;
                break;
            }
        for (std::size_t j = 0; !clash && j < i; ++j)
            if (files_[j].output && same_file(out.path, files_[j].path)) clash = &files_[j];
        if (clash) {
            refused_ = i;
            throw FileError(refusal_text(out.shown, *clash), out.shown, ErrorCode::output_refused);
        }
    }
}

std::string refusal_text(std::string_view shown, const RunFile& clash) {
    return std::string(shown) + ": refusing to overwrite " + clash.role + " " + clash.path.string();
}

}  // namespace torvel
