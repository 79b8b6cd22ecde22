// verify_speed.cpp - the time the apply run spends on a signed bundle: one
// checkBundle call (read in blocks, verified against the keyring, copied)
// on the bundle given, wall and CPU time and MB/s on standard output.
//
//   verify_speed KEYRING BUNDLE COPY
//
// BUNDLE.sig must lie beside BUNDLE; COPY must not exist and is removed
// afterwards.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "signature.h"

static double cpuSeconds() {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: verify_speed KEYRING BUNDLE COPY\n");
    return 2;
  }
  struct stat st;
  if (stat(argv[2], &st) != 0) return 2;
  auto start = std::chrono::steady_clock::now();
  double cpu = cpuSeconds();
  BundleTrust trust = checkBundle(argv[1], argv[2], argv[3]);
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cpu = cpuSeconds() - cpu;
  unlink(argv[3]);
  double mb = static_cast<double>(st.st_size) / 1e6;
  printf("verified %d  bytes %lld  wall %.2f s  cpu %.2f s  %.0f MB/s\n", trust == BUNDLE_VERIFIED,
         static_cast<long long>(st.st_size), wall, cpu, mb / wall);
  return trust == BUNDLE_VERIFIED ? 0 : 1;
}
