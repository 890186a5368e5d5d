// The format table, read once from Assimp's own importer descriptions.
#include "formats.h"

#include <assimp/Importer.hpp>
#include <assimp/importerdesc.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "importer.h"

namespace torvel::importer {

namespace {

// torvel's exact readers (host/io) take these, never Assimp.
constexpr std::string_view kOwnReaders[] = {"obj", "ply", "off"};

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

struct Entry {
    std::size_t importer = 0;
    Format format;
};

struct Table {
    std::vector<Entry> entries;
    std::vector<Format> formats;
};

const Table& table() {
    static const Table t = [] {
        Table out;
        const Assimp::Importer assimp;
        for (std::size_t i = 0; i < assimp.GetImporterCount(); ++i) {
            const aiImporterDesc* desc = assimp.GetImporterInfo(i);
            if (!desc || !desc->mFileExtensions) continue;
            Entry e{i, {}};
            e.format.description = desc->mName ? desc->mName : "";
            // Assimp separates extensions by spaces; older descriptions wrote "*.x;*.y".
            std::string_view list = desc->mFileExtensions;
            while (!list.empty()) {
                const std::size_t end = std::min(list.find_first_of(" ;"), list.size());
                std::string_view ext = list.substr(0, end);
                list.remove_prefix(std::min(end + 1, list.size()));
                if (ext.starts_with("*")) ext.remove_prefix(1);
                if (ext.starts_with(".")) ext.remove_prefix(1);
                std::string x = lower(ext);
                if (x.empty() || std::find(std::begin(kOwnReaders), std::end(kOwnReaders), x) != std::end(kOwnReaders))
                    continue;
                if (std::find(e.format.extensions.begin(), e.format.extensions.end(), x) == e.format.extensions.end())
                    e.format.extensions.push_back(std::move(x));
            }
            if (e.format.extensions.empty()) continue;
            out.formats.push_back(e.format);
            out.entries.push_back(std::move(e));
        }
        return out;
    }();
    return t;
}

bool claims(const Format& f, std::string_view lower_name) {
    for (const std::string& ext : f.extensions)
        if (lower_name.size() > ext.size() && lower_name.ends_with(ext) &&
            lower_name[lower_name.size() - ext.size() - 1] == '.')
            return true;
    return false;
}

}  // namespace

const std::vector<Format>& formats() { return table().formats; }

bool handles(const std::filesystem::path& path) { return !detail::importers_for(path.filename().string()).empty(); }

std::uint64_t default_megabytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page <= 0) return 4096;
    const std::uint64_t half = static_cast<std::uint64_t>(pages) / 2 * static_cast<std::uint64_t>(page) >> 20;
    return std::max<std::uint64_t>(half, 256);
}

namespace detail {

std::vector<std::size_t> importers_for(std::string_view filename) {
    const std::string name = lower(filename);
    std::vector<std::size_t> out;
    for (const Entry& e : table().entries)
        if (claims(e.format, name)) out.push_back(e.importer);
    return out;
}

}  // namespace detail

}  // namespace torvel::importer
