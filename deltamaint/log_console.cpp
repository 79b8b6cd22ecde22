// log_console.cpp - the maintenance log and the console: stamped records,
// blank and delimiter records, message composition, copies of command
// output, and the two console forms.
#include <errno.h>
#include <libgen.h>
#include <libintl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "maint.h"
#include "owned.h"

static char* logfile = nullptr;
static CONSOLE toUser = SCREEN;
static char timestampBuff[40];
static int local_timestampLength = 0;

static const int PREFIX_BUFF = 128;

void logFileName(const char* str) {
  free(logfile);
  logfile = nullptr;
  if (!str) return;
  OwnedText copy(copyString(str));
  const char* dir = dirname(copy.get());
  char cmd[MAINT_BUFF];
  if (dir && dir[0] != '\0' && composeCommand(cmd, "/bin/mkdir -p %s", dir)) {
    runCommand(cmd, LOG_NOT);
  }
  logfile = copyString(str);
}

void writelog(const char* arg) {
  if (!logfile) return;  // nothing is named yet: the record is dropped
  OwnedFile out(fopen(logfile, "a"));
  if (!out) {
    console('I', gettext("Fatal Error: Could not open maintenance logfile %s. %s.\n"), logfile,
            strerror(errno));
    return;
  }
  fputs(arg ? arg : "", out.get());
  fputc('\n', out.get());
}

const char* timestamp() {
  time_t now = time(nullptr);
  struct tm lt;
  localtime_r(&now, &lt);
  snprintf(timestampBuff, sizeof timestampBuff, "%02d/%02d/%02d-%02d:%02d:%02d - ",
           lt.tm_year % 100, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec);
  return timestampBuff;
}

int timestampLength() {
  if (local_timestampLength == 0) local_timestampLength = static_cast<int>(strlen(timestamp()));
  return local_timestampLength;
}

void log(const char* arg) {
  if (!arg) arg = "";
  size_t lead = 0;
  while (lead < 11 && arg[lead] == '\n') ++lead;
  std::string record(lead, '\n');
  record += timestamp();
  record += arg + lead;
  writelog(record.c_str());
}

int countNewlines(char* out, int outsize, const char* line, const char* indent) {
  if (!out || outsize <= 0) return 0;
  memset(out, 0, static_cast<size_t>(outsize));
  int n = 0;
  while (line && n < 4 && n < outsize - 1 && line[n] == '\n') {
    out[n] = '\n';
    ++n;
  }
  if (indent) {
    size_t room = static_cast<size_t>(outsize - 1 - n);
    strncat(out, indent, room);
  }
  return static_cast<int>(strlen(out));
}

// Calls `each` with the prefix and every non-empty line of `line`.
template <typename Each>
static void forEachLine(const char* indent, const char* line, Each each) {
  if (!line) return;
  char prefix[PREFIX_BUFF];
  countNewlines(prefix, sizeof prefix, line, indent);
  OwnedText copy(copyString(line));
  char* save = nullptr;
  for (char* piece = strtok_r(copy.get(), "\n", &save); piece;
       piece = strtok_r(nullptr, "\n", &save)) {
    each(prefix, piece);
  }
}

void logOnly(const char* indent, const char* line) {
  forEachLine(indent, line, [](const char* prefix, const char* piece) {
    std::string record(prefix);
    record += piece;
    log(record.c_str());
  });
}

void logAndPrint(char s, const char* indent, const char* line) {
  forEachLine(indent, line, [s](const char* prefix, const char* piece) {
    std::string record(prefix);
    log((record + piece).c_str());
    console(s, (record + gettext(piece)).c_str());
  });
}

static int countPlaceholders(const char* fmt) {
  int n = 0;
  for (const char* p = fmt; (p = strstr(p, "%s")) != nullptr; p += 2) ++n;
  return n;
}

void composeMessage(char* out, size_t outsize, const char* fmtstr, const char* arg1,
                    const char* arg2) {
  if (!out || outsize == 0) return;
  if (!fmtstr) fmtstr = "";
  int places = countPlaceholders(fmtstr);
  std::string text;
  const char* args[2] = {arg1 ? arg1 : "", arg2 ? arg2 : ""};
  int given = arg2 ? 2 : 1;
  int used = 0;
  for (const char* p = fmtstr; *p;) {
    if (p[0] == '%' && p[1] == 's') {
      if (used < given) text += args[used];
      ++used;
      p += 2;
    } else {
      text += *p++;
    }
  }
  // A format with one place fewer than texts gets the last text appended.
  if (places == given - 1) {
    text += ' ';
    text += args[given - 1];
    text += '.';
  }
  snprintf(out, outsize, "%s", text.c_str());
}

void logOnly(const char* indent, const char* fmtstr, const char* arg1) {
  char text[MAINT_BUFF];
  composeMessage(text, sizeof text, fmtstr, arg1, nullptr);
  logOnly(indent, text);
}

void logOnly(const char* indent, const char* fmtstr, const char* arg1, const char* arg2) {
  char text[MAINT_BUFF];
  composeMessage(text, sizeof text, fmtstr, arg1 ? arg1 : "", arg2 ? arg2 : "");
  logOnly(indent, text);
}

void logAndConsole(char s, const char* fmtstr, const char* arg1, const char* arg2) {
  if (!arg1 && !arg2) {
    logOnly("", fmtstr);
    console(s, gettext(fmtstr));
  } else if (!arg2) {
    logOnly("", fmtstr, arg1);
    console(s, gettext(fmtstr), arg1);
  } else {
    logOnly("", fmtstr, arg1, arg2);
    console(s, gettext(fmtstr), arg1, arg2);
  }
}

void logBlank(int blanks) {
  for (int i = 0; i < blanks; ++i) writelog(" ");
}

void logOnlyDelimiter(int pre, int post) {
  char buff[MAINT_BUFF];
  int n = 0;
  for (int i = 0; i < pre && n < MAINT_BUFF - 73; ++i) buff[n++] = '\n';
  memset(buff + n, '#', 72);
  buff[n + 72] = '\0';
  writelog(buff);
  for (int i = 0; i < post; ++i) fputc('\n', stdout);
  fflush(stdout);
}

// Copies `file` line by line, each line behind `indent`, to `sink`.  Lines
// longer than the read size arrive in pieces; a last line without a newline
// is not copied.
template <typename Sink>
static int copyLines(const char* indent, const char* file, const char* openWarning, bool withError,
                     Sink sink) {
  struct stat st;
  if (!file || stat(file, &st) != 0 || st.st_size < 1) return 0;
  OwnedFile in(fopen(file, "r"));
  if (!in) {
    if (withError) {
      logOnly("", openWarning, file, strerror(errno));
    } else {
      logOnly("", openWarning, file);
    }
    return 0;
  }
  if (!indent) indent = "";
  char buff[MAINT_BUFF];
  size_t len = strnlen(indent, MAINT_BUFF / 2);
  memcpy(buff, indent, len);
  buff[len] = '\0';
  int request = MAINT_BUFF - 1 - static_cast<int>(len);
  for (;;) {
    if (!fgets(buff + len, request, in.get()) || feof(in.get())) break;
    chomp(buff);
    sink(buff);
  }
  return 1;
}

int tmpfileToLog(const char* indent, const char* file) {
  methodTrace trace("tmpfileToLog");
  return copyLines(indent, file, "Warning: Could not open tmpfileToLog file %s. %s.\n", true,
                   [](const char* line) { log(line); });
}

int tmpfileToConsole(char s, const char* indent, const char* file) {
  methodTrace trace("tmpfileToConsole");
  return copyLines(indent, file, "Warning: Temp file %s does not appear to have any data.\n", false,
                   [s](const char* line) { console(s, line); });
}

void setConsole(CONSOLE target) { toUser = target; }

CONSOLE consoleMode() { return toUser; }

void console(char s, const char* arg) {
  if (!arg) arg = "";
  if (toUser == SCREEN) {
    fputs(arg, stdout);
    fputc('\n', stdout);
  } else if (toUser == MBEAN) {
    fputc(s, stdout);
    fputs(arg, stdout);
    fputc('\n', stdout);
  }
  fflush(stdout);
}

void console(char s, const char* fmtstr, const char* arg1) {
  char text[MAINT_BUFF];
  composeMessage(text, sizeof text, fmtstr, arg1, nullptr);
  console(s, text);
}

void console(char s, const char* fmtstr, const char* arg1, const char* arg2) {
  char text[MAINT_BUFF];
  composeMessage(text, sizeof text, fmtstr, arg1 ? arg1 : "", arg2 ? arg2 : "");
  console(s, text);
}
