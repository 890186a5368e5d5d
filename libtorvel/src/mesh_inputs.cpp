// A run's inputs made into the list of files to check: folders are searched.
#include <algorithm>

#include "mesh_load.h"
#include "torvel/torvel.h"

namespace torvel {

namespace fs = std::filesystem;

namespace {

MeshInput failed(const std::string& path, std::string message, ErrorCode code) {
    return {path, FileFailure{path, std::move(message), code}};
}

bool is_mesh_name(const fs::path& p) { return searched_in_folders(p); }

// Adds the mesh files under `dir` to `found`, and a folder that cannot be read to `problems`. Links
// are looked at, not through: a link to a file counts as that file, a link to a folder is skipped (it
// could lead back up the tree, or out of it).
void search(const fs::path& dir, std::vector<MeshInput>& found) {
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    if (ec) {
        found.push_back(
            failed(dir.string(), dir.string() + ": cannot read the folder: " + ec.message(), ErrorCode::unreadable));
        return;
    }
    for (; it != end; it.increment(ec)) {
        const fs::directory_entry& entry = *it;
        std::error_code e;
        if (entry.is_symlink(e)) {
            if (is_mesh_name(entry.path()) && fs::is_regular_file(entry.path(), e))
                found.push_back({entry.path().string(), {}});
        } else if (entry.is_directory(e)) {
            search(entry.path(), found);
        } else if (entry.is_regular_file(e) && is_mesh_name(entry.path())) {
            found.push_back({entry.path().string(), {}});
        }
    }
    if (ec)
        found.push_back(
            failed(dir.string(), dir.string() + ": cannot read the folder: " + ec.message(), ErrorCode::unreadable));
}

}  // namespace

std::vector<MeshInput> find_mesh_files(std::span<const std::string> meshes) {
    std::vector<MeshInput> inputs;
    for (const std::string& given : meshes) {
        std::error_code ec;
        if (!fs::is_directory(given, ec)) {
            inputs.push_back({given, {}});
            continue;
        }
        std::vector<MeshInput> found;
        search(given, found);
        // Path order compares folder by folder, so a folder's files stay together.
        std::stable_sort(found.begin(), found.end(),
                         [](const MeshInput& a, const MeshInput& b) { return fs::path(a.path) < fs::path(b.path); });
        if (found.empty())
            found.push_back(
                failed(given, given + ": no mesh file in this folder or below it", ErrorCode::empty_folder));
        inputs.insert(inputs.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
    }
    return inputs;
}

}  // namespace torvel
