// Distinct names for objects that arrive together (the objects of one file), used by the host's scene and
// by the importer. Each object keeps the name it wants when that name is free and no earlier object of
// the batch took it; any other gets that name with the smallest number appended ("Cube2") that is free,
// that no object of the batch wants and that none was given. So a repeated name never turns into a name
// the batch has itself: "Cube", "Cube", "Cube1" give "Cube", "Cube2", "Cube1".
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace torvel {

// `taken(name)`: whether a name is in use outside the batch. `next(base)`: a std::uint32_t& counter the
// caller keeps for `base`, starting at 1 (the number to try first; left past the number given), so that
// N objects of one name cost O(N) in all, also over many batches, instead of O(N^2). The result is in
// the order of `wanted`.
template <class String, class Taken, class Next>
std::vector<String> unique_names(std::span<const String> wanted, Taken&& taken, Next&& next) {
    using View = std::basic_string_view<typename String::value_type>;
    std::vector<String> out;
    out.reserve(wanted.size());  // never reallocated: `seen` holds views of its strings
    // Every name the batch wants (false) or was given (true): one table for both questions.
    std::unordered_map<View, bool> seen;
    seen.reserve(wanted.size());
    for (const String& name : wanted) seen.emplace(name, false);
    for (const String& name : wanted) {
        if (bool& given = seen.find(name)->second; !given && !taken(name)) {
            given = true;
            out.push_back(name);
            continue;
        }
        for (std::uint32_t& n = next(name);; ++n) {
            String candidate = name;
            if constexpr (std::is_same_v<typename String::value_type, wchar_t>)
                candidate += std::to_wstring(n);
            else
                candidate += std::to_string(n);
            if (seen.contains(candidate) || taken(candidate)) continue;
            out.push_back(std::move(candidate));
            seen.emplace(out.back(), true);
            ++n;
            break;
        }
    }
    return out;
}

}  // namespace torvel
