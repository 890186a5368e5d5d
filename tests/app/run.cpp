#include "run.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

extern char** environ;

namespace apptest {

namespace {

void check(int rc, const char* what) {
    if (rc != 0) throw std::runtime_error(std::string(what) + ": " + std::strerror(rc));
}

}  // namespace

Result run(const std::vector<std::string>& args, const RunOptions& options) {
    std::vector<std::string> argv_text{options.exe.string()};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string s = *e;
        const auto eq = s.find('=');
        if (eq != std::string::npos) env[s.substr(0, eq)] = s.substr(eq + 1);
    }
    env.erase("TORVEL_PLUGIN");
    for (const auto& [k, v] : options.env) {
        if (v)
            env[k] = *v;
        else
            env.erase(k);
    }
    std::vector<std::string> env_text;
    for (const auto& [k, v] : env) env_text.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (std::string& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);

    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    check(rc, "posix_spawn");

    Result result;
    std::size_t written = 0;
    int in_fd = in[1];
    if (options.input.empty()) {
        ::close(in_fd);
        in_fd = -1;
    }
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in_fd, POLLOUT, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_fds = 2;
    while (open_fds > 0 || fds[2].fd >= 0) {
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("poll failed");
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[65536];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
        if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = ::write(fds[2].fd, options.input.data() + written, options.input.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
            if (n < 0 || written == options.input.size()) {
                ::close(fds[2].fd);
                fds[2].fd = -1;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> log_texts(const fs::path& path) {
    std::vector<std::string> texts;
    for (const std::string& line : lines(read_file(path))) {
        const nlohmann::json j = nlohmann::json::parse(line);
        EXPECT_TRUE(j.is_object() && j.size() == 2 && j["severity"].is_number_integer() && j["text"].is_string())
            << line;
        texts.push_back(j.value("text", ""));
    }
    return texts;
}

void TempDirTest::SetUp() {
    scratch_.emplace("torvel_app");
    dir = scratch_->path();
}

void TempDirTest::TearDown() { scratch_.reset(); }

fs::path TempDirTest::write(const std::string& name, const std::string& bytes) const {
    return scratch_->write(name, bytes);
}

fs::path TempDirTest::copy_example(const std::string& name, const std::string& as) const {
    const fs::path p = dir / (as.empty() ? name : as);
    fs::copy_file(kExamples / name, p, fs::copy_options::overwrite_existing);
    return p;
}

}  // namespace apptest
