// bench_library.cpp - Google Benchmark timings of the library on large
// inputs: the report parser on real checker reports, and the
// installed-bundles table (read, and update with its write-back and sync)
// on stanza files of 1,000 and 10,000 stanzas.
//
//   bench_library --data=DIR [--benchmark_* flags]
//
// DIR/reports.list names the reports, one a line: OBJECTS PREFIX FILE
// (the tree's object count, the length of the tree's root path, the report
// file). The stanza files are made in a temporary directory under TMPDIR
// (or /tmp) and removed at the end.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "maint.h"

namespace {

struct Report {
  long objects;
  int prefix;
  std::string file;
  long long bytes;
};

long long fileBytes(const std::string& file) {
  struct stat st;
  return stat(file.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// One iteration is what a caller does: open the report, parse it, release
// the lists, close it.
void parseReport(benchmark::State& state, const Report& r) {
  long objects = 0;
  for (auto _ : state) {
    FILE* in = fopen(r.file.c_str(), "r");
    if (!in) {
      state.SkipWithError("cannot open the report");
      return;
    }
    int added = 0, deleted = 0, changed = 0;
    parseTWReport(in, added, deleted, changed, r.prefix);
    objects = added + deleted + changed;
    benchmark::DoNotOptimize(myAttributesModified);
    freeChangeLists();
    fclose(in);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * r.bytes);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * objects);
  state.counters["report_objects"] = static_cast<double>(objects);
  state.counters["report_MB"] = static_cast<double>(r.bytes) / 1e6;
}

std::vector<Report> readReportList(const std::string& dir) {
  std::vector<Report> reports;
  std::string list = dir + "/reports.list";
  FILE* in = fopen(list.c_str(), "r");
  if (!in) return reports;
  long objects = 0;
  int prefix = 0;
  char name[1024];
  while (fscanf(in, "%ld %d %1023s", &objects, &prefix, name) == 3) {
    std::string file = name[0] == '/' ? name : dir + "/" + name;
    long long bytes = fileBytes(file);
    if (bytes > 0) reports.push_back(Report{objects, prefix, file, bytes});
  }
  fclose(in);
  return reports;
}

// Stanza files: three preparation stanzas (with two or three package
// lines) to one client stanza, as a server's file grows. The first stanza
// is the bundle the update benchmark applies, so the newest-first search
// walks the whole table.
std::string tempDir;

std::string stanzaFile(int stanzas) {
  return tempDir + "/bundles." + std::to_string(stanzas);
}

void makeStanzaFile(int stanzas) {
  std::string file = stanzaFile(stanzas);
  unlink(file.c_str());
  for (int i = 0; i < stanzas; ++i) {
    char name[64];
    snprintf(name, sizeof name, "pos-maint-%05d-2.2.%d", i, i % 7);
    if (i % 4 == 3) {
      appendClientStanza(file.c_str(), name, "2026/11/30-22:10:05", i % 8 == 3 ? FAILED : OK);
    } else {
      const char* rpms = i % 2 ? "posapp-2.2-1\nposlib-2.2-3\nposfonts-1.0-7"
                               : "posapp-2.2-1\nposlib-2.2-3";
      appendPrepStanza(file.c_str(), name, "2026/11/30-21:58:41", OK, rpms);
    }
  }
}

std::string readWhole(const std::string& file) {
  std::string text;
  FILE* in = fopen(file.c_str(), "r");
  if (!in) return text;
  char buff[65536];
  size_t n;
  while ((n = fread(buff, 1, sizeof buff, in)) > 0) text.append(buff, n);
  fclose(in);
  return text;
}

void writeWhole(const std::string& file, const std::string& text) {
  FILE* out = fopen(file.c_str(), "w");
  if (!out) return;
  fwrite(text.data(), 1, text.size(), out);
  fclose(out);
}

void BM_readInstalledBundles(benchmark::State& state) {
  int stanzas = static_cast<int>(state.range(0));
  std::string file = stanzaFile(stanzas);
  long long bytes = fileBytes(file);
  int records = 0;
  for (auto _ : state) {
    array* table = readInstalledBundles(file.c_str());
    records = arraySize(*table);
    freeInstalledBundles(table);
  }
  if (records != stanzas) state.SkipWithError("the table does not hold every stanza");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * stanzas);
  state.counters["file_kB"] = static_cast<double>(bytes) / 1e3;
}

// Each iteration applies the first stanza's bundle in a fresh copy of the
// file: read, search, update, write back, sync.
void BM_updateStanza(benchmark::State& state) {
  int stanzas = static_cast<int>(state.range(0));
  std::string original = readWhole(stanzaFile(stanzas));
  std::string work = stanzaFile(stanzas) + ".work";
  for (auto _ : state) {
    state.PauseTiming();
    writeWhole(work, original);
    state.ResumeTiming();
    if (updateStanza(work.c_str(), "pos-maint-00000-2.2.0", APPLIED, OK) != 0) {
      state.SkipWithError("the update was refused");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(original.size()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * stanzas);
  state.counters["file_kB"] = static_cast<double>(original.size()) / 1e3;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dataDir;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (strncmp(argv[i], "--data=", 7) == 0) {
      dataDir = argv[i] + 7;
    } else {
      rest.push_back(argv[i]);
    }
  }
  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());

  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/dm-bench.XXXXXX";
  std::vector<char> dir(pattern.begin(), pattern.end());
  dir.push_back('\0');
  if (!mkdtemp(dir.data())) {
    perror("mkdtemp");
    return 1;
  }
  tempDir = dir.data();
  // The table's write-back logs a record; it goes to a log of our own.
  std::string logName = tempDir + "/bench.log";
  logFileName(logName.c_str());

  for (const Report& r : readReportList(dataDir)) {
    std::string name = "BM_parseTWReport/" + std::to_string(r.objects);
    benchmark::RegisterBenchmark(name.c_str(), [r](benchmark::State& s) { parseReport(s, r); })
        ->Unit(benchmark::kMillisecond);
  }
  for (int stanzas : {1000, 10000}) makeStanzaFile(stanzas);
  benchmark::RegisterBenchmark("BM_readInstalledBundles", BM_readInstalledBundles)
      ->Arg(1000)
      ->Arg(10000)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_updateStanza", BM_updateStanza)
      ->Arg(1000)
      ->Arg(10000)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  std::string clean = "rm -rf '" + tempDir + "'";
  return runShell(clean.c_str()) == 0 ? 0 : 1;
}
