// catch_child - holds a command that a process has started: polls the
// process's descendants until one runs PROGRAM (by the name the kernel
// gives the process at exec, as some programs rewrite their argument list)
// with TEXT in its arguments (an empty TEXT matches any), stops it with
// SIGSTOP and prints its process id.  Exit 1 when none turned up within
// SECONDS.  The test sends SIGCONT later.
//
// usage: catch_child PID PROGRAM TEXT SECONDS
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Child process ids of `pid` (its main thread's children).
static std::vector<int> children(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  std::vector<int> out;
  int child;
  while (in >> child) out.push_back(child);
  return out;
}

// The whole of a small /proc file of `pid`.
static std::string procFile(int pid, const char* name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + name, std::ios::binary);
  std::stringstream buf;
  buf << in.rdbuf();
  return buf.str();
}

// True when `pid` runs the program named `comm` with `text` among its
// arguments (joined by blanks).
static bool runs(int pid, const std::string& comm, const char* text) {
  if (procFile(pid, "comm") != comm + "\n") return false;
  if (!*text) return true;
  std::string args = procFile(pid, "cmdline");
  for (char& c : args) {
    if (c == '\0') c = ' ';
  }
  return args.find(text) != std::string::npos;
}

// Depth-first search of the descendants of `pid` for the command.
static int find(int pid, const std::string& comm, const char* text) {
  for (int child : children(pid)) {
    if (runs(child, comm, text)) return child;
    int found = find(child, comm, text);
    if (found > 0) return found;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: catch_child PID PROGRAM TEXT SECONDS\n");
    return 2;
  }
  int pid = atoi(argv[1]);
  std::string comm = argv[2];
  comm = comm.substr(comm.rfind('/') + 1).substr(0, 15);
  long rounds = atol(argv[4]) * 10000L;  // one round every 100 microseconds
  const struct timespec pause = {0, 100000};
  for (long i = 0; i < rounds; ++i) {
    int child = find(pid, comm, argv[3]);
    if (child > 0 && kill(child, SIGSTOP) == 0) {
      printf("%d\n", child);
      return 0;
    }
    if (kill(pid, 0) != 0) break;
    nanosleep(&pause, nullptr);
  }
  fprintf(stderr, "catch_child: %s with \"%s\" never ran under process %d\n", argv[2], argv[3], pid);
  return 1;
}
