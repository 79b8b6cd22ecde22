// The message catalogues of the "applyKestro" domain as files: the template
// po/applyKestro.pot holds every console message that the tool shows
// translated and none that it shows untranslated; the German catalogue
// translates all of them with the same conversions in the same order (the
// tool fills "%s" places itself, in order, so reordering or dropping one
// would garble the console); and the list of messages that the sources pass
// through variables still matches the sources.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../support/po_file.h"

namespace {

// The source tree, from this file's own path (.../tests/unit/test_catalogue.cpp).
std::string sourceTree() {
  std::string self = __FILE__;
  size_t at = self.rfind("/tests/unit/");
  return at == std::string::npos ? std::string(".") : self.substr(0, at);
}

std::string templatePath() { return sourceTree() + "/po/applyKestro.pot"; }
std::string germanPath() { return sourceTree() + "/po/de.po"; }

// Console messages that are shown through the message catalogue: the run's
// stages, the lock, the log, the checker's version check, the library's
// reports and the bundle builder's messages.
const char* const TRANSLATED[] = {
    // run frame and command line
    "This application must be run with root authority. Exiting.",
    "Starting apply phase for client POS image maintenance.",
    "Fatal Error: Unable to create working directory %s.",
    "Fatal Error: Unable to create image working directory %s.",
    "Only one maintenance bundle may be specified on the command line.",
    "%s and %s both appear to be bundle names.",
    "Invalid option: %s",
    "Maintenance bundle name must be specified on the command line. Exiting.\n",
    "Fatal error: Maintenance bundle %s does not exist.",
    "applyKestro accepts one command line parameter.",
    "Specify the name of the maintenance bundle to be processed.",
    // bundle unpacking and maintenance data
    " Fatal error: Maintenance control file maint_cmd_bash1 was not in the tar file.",
    "Fatal error: Maintenance control file maintData was not in the tar file.",
    "Fatal error: Maintenance control file tw.maint_db was not in the tar file.",
    "Fatal error. Old image %s does not exist. New image can not be created.",
    "Attempt to uncompress %s failed. Fatal error.",
    "WARNING: Local copy of the old image we are starting from DOES NOT match the one the "
    "maintenance bundle was built from.",
    "MD5 from the original image we started from: %s",
    "MD5 from the local image we will use:        %s",
    // new image construction
    "Attempt to create image file for new image failed.",
    "Attempt to format image file for new image failed.",
    "Attempt to add a filesystem journal to the image file %s failed.",
    "Fatal Error: Attempt to copy old image contents to %s failed.",
    "Fatal Error: Unable to unmount %s from %s.",
    "       Return code:  ",
    "Attempt to apply maintenance to image failed.",
    // validation and finishing
    "Unable to unmount image from %s.",
    "Can not open file %s.",
    "Total files in image: %d    Total errors: %d. ",
    "Attempt to gzip the new image failed.",
    // log, diagnostic records and lock
    "Fatal Error: Could not open maintenance logfile %s. %s.\n",
    "Elapsed time = %d:%02d:%02d ",
    "Unable to mount %s for processing.",
    "Fatal error: Could not open lock file %s.",
    "Waiting for the delta maintenance lock file to be released.",
    "Fatal error: Could not lock file to execute %s.",
    // the checker's version and control files
    "Attempt to create and write to file %s failed.",
    "Prerequesite package tripwire does not appear to be installed. Exiting.",
    "%s installed on your system is too old to work with this software. Contact ZOR Support.",
    "%s installed on your system may not function properly with this software. Contact ZOR "
    "Support.",
    // change lists, state database, stanzas, inittab, list files
    "Fatal Error: Could not open output file %s. %s.",
    "Attempt to build filesystem state database failed. rc = %s. Exiting.",
    "Fatal error: Attempt to update %s file failed.",
    "Attempt to update stanza for item %s in bundle %s failed.",
    "Temporary file could not be opened for writing. Exiting.",
    "Inserting an initdefault line for runlevel 7.",
    "Fatal Error: Could not open input file %s.",
    "File %s has an apparent filename entry that does not have an absolute path.",
    "File %s has an apparent filename that is longer than 255 bytes.",
    // the bundle builder
    "usage: makeKestroBundle [-M] [-o BUNDLE.tar] [--size MB] [--inodes N]",
    "Invalid size: %s",
    "Starting build of a maintenance bundle.",
    "Fatal error: The %s \"%s\" holds characters that a shell command must not be given. "
    "Exiting.",
    "Fatal error: The %s step ended abnormally (%s). Exiting.",
    "Fatal error: The verifying apply run found %s violations. Exiting.",
    "Maintenance bundle %s written.",
};

// The checker's control-file failures are shown as written, with the
// administration tool's own output after them.
const char* const UNTRANSLATED[] = {
    "Attempt to build tripwire control files failed. See following error message.",
    "Attempt to build tripwire config file failed. See following error message.",
    "Attempt to build tripwire policy file failed. See following error message.",
    "Line generating error = \"%s\" ",
};

std::string visible(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

std::string capture(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) {
    *status = -1;
    return out;
  }
  char buff[4096];
  size_t n;
  while ((n = fread(buff, 1, sizeof buff, p)) > 0) out.append(buff, n);
  *status = pclose(p);
  return out;
}

}  // namespace

TEST(MessageTemplate, HoldsEveryTranslatedConsoleMessage) {
  bool ok = false;
  auto pot = readPoFile(templatePath(), &ok);
  ASSERT_TRUE(ok) << templatePath();
  for (const char* message : TRANSLATED) {
    EXPECT_EQ(1u, pot.count(message)) << "missing from the template: \"" << visible(message)
                                      << "\"";
  }
}

TEST(MessageTemplate, LeavesOutTheCheckersUntranslatedTexts) {
  auto pot = readPoFile(templatePath());
  ASSERT_FALSE(pot.empty());
  for (const char* message : UNTRANSLATED) {
    EXPECT_EQ(0u, pot.count(message)) << "shown untranslated, yet in the template: \""
                                      << visible(message) << "\"";
  }
}

TEST(GermanCatalogue, TranslatesEveryTemplateMessageKeepingItsConversions) {
  auto pot = readPoFile(templatePath());
  bool ok = false;
  auto de = readPoFile(germanPath(), &ok);
  ASSERT_TRUE(ok) << germanPath();
  ASSERT_FALSE(pot.empty());
  for (const auto& entry : pot) {
    const std::string& id = entry.first;
    auto found = de.find(id);
    if (found == de.end()) {
      ADD_FAILURE() << "no German entry for \"" << visible(id) << "\"";
      continue;
    }
    const PoEntry& t = found->second;
    EXPECT_FALSE(t.fuzzy) << "fuzzy: \"" << visible(id) << "\"";
    EXPECT_FALSE(t.msgstr.empty()) << "untranslated: \"" << visible(id) << "\"";
    EXPECT_NE(id, t.msgstr) << "left in English: \"" << visible(id) << "\"";
    EXPECT_EQ(conversions(id), conversions(t.msgstr)) << "\"" << visible(id) << "\"";
    // Leading blanks and the final line end shape the console line.
    EXPECT_EQ(id.find_first_not_of(' '), t.msgstr.find_first_not_of(' ')) << visible(id);
    EXPECT_EQ(id.back() == '\n', t.msgstr.back() == '\n') << visible(id);
    EXPECT_EQ(id.back() == ' ', t.msgstr.back() == ' ') << visible(id);
  }
  for (const auto& entry : de) {
    EXPECT_EQ(1u, pot.count(entry.first))
        << "German entry not in the template: \"" << visible(entry.first) << "\"";
  }
}

TEST(MessageTemplate, IndirectMessagesStillOccurInTheSources) {
  // Every text listed for the template by hand must be a string literal of
  // the sources, so that the list cannot keep a message the tool no longer
  // has (or has reworded).
  int status = 0;
  capture("command -v xgettext >/dev/null", &status);
  if (status != 0) {
    if (getenv("DELTAMAINT_REQUIRE_E2E") && std::string(getenv("DELTAMAINT_REQUIRE_E2E")) == "1") {
      FAIL() << "xgettext is not installed";
    }
    GTEST_SKIP() << "xgettext is not installed";
  }
  std::string dir = sourceTree();
  char scratch[] = "/tmp/dm-catalogue.XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(scratch));
  std::string all = std::string(scratch) + "/all.pot";
  std::string listed = std::string(scratch) + "/listed.pot";
  capture("cd '" + dir + "' && xgettext --language=C++ --from-code=UTF-8 --extract-all -o '" + all +
              "' deltamaint/*.cpp apply/*.cpp builder/*.cpp 2>&1 && xgettext --language=C++ --from-code=UTF-8 "
              "--keyword=N_ -o '" + listed + "' po/indirect-messages.cpp 2>&1",
          &status);
  auto literals = readPoFile(all);
  auto indirect = readPoFile(listed);
  capture("rm -rf '" + std::string(scratch) + "'", &status);
  ASSERT_FALSE(literals.empty());
  ASSERT_FALSE(indirect.empty());
  auto pot = readPoFile(templatePath());
  for (const auto& entry : indirect) {
    EXPECT_EQ(1u, literals.count(entry.first))
        << "listed in po/indirect-messages.cpp but not in the sources: \""
        << visible(entry.first) << "\"";
    EXPECT_EQ(1u, pot.count(entry.first)) << visible(entry.first);
  }
}
