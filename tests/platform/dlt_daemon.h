#pragma once
// A private DLT daemon and a reader of what it forwards, for tests.
//
//   Dlt_daemon daemon;              // own FIFO directory, free port on ::1
//   daemon.point_environment();     // DLT_PIPE_DIR, DLT_DAEMON_TCP_PORT for this process
//   Dlt_reader reader(daemon);      // dlt-receive -a, output collected in a file
//   auto got = reader.wait_for("DMSM", 3);   // the first three messages of that app
//
// Both processes are killed when their objects go; every wait is bounded.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace dlt_test {

// A process started with posix_spawn, stdout and stderr to one file; killed on destruction.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::string& output,
          const std::vector<std::string>& environment = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Waits (bounded) for the exit and returns the wait status, or -1 on timeout.
    int wait(std::chrono::milliseconds limit);

  private:
    pid_t pid_ = -1;
};

class Dlt_daemon {
  public:
    Dlt_daemon();
    ~Dlt_daemon();

    const std::string& directory() const { return directory_; }
    int port() const { return port_; }
    // Sets DLT_PIPE_DIR and DLT_DAEMON_TCP_PORT; the DLT library reads them once per process.
    void point_environment() const;
    // "DLT_PIPE_DIR=..." and "DLT_DAEMON_TCP_PORT=..." for a child process.
    std::vector<std::string> environment() const;
    // Starts the daemon; waits until its FIFO has a reader.
    void start();
    void stop();

  private:
    std::string directory_;
    int port_ = 0;
    Child* process_ = nullptr;
};

// One log message as dlt-receive -a prints it.
struct Dlt_message {
    std::string app;      // padded with '-' to four characters
    std::string context;  // likewise
    std::string level;    // "fatal" ... "verbose"
    std::string text;
};

class Dlt_reader {
  public:
    explicit Dlt_reader(const Dlt_daemon& daemon);
    ~Dlt_reader();

    // The log messages of the application so far, in arrival order.
    std::vector<Dlt_message> messages(const std::string& app) const;
    // Those messages joined by dlt-join.awk (join_with_script).
    std::vector<std::string> joined(const std::string& app) const;
    // Waits (bounded) until at least `count` messages of the application arrived.
    std::vector<Dlt_message> wait_for(const std::string& app, std::size_t count,
                                      std::chrono::milliseconds limit = std::chrono::seconds(10));

  private:
    std::string output_;
    Child* process_ = nullptr;
};

// Runs the shipped dlt-join.awk over a file of what dlt-receive -a printed: the lines of
// `app` in the file sink's form, "<level> <text>", the numbered parts of long ones joined.
std::vector<std::string> join_with_script(const std::string& received, const std::string& app);

std::string read_file(const std::string& path);

}  // namespace dlt_test
