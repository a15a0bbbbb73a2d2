#include "support/child_program.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

namespace testing_support {

ChildEnd RunChild(const ChildProgram& child, const std::function<void(pid_t)>& started) {
  std::vector<std::string> args = child.args, env = child.env;
  std::vector<char*> argv, envp;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, child.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, child.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, child.folder.c_str());
  ChildEnd end;
  pid_t pid = -1;
  const auto start = std::chrono::steady_clock::now();
  end.started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!end.started) {
    ADD_FAILURE() << "cannot start " << child.args.front();
    return end;
  }
  if (started) started(pid);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) != pid) {
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(child.timeoutSeconds)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "the installer did not end within " << child.timeoutSeconds << " s";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  end.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  end.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return end;
}

}  // namespace testing_support
