// Bytes and frames over a child's link: whole however they are cut, refused when they break the format,
// and never waited for past a deadline, with signals interrupting every call.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frames.h"
#include "process.h"

using namespace torvel::process;
using namespace std::chrono_literals;
using Status = FrameReader::Status;

namespace {

std::string framed(std::string_view payload) {
    std::string s;
    const std::size_t begin = begin_frame(s);
    s += payload;
    end_frame(s, begin);
    return s;
}

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
    return s;
}

// Both ends of a socket pair in this process, the reading one non-blocking as a parent's is.
struct Pair {
    Pair() {
        int sv[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sv), 0);
        reading.reset(sv[0]);
        writing.reset(sv[1]);
    }
    Fd reading, writing;
};

// A signal every millisecond, its handler installed without SA_RESTART: every poll, read and write is
// interrupted over and over.
class Interruptions {
public:
    Interruptions() {
        struct sigaction on_tick {};
        on_tick.sa_handler = [](int) { ticks = ticks + 1; };
        ::sigaction(SIGALRM, &on_tick, &before_);
        const itimerval every_ms{{0, 1000}, {0, 1000}};
        ::setitimer(ITIMER_REAL, &every_ms, nullptr);
    }
    ~Interruptions() {
        const itimerval off{};
        ::setitimer(ITIMER_REAL, &off, nullptr);
        ::sigaction(SIGALRM, &before_, nullptr);
    }
    static inline volatile sig_atomic_t ticks = 0;

private:
    struct sigaction before_ {};
};

}  // namespace

// Frames of every size from a child, the large ones past what a socket or pipe holds (so the child's
// writes wait on a full link, its descriptor made non-blocking), all read back whole and in order.
TEST(Frames, RoundTripThroughAChild) {
    const std::vector<std::size_t> sizes = {0, 1, 7, 8, 65535, 65536, 65537, 3 << 20, 5};
    for (const Link link : {Link::socket, Link::pipe}) {
        Interruptions storm;
        Child c = Child::start({.link = link}, [&](int fd) {
            const Interruptions also_here;  // a timer is not inherited
            ::fcntl(fd, F_SETFL, O_NONBLOCK);
            std::string all;
            for (std::size_t n : sizes) all += framed(pattern(n));
            return write_all(fd, all) ? 0 : 1;
        });
        FrameReader in(4 << 20);
        std::string_view payload;
        for (std::size_t n : sizes) {
            ASSERT_EQ(in.read(c.fd(), payload, Clock::now() + 30s), Status::frame) << n;
            EXPECT_EQ(payload, pattern(n)) << n;
        }
        EXPECT_EQ(in.read(c.fd(), payload, Clock::now() + 30s), Status::ended);
        EXPECT_EQ(c.reap(), 0);
        EXPECT_GT(Interruptions::ticks, 0);
    }
}

// Bytes trickling in: a frame is handed out only once whole, however the stream is cut.
TEST(Frames, AFrameIsHandedOutOnlyWhole) {
    const std::string bytes = framed("first") + framed("") + framed(pattern(300));
    for (std::size_t step : {1u, 3u, 8u, 13u, 1000u}) {
        Pair p;
        FrameReader in(1000);
        std::vector<std::string> got;
        for (std::size_t at = 0; at < bytes.size(); at += step) {
            ASSERT_TRUE(write_all(p.writing.get(), bytes.substr(at, step)));
            ASSERT_TRUE(in.fill(p.reading.get()));
            std::string_view payload;
            Status s;
            while ((s = in.next(payload)) == Status::frame) got.emplace_back(payload);
            ASSERT_EQ(s, Status::pending);
        }
        EXPECT_EQ(got, (std::vector<std::string>{"first", "", pattern(300)})) << step;
        p.writing.reset();
        EXPECT_FALSE(in.fill(p.reading.get()));
        std::string_view payload;
        EXPECT_EQ(in.next(payload), Status::ended);
    }
}

// A stream that ends inside a frame (its length, or its payload) is truncated; one that claims more
// than the bound is oversized at once, before its payload arrives, and stays so.
TEST(Frames, TruncatedAndOversizedFramesAreReportedAsSuch) {
    const std::string whole = framed("kept") + framed("cut short");
    for (const std::size_t cut : {whole.size() - 1, framed("kept").size() + 3}) {
        Pair p;
        ASSERT_TRUE(write_all(p.writing.get(), whole.substr(0, cut)));
        p.writing.reset();
        FrameReader in(100);
        std::string_view payload;
        ASSERT_EQ(in.read(p.reading.get(), payload, Clock::now() + 10s), Status::frame);
        EXPECT_EQ(payload, "kept");
        EXPECT_EQ(in.read(p.reading.get(), payload, Clock::now() + 10s), Status::truncated) << cut;
    }
    Pair p;
    std::string huge(kFrameLength, '\0');
    const std::uint64_t claim = 101;
    std::memcpy(huge.data(), &claim, sizeof claim);
    ASSERT_TRUE(write_all(p.writing.get(), framed(pattern(100)) + huge));
    FrameReader in(100);
    std::string_view payload;
    ASSERT_EQ(in.read(p.reading.get(), payload, Clock::now() + 10s), Status::frame);
    EXPECT_EQ(payload.size(), 100u);
    EXPECT_EQ(in.read(p.reading.get(), payload, Clock::now() + 10s), Status::oversized);
    EXPECT_EQ(in.next(payload), Status::oversized);
}

// Nothing arrives: read gives up at the deadline, not before and not long after; a deadline already
// past does not wait at all.
TEST(Frames, ADeadlineEndsTheWait) {
    Pair p;
    ASSERT_TRUE(write_all(p.writing.get(), framed("half").substr(0, 10)));
    Interruptions storm;
    FrameReader in(100);
    std::string_view payload;
    auto t0 = Clock::now();
    EXPECT_EQ(in.read(p.reading.get(), payload, t0 + 300ms), Status::pending);
    auto took = Clock::now() - t0;
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 2s);

    char byte;
    t0 = Clock::now();
    EXPECT_FALSE(read_some(p.reading.get(), &byte, 1, t0 - 1s).has_value());
    EXPECT_FALSE(wait_readable(p.reading.get(), Clock::time_point{}));
    EXPECT_LT(Clock::now() - t0, 100ms);
    // The rest of the frame: the next read completes it.
    ASSERT_TRUE(write_all(p.writing.get(), framed("half").substr(10)));
    EXPECT_EQ(in.read(p.reading.get(), payload, Clock::now() + 10s), Status::frame);
    EXPECT_EQ(payload, "half");
}

// A peer gone: writing fails without SIGPIPE (which would end this test); a peer that closed with
// bytes unread makes the socket report ECONNRESET, which ends the stream after what it sent.
TEST(Frames, APeerThatIsGoneEndsTheStream) {
    {
        Pair p;
        p.reading.reset();
        EXPECT_FALSE(write_all(p.writing.get(), "to no one"));
    }
    Pair p;
    ASSERT_TRUE(write_all(p.writing.get(), framed("last words")));
    ASSERT_TRUE(write_all(p.reading.get(), "never read"));
    p.writing.reset();
    FrameReader in(100);
    EXPECT_FALSE(in.fill(p.reading.get()));
    std::string_view payload;
    ASSERT_EQ(in.next(payload), Status::frame);
    EXPECT_EQ(payload, "last words");
    EXPECT_EQ(in.next(payload), Status::ended);
}
