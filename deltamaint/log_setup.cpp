// log_setup.cpp - one-time process set-up: the message catalogue of the
// translation domain, and the log rotation stanza for the maintenance logs.
#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <cstring>

#include "maint.h"
#include "owned.h"

static char* thisLocale = nullptr;

static const char* const LOGROTATE_FILE = "/etc/logrotate.d/maint";

static const char* const LOGROTATE_LINES[] = {
    "/var/log/maint/kestro.log {\n",
    "      compress\n",
    "      size 60k\n",
    "      notifempty\n",
    "      rotate 5\n",
    "      create 644 root root\n",
    "      dateext\n",
    "}\n\n",
    "/var/log/maint/vantel.log {\n",
    "      compress\n",
    "      size 100k\n",
    "      notifempty\n",
    "      rotate 5\n",
    "      create 644 root root\n",
    "      dateext\n",
    "}\n",
};

void setupForTranslation(const char* textDomain) {
  methodTrace trace("setupForTranslation");
  free(thisLocale);
  thisLocale = copyString(setlocale(LC_ALL, ""));
  bindtextdomain(textDomain, "/usr/share/locale");
  textdomain(textDomain);
}

const char* currentLocale() { return thisLocale; }

void setupLogrotate() {
  methodTrace trace("setupLogrotate");
  OwnedText user(backtics("/usr/bin/whoami"));
  chomp(user.get());
  bool root = strcmp(user.get(), "root") == 0;
  if (!root || fileExists(LOGROTATE_FILE)) return;
  OwnedFile out(fopen(LOGROTATE_FILE, "w"));
  if (!out) {
    logOnly("", "/etc/logrotate.d/maint config file could not be created.\n");
    return;
  }
  for (const char* line : LOGROTATE_LINES) fputs(line, out.get());
}
