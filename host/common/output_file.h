// Every file torvel writes (the log, the marked mesh and its material file) goes through OutputFile,
// so one rule decides what happens to what is already there:
// - nothing there, or a regular file: a temporary in the same folder is written, synced, given the old
//   file's mode and renamed over it, so the file is replaced whole or not at all;
// - a symbolic link: followed (through any chain of links); its target is replaced as above, or created,
//   and the link is kept;
// - a FIFO, a character or block device or any other file that is neither regular nor a folder: opened
//   and written through, never replaced;
// - this process's own standard output or error (`--log /dev/stdout` with stdout redirected to a file):
//   written through that descriptor, at its position;
// - a folder: refused.
// No output may replace another file of the run (RunFiles, run_files.h): that is checked, by file
// identity (same_file), when the output is opened and again just before it is published; a clash
// refuses the output with a message naming both, and the file stays as it was.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "errors.h"
#include "run_files.h"

namespace torvel {

// One output being written. Failures throw FileError whose message starts with `shown` (the name the
// user gave, also for the target of a link) and whose file() is `shown`; its code is
// ErrorCode::output_refused for a clash with a file of the run, else ErrorCode::write_failed.
class OutputFile {
public:
    // Checks `path` against `files` (when given) as an output of `role` (RunFiles::clash; `files` must
    // outlive this) and opens it: the temporary beside the target, or the file itself when it is written
    // through. Nothing is changed at `path` before publish().
    OutputFile(std::filesystem::path path, std::string shown, const RunFiles* files = nullptr,
               std::string_view role = {});
    // An output never published leaves nothing behind: its temporary is removed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Bytes are collected here and written out by maybe_flush() past about a megabyte, and by finish().
    std::string& buffer() { return buffer_; }
    void maybe_flush() {
        if (buffer_.size() >= kFlushAt) flush();
    }
    void write(std::string_view bytes) {
        buffer_ += bytes;
        maybe_flush();
    }

    // Writes out what is left, then (for a replaced file) gives the temporary the old file's mode and
    // owner, syncs and closes it. The target is still untouched.
    void finish();
    // Checks the files of the run once more, then renames the finished temporary over the target.
    // Nothing to do for a file written through.
    void publish();
    void commit() {
        finish();
        publish();
    }
    // After publish(): removes the file again when it did not exist before (a later step of the same
    // output failed). A replaced or written-through file stays.
    void withdraw() noexcept;

    // The file that is (or will be) written: `path` with its links followed.
    const std::filesystem::path& target() const { return target_; }

private:
    static constexpr std::size_t kFlushAt = 1 << 20;

    [[noreturn]] void fail(std::string_view what, ErrorCode code = ErrorCode::write_failed) const;
    void refuse_clash() const;
    void flush();

    std::filesystem::path path_, target_, tmp_;
    std::string shown_;
    const RunFiles* files_;
    std::string role_;
    std::string buffer_;
    int fd_ = -1;
    bool through_ = false;  // written in place, not replaced
    bool existed_ = false;  // a file was at the target before
    bool published_ = false;
};

}  // namespace torvel
