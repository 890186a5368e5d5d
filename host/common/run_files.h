// The files of one run: every file it reads (the mesh inputs, the plug-in library, the script) and
// every file it writes (the log, the marked mesh and its material file, the pictures, the report, a
// script's exports), each registered once, under the role messages name it by. No output may replace
// another file of the run. The run calls refuse_clashes() once, when it has registered all the files
// it knows of at the start and before it does any work; OutputFile checks each output again when it is
// opened and just before it is published, also against the files registered since (a script's
// imports). Files are compared by identity (torvel::same_file: a link or another spelling counts).
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace torvel {

// The roles, as messages name them ("refusing to overwrite the input m.obj").
namespace role {
inline constexpr std::string_view input = "the input";
inline constexpr std::string_view plugin = "the plug-in library";
inline constexpr std::string_view script = "the script";
inline constexpr std::string_view log = "the log";
inline constexpr std::string_view output = "the output";  // -o and its material file
inline constexpr std::string_view picture = "a picture";
inline constexpr std::string_view report = "the report";
inline constexpr std::string_view exported = "an exported file";
}  // namespace role

struct RunFile {
    std::filesystem::path path;  // as the run names it
    std::string role;
    std::string shown;    // an output: the name its messages start with ("--log run.jsonl"); else empty
    bool output = false;  // written by the run
};

class RunFiles {
public:
    void add_input(std::filesystem::path path, std::string_view role);
    // `shown` is how a refusal of this output starts: "--log run.jsonl: refusing to overwrite ...".
    void add_output(std::filesystem::path path, std::string_view role, std::string shown);

    // The registered file that writing `path` as an output of `role` would replace: the first one that
    // names the same file and is not an output of that same role (an output may be written again as
    // itself: a script exporting to one file twice). Null when there is none. An empty `role` stands
    // for an output that is not registered: every file counts.
    const RunFile* clash(const std::filesystem::path& path, std::string_view role) const;

    // Throws FileError (ErrorCode::output_refused) for the first output, in registration order, that
    // names a file the run reads or an output registered before it:
    // "SHOWN: refusing to overwrite ROLE PATH". The refused output is kept: refused().
    void refuse_clashes();
    // The output refuse_clashes() refused, or null.
    const RunFile* refused() const { return refused_ ? &files_[*refused_] : nullptr; }

    std::span<const RunFile> files() const { return files_; }

private:
    std::vector<RunFile> files_;
    std::optional<std::size_t> refused_;
};

// "SHOWN: refusing to overwrite ROLE PATH", PATH as `clash` names it.
std::string refusal_text(std::string_view shown, const RunFile& clash);

}  // namespace torvel
