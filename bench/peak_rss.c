/* Runs a command and reports its wall time, processor time and peak
 * resident set.
 *
 * A child's peak resident set counts the process image it had before exec,
 * so the launcher must be small: measured from Python, every tool would
 * show at least the interpreter's size. This program forks (never vforks,
 * which would lend it the launcher's memory) and writes
 * "SECONDS USER_SECONDS SYSTEM_SECONDS PEAK_RSS_KIB EXIT_CODE" to
 * RESULT_FILE. Processor times are less sensitive than wall time to other
 * work on a shared machine; user time is the tool's own work, system time
 * mostly the file system's.
 *
 * usage: peak_rss RESULT_FILE COMMAND [ARGS...] */
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: peak_rss RESULT_FILE COMMAND [ARGS...]\n");
    return 2;
  }
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t pid = fork();
  if (pid < 0) {
    perror("fork");
    return 1;
  }
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) {
    perror("wait4");
    return 1;
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  const double seconds = (double)(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  FILE *out = fopen(argv[1], "w");
  if (!out) {
    perror(argv[1]);
    return 1;
  }
  const double user = (double)usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6;
  const double system = (double)usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  fprintf(out, "%.6f %.6f %.6f %ld %d\n", seconds, user, system, usage.ru_maxrss, code);
  return fclose(out) == 0 ? 0 : 1;
}
