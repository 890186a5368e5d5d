#include "frames.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>

namespace torvel::process {

namespace {

constexpr std::size_t kChunk = 1 << 16;  // what one read takes at most

// The poll timeout left before the deadline: -1 for none, 0 once it has passed.
int remaining_ms(Clock::time_point deadline) {
    if (deadline == kNever) return -1;
    const Clock::time_point now = Clock::now();
    if (deadline <= now) return 0;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return static_cast<int>(std::min<long long>(left, INT_MAX));
}

bool wait_writable(int fd) {
    for (;;) {
        pollfd p{fd, POLLOUT, 0};
        const int n = ::poll(&p, 1, -1);
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
}

}  // namespace

bool write_all(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    bool socket = true;  // until send says otherwise: MSG_NOSIGNAL is what keeps SIGPIPE away
    while (size > 0) {
        const ssize_t n = socket ? ::send(fd, p, size, MSG_NOSIGNAL) : ::write(fd, p, size);
        if (n < 0) {
            if (errno == ENOTSOCK && socket) {
                socket = false;
                continue;
            }
            if (errno == EINTR) continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && wait_writable(fd)) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool wait_readable(int fd, Clock::time_point deadline) {
    for (;;) {
        const int ms = remaining_ms(deadline);
        if (ms == 0) return false;
        pollfd p{fd, POLLIN, 0};
        const int n = ::poll(&p, 1, ms);
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "poll");
    }
}

std::optional<std::size_t> read_some(int fd, void* data, std::size_t size, Clock::time_point deadline) {
    for (;;) {
        const ssize_t n = ::read(fd, data, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!wait_readable(fd, deadline)) return std::nullopt;
        } else if (errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "read");
        }
    }
}

std::size_t begin_frame(std::string& out) {
    const std::size_t begin = out.size();
    out.append(kFrameLength, '\0');
    return begin;
}

void end_frame(std::string& out, std::size_t begin) {
    const std::uint64_t length = out.size() - begin - kFrameLength;
    std::memcpy(out.data() + begin, &length, sizeof length);
}

bool FrameReader::take(int fd, Clock::time_point deadline) {
    if (at_ > 0) {  // what was handed out goes; only a frame's beginning is left to move
        buf_.erase(0, at_);
        at_ = 0;
    }
    const std::size_t had = buf_.size();
    buf_.resize(had + kChunk);
    std::optional<std::size_t> n;
    try {
        n = read_some(fd, buf_.data() + had, kChunk, deadline);
    } catch (const std::system_error&) {
        n = 0;
    }
    buf_.resize(had + n.value_or(0));
    if (n == 0u) ended_ = true;
    return n.has_value();
}

bool FrameReader::fill(int fd) {
    // A deadline long past: read_some returns at the first EAGAIN instead of waiting.
    while (!ended_ && take(fd, Clock::time_point{})) {
    }
    return !ended_;
}

FrameReader::Status FrameReader::next(std::string_view& payload) {
    const std::size_t left = buf_.size() - at_;
    if (left < kFrameLength) return !ended_ ? Status::pending : left == 0 ? Status::ended : Status::truncated;
    std::uint64_t length = 0;
    std::memcpy(&length, buf_.data() + at_, sizeof length);
    if (length > max_) return Status::oversized;
    if (left - kFrameLength < length) return ended_ ? Status::truncated : Status::pending;
    payload = std::string_view(buf_.data() + at_ + kFrameLength, static_cast<std::size_t>(length));
    at_ += kFrameLength + static_cast<std::size_t>(length);
    return Status::frame;
}

FrameReader::Status FrameReader::read(int fd, std::string_view& payload, Clock::time_point deadline) {
    for (;;) {
        const Status s = next(payload);
        if (s != Status::pending || !take(fd, deadline)) return s;
    }
}

}  // namespace torvel::process
