// torvel's standard output. std::cout goes through a buffer of this process's own that keeps the first
// error of any write to descriptor 1, so that the end of a run can tell an output that never arrived
// (a full disk, a device gone) from a complete one: stdio keeps only a flag, and errno is long
// overwritten by then. Buffered as stdio buffers it: by line on a terminal, in large blocks otherwise.
#pragma once

#include <streambuf>
#include <string>
#include <system_error>
#include <vector>

namespace torvel::app {

// main owns the one instance, for the whole run: std::cout writes into it from construction to
// destruction. Anything that writes descriptor 1 itself flushes std::cout first (as forking does).
class StandardOutput final : public std::streambuf {
public:
    StandardOutput();
    // Writes out what is left (an error is then lost: call finish()) and gives std::cout its own
    // buffer back.
    ~StandardOutput() override;
    StandardOutput(const StandardOutput&) = delete;
    StandardOutput& operator=(const StandardOutput&) = delete;

    // Writes out what is buffered and returns the first write error of the run; empty when every byte
    // arrived. Once a write has failed, what follows is dropped.
    std::error_code finish();

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    bool drain();

    bool by_line_;
    std::vector<char> buffer_;  // by blocks: the put area
    std::string line_;          // by line: what is not written yet (there is no put area)
    int error_ = 0;             // errno of the first failed write
    std::streambuf* previous_;
};

}  // namespace torvel::app
