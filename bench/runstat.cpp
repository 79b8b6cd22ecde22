// runstat.cpp - runs one command and reports what it cost: wall time, and
// the CPU time and peak memory of that process alone (its children's work
// is counted apart). The process's own figures are read from /proc while it
// is a zombie (CPU time), or at its exit stop under ptrace with --peak
// (CPU time and peak resident memory, which a zombie no longer has).
//
//   runstat [--peak] [--out FILE] -- COMMAND [ARGS...]
//
// Prints one line: wall_ms=... cpu_ms=... user_ms=... sys_ms=...
// children_user_ms=... children_sys_ms=... peak_kb=... status=...
// (peak_kb=0 without --peak). Exits with the command's exit status.
#include <errno.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Figures {
  double cpuMs = 0;  // on-CPU time of the process itself (schedstat, ns)
  double userMs = 0;
  double sysMs = 0;
  double childUserMs = 0;
  double childSysMs = 0;
  long peakKb = 0;
};

double nowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// utime, stime, cutime, cstime: fields 14-17 of /proc/PID/stat, in ticks.
void readStat(pid_t pid, Figures& f) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  FILE* in = fopen(path, "r");
  if (!in) return;
  char text[2048];
  size_t n = fread(text, 1, sizeof text - 1, in);
  fclose(in);
  text[n] = '\0';
  const char* p = strrchr(text, ')');
  if (!p) return;
  // Field 3 (state) follows ") "; skip to field 14.
  p += 2;
  for (int field = 3; field < 14 && *p; ++field) {
    p = strchr(p, ' ');
    if (!p) return;
    ++p;
  }
  unsigned long long ut = 0, st = 0;
  long long cut = 0, cst = 0;
  if (sscanf(p, "%llu %llu %lld %lld", &ut, &st, &cut, &cst) != 4) return;
  double tick = 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
  f.userMs = ut * tick;
  f.sysMs = st * tick;
  f.childUserMs = cut * tick;
  f.childSysMs = cst * tick;
}

// Nanosecond on-CPU time of the process (first field of schedstat).
void readSchedstat(pid_t pid, Figures& f) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/schedstat", static_cast<int>(pid));
  FILE* in = fopen(path, "r");
  if (!in) return;
  unsigned long long ns = 0;
  if (fscanf(in, "%llu", &ns) == 1) f.cpuMs = ns / 1e6;
  fclose(in);
}

void readPeak(pid_t pid, Figures& f) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
  FILE* in = fopen(path, "r");
  if (!in) return;
  char line[256];
  while (fgets(line, sizeof line, in)) {
    if (strncmp(line, "VmHWM:", 6) == 0) f.peakKb = atol(line + 6);
  }
  fclose(in);
}

[[noreturn]] void runChild(char** argv, bool traced) {
  if (traced) {
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    raise(SIGSTOP);
  }
  execvp(argv[0], argv);
  fprintf(stderr, "runstat: cannot run %s: %s\n", argv[0], strerror(errno));
  _exit(127);
}

// Plain run: wait for the exit without reaping, read the zombie's figures.
int waitPlain(pid_t pid, Figures& f) {
  siginfo_t info;
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0) {
    if (errno != EINTR) return -1;
  }
  readStat(pid, f);
  readSchedstat(pid, f);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Traced run: only the exit event stops the process for long; signals are
// passed on unchanged.
int waitTraced(pid_t pid, Figures& f) {
  int status = 0;
  if (waitpid(pid, &status, 0) < 0 || !WIFSTOPPED(status)) return status;
  ptrace(PTRACE_SETOPTIONS, pid, nullptr,
         reinterpret_cast<void*>(PTRACE_O_TRACEEXIT | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL));
  ptrace(PTRACE_CONT, pid, nullptr, nullptr);
  for (;;) {
    if (waitpid(pid, &status, 0) < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) return status;
    if (!WIFSTOPPED(status)) continue;
    int event = status >> 16;
    int sig = WSTOPSIG(status);
    if (event == PTRACE_EVENT_EXIT) {
      readStat(pid, f);
      readSchedstat(pid, f);
      readPeak(pid, f);
      sig = 0;
    } else if (event != 0) {
      sig = 0;
    }
    ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(sig)));
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool peak = false;
  const char* outFile = nullptr;
  int i = 1;
  for (; i < argc; ++i) {
    if (strcmp(argv[i], "--peak") == 0) {
      peak = true;
    } else if (strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
      outFile = argv[++i];
    } else if (strcmp(argv[i], "--") == 0) {
      ++i;
      break;
    } else {
      break;
    }
  }
  if (i >= argc) {
    fprintf(stderr, "usage: runstat [--peak] [--out FILE] -- COMMAND [ARGS...]\n");
    return 2;
  }
  Figures f;
  double start = nowMs();
  pid_t pid = fork();
  if (pid < 0) {
    perror("runstat: fork");
    return 2;
  }
  if (pid == 0) runChild(argv + i, peak);
  int status = peak ? waitTraced(pid, f) : waitPlain(pid, f);
  double wall = nowMs() - start;
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  char line[512];
  snprintf(line, sizeof line,
           "wall_ms=%.1f cpu_ms=%.2f user_ms=%.0f sys_ms=%.0f children_user_ms=%.0f "
           "children_sys_ms=%.0f peak_kb=%ld status=%d\n",
           wall, f.cpuMs, f.userMs, f.sysMs, f.childUserMs, f.childSysMs, f.peakKb, code);
  FILE* out = outFile ? fopen(outFile, "a") : stdout;
  if (!out) {
    perror("runstat: output file");
    out = stdout;
  }
  fputs(line, out);
  if (out != stdout) fclose(out);
  return code;
}
