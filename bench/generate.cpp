// torvel_generate: writes a deterministic benchmark mesh.
//
//   torvel_generate --quads N [--bent SHARE] [--ngons SHARE] [--offset H] [--seed S] [--format obj|ply] OUT
//
// N is the number of grid cells (1000 to 4000000 in the benchmarks); the format defaults to OUT's extension.
#include <charconv>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "meshgen.h"

namespace {

[[noreturn]] void usage(const std::string& why) {
    std::cerr << "torvel_generate: " << why << "\n"
              << "usage: torvel_generate --quads N [--bent SHARE] [--ngons SHARE] [--offset H] [--seed S]"
                 " [--format obj|ply] OUT\n";
    std::exit(2);
}

template <class T>
T number(std::string_view flag, const char* text) {
    T value{};
    const std::string_view s(text);
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || ptr != s.data() + s.size()) usage("bad value for " + std::string(flag) + ": " + text);
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    torvel::bench::GenOptions options;
    std::string format, out;
    bool have_count = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) usage(std::string(a) + " needs a value");
            return argv[++i];
        };
        if (a == "--quads" || a == "--faces") {
            options.faces = number<std::uint64_t>(a, value());
            have_count = true;
        } else if (a == "--bent")
            options.bent = number<double>(a, value());
        else if (a == "--ngons")
            options.ngons = number<double>(a, value());
        else if (a == "--offset")
            options.offset = number<double>(a, value());
        else if (a == "--seed")
            options.seed = number<std::uint64_t>(a, value());
        else if (a == "--format")
            format = value();
        else if (a == "-h" || a == "--help")
            usage("writes a grid mesh of N polygons");
        else if (!a.empty() && a[0] == '-')
            usage("unknown option " + std::string(a));
        else if (out.empty())
            out = a;
        else
            usage("more than one output file");
    }
    if (!have_count) usage("--quads is required");
    if (out.empty()) usage("no output file");
    if (!(options.bent >= 0 && options.bent <= 1) || !(options.ngons >= 0 && options.ngons <= 1))
        usage("shares must be between 0 and 1");
    if (format.empty()) {
        const auto dot = out.rfind('.');
        format = dot == std::string::npos ? "" : out.substr(dot + 1);
    }
    if (format != "obj" && format != "ply") usage("format must be obj or ply");

    try {
        torvel::bench::GenSummary s;
        const auto mesh = torvel::bench::generate(options, &s);
        const std::string comment = "torvel_generate --quads " + std::to_string(options.faces) + " --bent " +
                                    std::to_string(options.bent) + " --ngons " + std::to_string(options.ngons) +
                                    " --offset " + std::to_string(options.offset) + " --seed " +
                                    std::to_string(options.seed);
        if (format == "obj")
            torvel::bench::write_obj(out, mesh, comment);
        else
            torvel::bench::write_ply(out, mesh, comment);
        std::cout << out << ": " << mesh.vertex_count() << " vertices, " << mesh.polygon_count() << " polygons ("
                  << s.quads << " quads, " << s.pentagons << " pentagons, " << s.hexagons << " hexagons; " << s.bent
                  << " bent)\n";
    } catch (const std::exception& e) {
        std::cerr << "torvel_generate: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
