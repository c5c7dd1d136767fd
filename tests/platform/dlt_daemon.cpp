#include "platform/dlt_daemon.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace dlt_test {

namespace {

constexpr auto poll_interval = std::chrono::milliseconds(20);

// A port that nothing listens on now, from the kernel's choice on the IPv6 loopback.
int free_port() {
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("no socket for a free port");
    }
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot find a free port");
    }
    ::close(fd);
    return ntohs(address.sin6_port);
}

bool fifo_has_reader(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

template <class Ready>
bool wait_until(Ready ready, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(poll_interval);
    }
    return true;
}

}  // namespace

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

Child::Child(const std::vector<std::string>& argv, const std::string& output,
             const std::vector<std::string>& environment) {
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::vector<std::string> env_strings = environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        env_strings.emplace_back(*entry);  // later duplicates lose: getenv takes the first
    }
    std::vector<char*> env;
    for (auto& entry : env_strings) {
        env.push_back(entry.data());
    }
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const int failed = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0]);
    }
}

int Child::wait(std::chrono::milliseconds limit) {
    int status = -1;
    const bool exited = wait_until(
        [&] {
            if (pid_ < 0) {
                return true;
            }
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
            return false;
        },
        limit);
    return exited ? status : -1;
}

Child::~Child() {
    if (pid_ < 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    if (wait(std::chrono::seconds(3)) == -1 && pid_ >= 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

Dlt_daemon::Dlt_daemon() : port_(free_port()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "dlt-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a directory for the DLT daemon");
    }
    directory_ = pattern;
    // Clients only on the loopback (this daemon build takes IPv6 addresses); the control
    // socket and the daemon's own notes stay in the private directory.
    std::ofstream config(directory_ + "/dlt.conf");
    config << "SendContextRegistration = 1\n"
              "ECUId = ECU1\n"
              "LoggingMode = 3\n"
              "LoggingLevel = 4\n"
              "BindAddress = ::1\n"
              "ControlSocketPath = "
           << directory_ << "/dlt-ctrl.sock\n";
}

Dlt_daemon::~Dlt_daemon() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

void Dlt_daemon::start() {
    if (process_ != nullptr) {
        return;
    }
    process_ = new Child({"dlt-daemon", "-c", directory_ + "/dlt.conf", "-t", directory_, "-p",
                          std::to_string(port_)},
                         directory_ + "/daemon.log");
    if (!wait_until([&] { return fifo_has_reader(directory_ + "/dlt"); },
                    std::chrono::seconds(10))) {
        throw std::runtime_error("dlt-daemon did not start: " +
                                 read_file(directory_ + "/daemon.log"));
    }
}

void Dlt_daemon::stop() {
    delete process_;
    process_ = nullptr;
}

void Dlt_daemon::point_environment() const {
    ::setenv("DLT_PIPE_DIR", directory_.c_str(), 1);
    ::setenv("DLT_DAEMON_TCP_PORT", std::to_string(port_).c_str(), 1);
}

std::vector<std::string> Dlt_daemon::environment() const {
    return {"DLT_PIPE_DIR=" + directory_, "DLT_DAEMON_TCP_PORT=" + std::to_string(port_)};
}

Dlt_reader::Dlt_reader(const Dlt_daemon& daemon)
    : output_(daemon.directory() + "/received-" + std::to_string(daemon.port()) + ".txt") {
    // Line-buffered, so that what arrived is in the file at once.
    process_ = new Child(
        {"stdbuf", "-oL", "dlt-receive", "-a", "-p", std::to_string(daemon.port()), "::1"},
        output_);
    // The daemon greets every client with messages of its own; on a loaded machine the
    // greeting can be late, so the client's own report of the connection counts too, with
    // a moment for the daemon to register it.
    bool greeted = false;
    if (!wait_until(
            [&] {
                greeted = !messages("DLTD").empty();
                return greeted ||
                       read_file(output_).find("Connected to DLT daemon") != std::string::npos;
            },
            std::chrono::seconds(10))) {
        throw std::runtime_error("dlt-receive got nothing from the daemon: " + read_file(output_));
    }
    if (!greeted) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}

Dlt_reader::~Dlt_reader() {
    delete process_;
}

std::vector<Dlt_message> Dlt_reader::messages(const std::string& app) const {
    // "2026/01/01 10:00:00.000000   12345 000 ECU1 DMSM DIAG log debug V 1 [text]"
    std::string padded = app;
    padded.resize(4, '-');
    std::vector<Dlt_message> result;
    std::istringstream in(read_file(output_));
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        std::string date, time, stamp, counter, ecu, id, context, type, level, mode, count;
        if (!(fields >> date >> time >> stamp >> counter >> ecu >> id >> context >> type >> level >>
              mode >> count) ||
            id != padded || type != "log" || mode != "V") {
            continue;
        }
        const auto at = static_cast<std::size_t>(fields.tellg());
        if (text.compare(at, 2, " [") != 0 || text.back() != ']') {
            continue;
        }
        result.push_back(
            Dlt_message{id, context, level, text.substr(at + 2, text.size() - at - 3)});
    }
    return result;
}

std::vector<std::string> Dlt_reader::joined(const std::string& app) const {
    return join_with_script(output_, app);
}

std::vector<Dlt_message> Dlt_reader::wait_for(const std::string& app, std::size_t count,
                                              std::chrono::milliseconds limit) {
    std::vector<Dlt_message> got;
    wait_until(
        [&] {
            got = messages(app);
            return got.size() >= count;
        },
        limit);
    return got;
}

std::vector<std::string> join_with_script(const std::string& received, const std::string& app) {
    // Complete lines only: dlt-receive may be in the middle of writing a long one.
    const std::string text = read_file(received);
    const std::string snapshot = received + ".complete";
    std::ofstream(snapshot, std::ios::binary) << text.substr(0, text.rfind('\n') + 1);
    const std::string joined = received + ".joined";
    Child awk({"awk", "-v", "app=" + app, "-f", DIAG_DLT_JOIN, snapshot}, joined);
    if (awk.wait(std::chrono::seconds(10)) != 0) {
        throw std::runtime_error("dlt-join.awk failed: " + read_file(joined));
    }
    std::vector<std::string> lines;
    std::istringstream in(read_file(joined));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace dlt_test
