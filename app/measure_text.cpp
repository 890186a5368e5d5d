// What torvel check prints of the measures (--details, --histogram) and where it writes pictures (--image).
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <set>

#include "app.h"

namespace torvel::app {

namespace {

constexpr std::size_t kBarWidth = 40;

std::string fixed(double value, const char* format) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

}  // namespace

std::vector<std::string> detail_lines(std::span<const PolygonDetail> details) {
    std::vector<std::string> lines;
    for (const PolygonDetail& d : details) {
        std::string line =
            "  polygon " + std::to_string(d.index) + " (" + d.object + ", " + std::to_string(d.vertices) + " vertices";
        if (d.line) line += ", line " + std::to_string(*d.line);
        line += "): ";
        if (d.degenerate)
            line += "degenerate at corner " + std::to_string(d.degenerate->corner) + " (" +
                    std::string(geometry::cause_text(d.degenerate->cause)) + ")";
        else if (d.bend && !std::isnan(*d.bend))
            line += "bend " + fixed(*d.bend, "%.2f") + "\u00b0";
        else
            line += "bend not measurable (a coordinate is not finite)";
        if (d.out_of_plane) line += ", out of plane " + fixed(*d.out_of_plane, "%.4g");
        lines.push_back(std::move(line));
    }
    return lines;
}

namespace {

std::string band_name(std::size_t k) {
    return format_number(geometry::kBendBandEdges[k]) + "-" + format_number(geometry::kBendBandEdges[k + 1]) + "\u00b0";
}

}  // namespace

std::vector<std::string> histogram_lines(const geometry::BendHistogram& h, const std::string& title, bool bars) {
    std::vector<std::string> lines{title + " of " + std::to_string(h.measured()) + " polygons of 4 or more vertices:"};
    std::uint64_t most = h.degenerate;
    for (const std::uint64_t c : h.bands) most = std::max(most, c);
    auto row = [&](const std::string& name, std::uint64_t count) {
        char buf[64];
        // The degree sign is two bytes and one column: pad as if it were one.
        const int pad = name.find("\u00b0") == std::string::npos ? 12 : 13;
        std::snprintf(buf, sizeof buf, "    %-*s%10" PRIu64, pad, name.c_str(), count);
        std::string line = buf;
        if (bars && count > 0) {
            const std::size_t width = std::max<std::size_t>(1, static_cast<std::size_t>(count * kBarWidth / most));
            line += ' ';
            for (std::size_t i = 0; i < width; ++i) line += "\u2588";
        }
        lines.push_back(std::move(line));
    };
    for (std::size_t k = 0; k < h.bands.size(); ++k) row(band_name(k), h.bands[k]);
    row("degenerate", h.degenerate);
    if (h.not_finite) row("not finite", h.not_finite);
    std::string reported = "    reported at";
    const auto at = h.reported();
    for (std::size_t k = 0; k < at.size(); ++k)
        reported += (k ? ", " : " ") + format_number(geometry::kBendBandEdges[k]) + "\u00b0: " + std::to_string(at[k]);
    lines.push_back(std::move(reported));
    return lines;
}

std::vector<fs::path> image_paths(const fs::path& image, std::span<const MeshInput> inputs) {
    std::error_code ec;
    std::vector<fs::path> out(inputs.size());
    if (inputs.size() == 1 && !fs::is_directory(image, ec)) {
        if (ascii_lowered(image.extension().string()) != ".png")
            throw UsageError("--image " + image.string() + ": pictures are PNG files; name one ending in .png" +
                             " (or a folder)");
        if (!inputs.front().failure) out.front() = image;
        return out;
    }
    // A new folder named like a picture is almost always a picture name meant for one file.
    const bool png_name = ascii_lowered(image.extension().string()) == ".png";
    if ((fs::exists(image, ec) || png_name) && !fs::is_directory(image, ec))
        throw UsageError("--image " + image.string() + ": the run checks " + std::to_string(inputs.size()) +
                         " mesh files, one picture each: name a folder");
    if (!fs::is_directory(image, ec) && !fs::create_directories(image, ec) && ec)
        throw FileError("--image " + image.string() + ": cannot make the folder: " + ec.message(), {},
                        ErrorCode::write_failed);
    std::set<std::string> used;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (inputs[i].failure) continue;
        const std::string base = fs::path(inputs[i].path).filename().string();
        std::string name = base + ".png";
        for (int n = 2; used.count(name); ++n) name = base + "-" + std::to_string(n) + ".png";
        used.insert(name);
        out[i] = image / name;
    }
    return out;
}

void write_image(const fs::path& path, std::span<const unsigned char> png, const RunFiles& files) {
    OutputFile file(path, path.string(), &files, role::picture);
    file.write(std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
    file.commit();
}

}  // namespace torvel::app
