// gate - holds the first process that runs PROGRAM with TEXT among its
// arguments right after it has started, so that a test can act while that
// command of the tool is really running.  Every open on the root's /
// filesystem then needs the gate's leave (fanotify permission events); the
// program's first open, its loader reading /etc/ld.so.cache, is answered
// only when the gate gets SIGUSR1, every other one at once.  Prints "armed"
// once it watches and the held process's id once it holds one.
//   usage: gate PROGRAM TEXT        (root, inside a test's root)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

static volatile sig_atomic_t go = 0;

// /proc/PID/FILE with its NUL separators as blanks.
static std::string proc(int pid, const char* file) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  std::string text = s.str();
  for (char& c : text) c = c == '\0' ? ' ' : c;
  return text;
}

// Lets the open go on (a process that died meanwhile needs no answer).
static void allow(int fan, int fd) {
  struct fanotify_response r = {fd, FAN_ALLOW};
  if (write(fan, &r, sizeof r) != sizeof r) {
  }
  close(fd);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: gate PROGRAM TEXT\n");
    return 2;
  }
  std::string comm = std::string(argv[1]).substr(0, 15) + "\n";
  struct sigaction sa = {};
  sa.sa_handler = [](int) { go = 1; };
  sigaction(SIGUSR1, &sa, nullptr);  // no SA_RESTART: poll returns at once
  int fan = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY);
  if (fan < 0 || fanotify_mark(fan, FAN_MARK_ADD | FAN_MARK_MOUNT, FAN_OPEN_PERM, AT_FDCWD, "/")) {
    perror("gate");
    return 1;
  }
  printf("armed\n");
  fflush(stdout);
  int held = -1;
  alignas(fanotify_event_metadata) char buf[8192];
  while (!go) {
    struct pollfd p = {fan, POLLIN, 0};
    if (poll(&p, 1, -1) <= 0) continue;
    ssize_t n = read(fan, buf, sizeof buf);
    for (auto* m = reinterpret_cast<fanotify_event_metadata*>(buf); FAN_EVENT_OK(m, n);
         m = FAN_EVENT_NEXT(m, n)) {
      if (held < 0 && proc(m->pid, "comm") == comm &&
          proc(m->pid, "cmdline").find(argv[2]) != std::string::npos) {
        held = m->fd;
        printf("%d\n", m->pid);
        fflush(stdout);
      } else {
        allow(fan, m->fd);
      }
    }
  }
  if (held >= 0) allow(fan, held);
  return 0;
}
