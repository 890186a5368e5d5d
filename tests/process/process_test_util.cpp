#include "process_test_util.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace proctest {

pid_t fork_stand_in(const std::function<void(int report)>& f, int* from) {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(p[0]);
        f(p[1]);
        ::_exit(1);
    }
    ::close(p[1]);
    *from = p[0];
    return pid;
}

void wait_for_signals() {
    for (;;) ::pause();
}

void send_pid(int fd, pid_t pid) { (void)!::write(fd, &pid, sizeof pid); }

pid_t receive_pid(int fd) {
    pid_t pid = 0;
    return ::read(fd, &pid, sizeof pid) == sizeof pid ? pid : 0;
}

std::vector<pid_t> descendants(pid_t pid) {
    std::vector<pid_t> found;
    std::vector<pid_t> todo{pid};
    while (!todo.empty()) {
        const pid_t p = todo.back();
        todo.pop_back();
        std::error_code ec;
        for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(p) + "/task", ec)) {
            std::ifstream in(task.path() / "children");
            for (pid_t child; in >> child;) {
                found.push_back(child);
                todo.push_back(child);
            }
        }
    }
    return found;
}

namespace {

bool ended(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return true;
    const auto close = stat.rfind(')');  // the name in parentheses may hold anything
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z' || stat[close + 2] == 'X';
}

}  // namespace

bool ends_within(pid_t pid, std::chrono::milliseconds within) {
    const auto until = std::chrono::steady_clock::now() + within;
    for (;;) {
        if (ended(pid)) return true;
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace proctest
