// log_trace.cpp - scoped method tracing: entry and exit lines in the log,
// indented by nesting depth, switched on by ZOR_MTRACE.
#include <cstdlib>
#include <cstring>

#include "maint.h"

int methodTrace::level = 0;
int methodTrace::flag = -1;

static const char* const OPEN_BANNER =
    ">>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>";
static const char* const CLOSE_BANNER =
    "<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<";

// 3 blanks per level, then the arrow; deep nesting is cut to the buffer.
static void traceLine(int depth, const char* arrow, const char* name) {
  char indent[128];
  int n = 0;
  for (int i = 0; i < depth * 3 && n < 120; ++i) indent[n++] = ' ';
  indent[n] = '\0';
  strncat(indent, arrow, sizeof indent - strlen(indent) - 1);
  logOnly(indent, name);
}

methodTrace::methodTrace(char* name) : methodName(name), traced(false) { enter(); }

methodTrace::methodTrace(const char* name) : methodName(name), traced(false) { enter(); }

void methodTrace::enter() {
  if (flag == -1) flag = getenv("ZOR_MTRACE") ? 1 : 0;
  if (flag == 0) return;
  if (level == 0) {
    logBlank(1);
    logOnly("    ", OPEN_BANNER);
  }
  traceLine(level, "->>", methodName);
  ++level;
  traced = true;
}

// A scope whose entry was not traced owes nothing, so tracing switched on
// or off while scopes are open never drives the depth below zero.
methodTrace::~methodTrace() {
  if (!traced) return;
  if (level > 0) --level;
  if (flag == 0) return;
  traceLine(level, "<<-", methodName);
  if (level == 0) {
    logOnly("    ", CLOSE_BANNER);
    logBlank(1);
  }
}

int methodTrace::flagValue() { return flag; }
void methodTrace::startTracing() { flag = 1; }
void methodTrace::stopTracing() { flag = 0; }
int methodTrace::levelValue() { return level; }

int isTraceActive() { return methodTrace::flagValue(); }
