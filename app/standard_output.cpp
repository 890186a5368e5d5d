#include "standard_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace torvel::app {

namespace {

constexpr std::size_t kBufferBytes = std::size_t{1} << 16;

}  // namespace

StandardOutput::StandardOutput() : by_line_(::isatty(STDOUT_FILENO) == 1) {
    // By line, every character reaches overflow() or xsputn(), which see the newlines.
    if (!by_line_) {
        buffer_.resize(kBufferBytes);
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    previous_ = std::cout.rdbuf(this);
}

StandardOutput::~StandardOutput() {
    drain();
    std::cout.rdbuf(previous_);
}

std::error_code StandardOutput::finish() {
    drain();
    return error_ ? std::error_code(error_, std::generic_category()) : std::error_code();
}

StandardOutput::int_type StandardOutput::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return drain() ? traits_type::not_eof(c) : traits_type::eof();
    const char ch = traits_type::to_char_type(c);
    if (by_line_) return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
    if (!drain()) return traits_type::eof();
    *pptr() = ch;
    pbump(1);
    return c;
}

std::streamsize StandardOutput::xsputn(const char* s, std::streamsize n) {
    if (!by_line_) return std::streambuf::xsputn(s, n);
    if (error_) return 0;
    const auto bytes = static_cast<std::size_t>(n);
    line_.append(s, bytes);
    if ((std::memchr(s, '\n', bytes) || line_.size() >= kBufferBytes) && !drain()) return 0;
    return n;
}

int StandardOutput::sync() { return drain() ? 0 : -1; }

// Writes the buffered bytes out, retrying short and interrupted writes. A failure is kept and the bytes
// are dropped, as stdio drops them: a retry could only repeat what arrived in part.
bool StandardOutput::drain() {
    const char* p = by_line_ ? line_.data() : pbase();
    const char* const end = by_line_ ? line_.data() + line_.size() : pptr();
    while (!error_ && p < end) {
        const ssize_t n = ::write(STDOUT_FILENO, p, static_cast<std::size_t>(end - p));
        if (n > 0)
            p += n;
        else if (n == 0)
            error_ = EIO;  // no progress and no reason: never seen for a descriptor that takes bytes
        else if (errno != EINTR)
            error_ = errno;
    }
    if (by_line_)
        line_.clear();
    else
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    return !error_;
}

}  // namespace torvel::app
