// Runs of the tool as tables: every row of frame.txt (the command line,
// bundle resolution, the root check, tracing, rotation stanza, package
// record), apply.txt (runs that succeed, the run lock) and trouble.txt
// (runs that meet trouble: bad bundles and data, failing commands, full
// disks, planted paths, overlong names) beside this file is one run of the
// tool in a root of its own (Root::apply).
//
// A row starts with "@row NAME"; "@KEY VALUE" sets a field, "@KEY" alone
// sets it to the lines that follow, up to the next line starting with "@".
// Fields: args (default "-M b"), before, during, after (scripts), status
// (the tool's exit status), and the expected console, log (the run's
// records), left, stanza and shows (what `after` printed), each a glob
// checked only when the row gives it.  @MD5@ and @GZMD5@ stand for the old
// images' checksums.  Nothing may stay mounted or attached.
#include <map>

#include "root.h"

namespace {

struct Row {
  std::string name;
  std::map<std::string, std::string> field;
  bool has(const std::string& key) const { return field.count(key) > 0; }
  std::string get(const std::string& key, const std::string& otherwise = "") const {
    return has(key) ? field.at(key) : otherwise;
  }
};

// The rows of FILE beside this source; a field given twice is kept as
// "twice KEY", which the test refuses like an unknown one.
std::vector<Row> load(const std::string& file) {
  std::vector<Row> rows;
  std::string* block = nullptr;
  for (const std::string& line : lines(readFile(std::string(DM_SOURCE_DIR) + "/tests/e2e/" + file))) {
    if (line[0] != '@') {
      if (block) *block += line + "\n";
      continue;
    }
    size_t blank = line.find(' ');
    std::string key = line.substr(1, blank - 1);
    std::string value = blank == std::string::npos ? "" : line.substr(blank + 1);
    block = nullptr;
    if (key == "row") {
      rows.push_back({value, {}});
    } else if (!rows.empty()) {
      if (rows.back().has(key)) key = "twice " + key;
      rows.back().field[key] = value;
      if (blank == std::string::npos) block = &rows.back().field[key];
    }
  }
  if (rows.empty()) rows.push_back({"NoRowsRead", {}});
  return rows;
}

// TEXT with the old images' checksums for @MD5@ (plain) and @GZMD5@.
std::string withChecksums(std::string text) {
  for (const char* variant : {"plain", "gz"}) {
    std::string mark = variant == std::string("gz") ? "@GZMD5@" : "@MD5@";
    std::string md5 = readFile(std::string(DM_BINARY_DIR) + "/fixtures/apply/" + variant + "/old.md5");
    for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, mark.size(), md5.substr(0, 32));
  }
  return text;
}

const std::string KEYS = " args before during after status console log left stanza shows ";

void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

class Runs : public E2E, public testing::WithParamInterface<Row> {};

TEST_P(Runs, Run) {
  const Row& r = GetParam();
  ASSERT_TRUE(r.has("status")) << r.name << ": no status";
  for (const auto& f : r.field)
    ASSERT_NE(std::string::npos, KEYS.find(" " + f.first + " ")) << r.name << ": unknown field " << f.first;
  Outcome o = root.apply(r.get("args", "-M b"), r.get("before"), r.get("after"), r.get("during"));
  EXPECT_EQ(std::stoi(r.get("status")), o.tool) << o;
  std::string left = o.left.empty() ? "" : o.left.substr(0, o.left.size() - 1);
  const std::pair<const char*, const std::string*> checks[] = {
      {"console", &o.console}, {"log", &o.records}, {"left", &left}, {"stanza", &o.stanza}, {"shows", &o.after}};
  for (const auto& c : checks) {
    if (r.has(c.first)) {
      EXPECT_PRED_FORMAT2(globMatch, withChecksums(r.get(c.first)), *c.second) << c.first;
    }
  }
  EXPECT_EQ("", o.leaks);
}

std::string name(const testing::TestParamInfo<Row>& i) { return i.param.name; }

INSTANTIATE_TEST_SUITE_P(Frame, Runs, testing::ValuesIn(load("frame.txt")), name);
INSTANTIATE_TEST_SUITE_P(Apply, Runs, testing::ValuesIn(load("apply.txt")), name);
INSTANTIATE_TEST_SUITE_P(Trouble, Runs, testing::ValuesIn(load("trouble.txt")), name);

}  // namespace
