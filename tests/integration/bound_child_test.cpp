#include "bench/child.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace skav {
namespace {

// A bench killed outright leaves no child behind: the kernel ends the bound child with it.
// The bench is played by a middle process that forks the bound child and is then killed; this
// test process adopts the orphan (child subreaper) so that it can see how the orphan ended.
TEST(BoundChild, EndsWhenTheProcessThatForkedItIsKilled) {
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1UL, 0UL, 0UL, 0UL), 0);
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  pid_t middle = fork();
  ASSERT_GE(middle, 0);
  if (middle == 0) {
    // The bound child itself says it is there, once fork_bound_child has returned in it: the
    // middle is not killed before the child is bound to it.
    if (bench::fork_bound_child() == 0) {
      pid_t self = getpid();
      (void)!write(pipe_ends[1], &self, sizeof self);
    }
    for (;;) pause();
  }
  pid_t child = -1;
  ASSERT_EQ(read(pipe_ends[0], &child, sizeof child), static_cast<ssize_t>(sizeof child));
  close(pipe_ends[0]);
  close(pipe_ends[1]);
  kill(middle, SIGKILL);
  ASSERT_EQ(waitpid(middle, nullptr, 0), middle);

  int status = 0;
  pid_t ended = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while ((ended = waitpid(child, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (ended == 0) {  // still running: end it, and fail
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0UL, 0UL, 0UL, 0UL);
  ASSERT_EQ(ended, child) << "the bound child outlived the process that forked it";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

}  // namespace
}  // namespace skav
