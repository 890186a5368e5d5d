// What a built shared library exports, read with binutils' nm.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace torvel::test {

// The names of the defined symbols in the dynamic symbol table of `library`, demangled when asked;
// nullopt when nm cannot be run or prints nothing.
std::optional<std::vector<std::string>> defined_dynamic_symbols(const std::string& library, bool demangle);

}  // namespace torvel::test
