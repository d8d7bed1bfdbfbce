// bench_measure CMD [ARGS...]: runs one command with its standard output
// discarded and prints "<cpu seconds> <peak KiB> <exit code>", the CPU
// time being user plus system time of the command and all it waited for.
// Wall time is not reported: on a shared machine it says more about the
// neighbours than about the command.
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fputs("usage: bench_measure CMD [ARGS...]\n", stderr);
    return 2;
  }
  const pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    execvp(argv[1], argv + 1);
    perror(argv[1]);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) != child) return 2;
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  printf("%.6f %ld %d\n", cpu, usage.ru_maxrss, code);
  return 0;
}
