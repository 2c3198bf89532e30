#include "support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

extern char** environ;

namespace skav::test {

namespace {

using Clock = std::chrono::steady_clock;

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

ProgramResult run_program(const std::vector<std::string>& argv, std::chrono::milliseconds limit) {
  ProgramResult result;
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  // Close-on-exec keeps these pipes out of any other child started meanwhile; dup2 in the
  // child gives it plain copies.
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) return result;
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);
  std::array<int, 2> fds = {out_pipe[0], err_pipe[0]};
  if (spawned != 0) {
    close_fd(fds[0]);
    close_fd(fds[1]);
    result.err = "cannot start " + argv[0];
    return result;
  }

  const Clock::time_point deadline = Clock::now() + limit;
  std::array<char, 4096> chunk;
  while (fds[0] >= 0 || fds[1] >= 0) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    std::array<pollfd, 2> pfds = {pollfd{fds[0], POLLIN, 0}, pollfd{fds[1], POLLIN, 0}};
    int ready = poll(pfds.data(), pfds.size(), static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) break;
    for (std::size_t i = 0; i < fds.size() && ready > 0; ++i) {
      if (fds[i] < 0 || pfds[i].revents == 0) continue;
      ssize_t n = read(fds[i], chunk.data(), chunk.size());
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(chunk.data(), static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close_fd(fds[i]);
      }
    }
  }
  close_fd(fds[0]);
  close_fd(fds[1]);
  // The pipes close when the program ends; one that closed them and lives on is killed at the
  // limit all the same.
  int status = reap(pid, deadline, result.timed_out);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.exit_code = 128 + WTERMSIG(status);
  return result;
}

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& argv, const std::string& output) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

void BackgroundProgram::send(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

bool BackgroundProgram::kill_now() {
  if (pid_ <= 0) return false;
  bool running = waitpid(pid_, nullptr, WNOHANG) == 0;
  if (running) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
  return running;
}

int BackgroundProgram::wait(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  bool killed = false;
  int status = reap(pid_, Clock::now() + limit, killed);
  pid_ = -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int reap(pid_t pid, std::chrono::steady_clock::time_point deadline, bool& killed) {
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) break;
    if (done == 0 && std::chrono::steady_clock::now() >= deadline && !killed) {
      killed = true;
      kill(pid, SIGKILL);
    }
    if (done == 0) usleep(1000);
  }
  return status;
}

}  // namespace skav::test
