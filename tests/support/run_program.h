#pragma once
// Running a program as a user does, for the tests of dmsim and the load tools: arguments,
// standard input from a file, standard output and error into files; and reading what it
// wrote. Or in the background, until a signal: a server that announces itself in its first
// line of output.
//
//   const support::Run r = support::run_program({DMSIM_PATH, "22 F1 90"}, dir);
//   EXPECT_EQ(support::lines_of(r.out), ...);
//   support::Background_program server({DMSIM_PATH, "--doip", "127.0.0.1:0"});
//   server.first_line();   // "dmsim: DoIP entity 1000 listening on 127.0.0.1:40123"
//   EXPECT_EQ(server.stop(), 0);

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace support {

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// argv for posix_spawn: pointers into `args`, null-terminated.
inline std::vector<char*> argv_of(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// A cross-built program runs under the emulator ("qemu-aarch64|-L|<root>"), as CTest
// would run it; `emulator` empty: none.
inline std::vector<std::string> with_emulator(std::vector<std::string> args,
                                              const std::string& emulator) {
    std::istringstream words(emulator);
    std::vector<std::string> prefix;
    for (std::string word; std::getline(words, word, '|');) {
        prefix.push_back(word);
    }
    args.insert(args.begin(), prefix.begin(), prefix.end());
    return args;
}

struct Run {
    int status = -1;  // exit status, 128 + signal when killed
    std::string out;
    std::string err;
    long max_rss_kib = 0;  // peak resident memory of the program
};

// Runs args[0] with standard input from `in` (empty: /dev/null), standard output to `out`
// (empty: <dir>/stdout, read back into Run::out) and standard error to <dir>/stderr.
inline Run run_program(std::vector<std::string> args, const std::filesystem::path& dir,
                       const std::filesystem::path& in = {},
                       const std::filesystem::path& out = {}) {
    const std::filesystem::path out_path = out.empty() ? dir / "stdout" : out;
    const std::filesystem::path err_path = dir / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.empty() ? "/dev/null" : in.c_str(), O_RDONLY,
                                     0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> argv = argv_of(args);
    pid_t pid = 0;
    Run result;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.max_rss_kib = usage.ru_maxrss;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (out.empty()) {
        result.out = read_file(out_path);
    }
    result.err = read_file(err_path);
    return result;
}

// A program running in the background with its standard output in a pipe, of which the
// first line is kept (read for 30 s at most); standard error is the test's own.
class Background_program {
  public:
    explicit Background_program(std::vector<std::string> args) {
        int out[2];
        if (pipe(out) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> argv = argv_of(args);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        pollfd waiting{out[0], POLLIN, 0};
        while (pid_ > 0 && line_.find('\n') == std::string::npos && poll(&waiting, 1, 30'000) > 0) {
            char buffer[256];
            const ssize_t got = read(out[0], buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            line_.append(buffer, static_cast<std::size_t>(got));
        }
        ::close(out[0]);
        line_ = line_.substr(0, line_.find('\n'));
    }
    ~Background_program() { stop(SIGKILL); }
    Background_program(const Background_program&) = delete;
    Background_program& operator=(const Background_program&) = delete;

    const std::string& first_line() const { return line_; }

    // Sends `signal`, then the exit status as wait_for_exit gives it.
    int stop(int signal = SIGTERM) {
        if (pid_ > 0) {
            kill(pid_, signal);
        }
        return wait_for_exit(std::chrono::seconds(20));
    }

    // The exit status (128 + signal when killed by one) once the program ends by itself
    // within `limit`; else it is killed and -1 returned.
    int wait_for_exit(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (pid_ > 0) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() > end) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                pid_ = -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    std::string line_;
};

}  // namespace support
