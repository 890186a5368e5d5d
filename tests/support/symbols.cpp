#include "symbols.h"

#include <cstdio>
#include <memory>
#include <sstream>

namespace torvel::test {

std::optional<std::vector<std::string>> defined_dynamic_symbols(const std::string& library, bool demangle) {
    // The POSIX format puts the name first and ends it at the last space of the line, so demangled
    // names, which contain spaces, are cut at the type letter that follows them.
    const std::string command =
        std::string("nm -D --defined-only --format=posix ") + (demangle ? "-C '" : "'") + library + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return std::nullopt;
    std::string output;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get())) output.append(buffer, n);
    std::vector<std::string> names;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        // NAME TYPE [VALUE [SIZE]]: the type is the one-letter field after the name.
        std::size_t end = line.size();
        for (std::size_t pos = line.find(' '); pos != std::string::npos; pos = line.find(' ', pos + 1))
            if (pos + 2 <= line.size() && (pos + 2 == line.size() || line[pos + 2] == ' ')) {
                end = pos;
                break;
            }
        names.push_back(line.substr(0, end));
    }
    if (names.empty()) return std::nullopt;
    return names;
}

}  // namespace torvel::test
