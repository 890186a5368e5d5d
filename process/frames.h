// Bytes over the link to a child (process.h): written fully, read under a deadline, and cut into
// length-prefixed frames. Every call restarts after EINTR, so a signal handler without SA_RESTART never
// breaks a transfer.
//
// A frame is a u64 payload length, then the payload. Both ends are this program on this machine, so the
// length is in its byte order; the reader still trusts none of it: a length beyond its bound, or a stream
// that ends inside a frame, is reported as such.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "process.h"

namespace torvel::process {

// Writes all of the bytes to fd (a pipe or a socket, blocking or not: when it is full, waits until it can
// take more). false when the other end is gone or a write fails (errno says why). A socket never raises
// SIGPIPE; a pipe whose reader is gone does, as pipes do.
bool write_all(int fd, const void* data, std::size_t size);
inline bool write_all(int fd, std::string_view bytes) { return write_all(fd, bytes.data(), bytes.size()); }

// Waits until fd can be read (or has hung up): false once the deadline has passed (a deadline already
// past does not wait at all). Throws std::system_error ("poll") when the wait fails.
bool wait_readable(int fd, Clock::time_point deadline);

// Up to `size` bytes from fd, waiting for them until the deadline: the count, 0 at the end of the stream,
// nullopt at the deadline. The deadline holds for a non-blocking fd only (a blocking one waits in read).
// Throws std::system_error ("read", "poll") when reading fails.
std::optional<std::size_t> read_some(int fd, void* data, std::size_t size, Clock::time_point deadline);

inline constexpr std::size_t kFrameLength = sizeof(std::uint64_t);  // the prefix

// Starts a frame at the end of `out`: returns where it begins. end_frame, once the payload has been
// appended after it, sets its length.
std::size_t begin_frame(std::string& out);
void end_frame(std::string& out, std::size_t begin);

// Frames from one stream, taken from its descriptor as they arrive.
class FrameReader {
public:
    enum class Status {
        frame,      // the next whole frame
        pending,    // no whole frame yet (next: more must arrive; read: not before the deadline)
        ended,      // the stream ended between two frames
        truncated,  // the stream ended inside a frame
        oversized,  // a frame claims more than the bound: nothing after it can be trusted
    };

    // Frames of up to `max_payload` bytes.
    explicit FrameReader(std::uint64_t max_payload) : max_(max_payload) {}

    // A read that fails ends the stream like its end does (a socket whose peer closed with data unread
    // reports ECONNRESET once what arrived has been read): what came before is still handed out.

    // Takes everything fd (non-blocking) holds now, without waiting: false once the stream has ended.
    bool fill(int fd);
    // The next frame of what has arrived. Status::frame sets `payload`, valid until the next fill or read.
    Status next(std::string_view& payload);
    // next(), reading from fd until there is a frame, the stream has ended or the deadline has passed
    // (Status::pending).
    Status read(int fd, std::string_view& payload, Clock::time_point deadline = kNever);

private:
    // Appends what one read gives, or notes the end: false when nothing came by the deadline.
    bool take(int fd, Clock::time_point deadline);

    std::uint64_t max_;
    std::string buf_;  // bytes arrived; those before at_ have been handed out
    std::size_t at_ = 0;
    bool ended_ = false;
};

}  // namespace torvel::process
