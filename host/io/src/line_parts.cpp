#include "line_parts.h"

#include "text_util.h"
#include "work_threads.h"

#include <algorithm>

namespace torvel::io::detail {

std::size_t line_part_bytes(std::size_t rest, unsigned threads, std::size_t part_records) {
    if (part_records) return 8 * part_records;
    return std::max<std::size_t>(std::size_t{1} << 20, rest / (4 * std::max(threads, 1u)));
}

std::optional<LineParts> cut_lines(std::string_view text, std::size_t first, std::size_t count, std::size_t part_bytes,
                                   unsigned threads) {
    LineParts out;
    out.first = first;
    if (count == 0) return out;
    part_bytes = std::max<std::size_t>(part_bytes, 1);
    std::vector<std::size_t> ends;  // each part's end: past a line end, or the end of the text
    for (std::size_t at = first; at < text.size();) {
        const std::size_t nl = text.find('\n', std::min(text.size() - 1, at + part_bytes - 1));
        at = nl == std::string_view::npos ? text.size() : nl + 1;
        ends.push_back(at);
    }
    std::vector<std::size_t> lines(ends.size());
    run_tasks(threads, ends.size(), [&](std::size_t k) {
        const std::size_t b = k ? ends[k - 1] : first;
        lines[k] = static_cast<std::size_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(b),
                                                       text.begin() + static_cast<std::ptrdiff_t>(ends[k]), '\n'));
        if (ends[k] == text.size() && ends[k] > b && text.back() != '\n') ++lines[k];  // a last line unended
    });
    // The parts up to the one holding the count-th line, that one cut after it.
    std::size_t parts = 0;
    while (out.first_line.back() < count) {
        if (parts == ends.size()) return std::nullopt;
        out.first_line.push_back(std::min(count, out.first_line.back() + lines[parts++]));
    }
    std::size_t at = parts > 1 ? ends[parts - 2] : first;
    for (std::size_t l = out.first_line[parts - 1]; l < count; ++l) {
        const std::size_t nl = text.find('\n', at);
        at = nl == std::string_view::npos ? text.size() : nl + 1;
    }
    ends.resize(parts);
    ends[parts - 1] = at;
    out.ends = std::move(ends);
    return out;
}

bool append_faces(PolygonMesh& mesh, const std::vector<PartFaces>& parts, unsigned threads) {
    std::vector<std::size_t> corners_before(parts.size() + 1, mesh.indices.size());
    std::vector<std::size_t> faces_before(parts.size() + 1, mesh.offsets.size());
    for (std::size_t k = 0; k < parts.size(); ++k) {
        corners_before[k + 1] = corners_before[k] + parts[k].indices.size();
        faces_before[k + 1] = faces_before[k] + parts[k].sizes.size();
    }
    if (corners_before.back() > max_u32) return false;
    mesh.indices.resize(corners_before.back());
    mesh.offsets.resize(faces_before.back());
    run_tasks(threads, parts.size(), [&](std::size_t k) {
        std::copy(parts[k].indices.begin(), parts[k].indices.end(),
                  mesh.indices.begin() + static_cast<std::ptrdiff_t>(corners_before[k]));
        std::size_t corner = corners_before[k];
        for (std::size_t f = 0; f < parts[k].sizes.size(); ++f) {
            corner += parts[k].sizes[f];
            mesh.offsets[faces_before[k] + f] = static_cast<std::uint32_t>(corner);
        }
    });
    return true;
}

}  // namespace torvel::io::detail
