// kestroStatus.cpp - the command: `kestroStatus [--json] [BUNDLE]`.  Without
// BUNDLE it prints where this server stands and exits 0; with BUNDLE it
// prints that bundle's newest stanza and exits 0 only when its Applied
// status is "OK".  A stanza file that is there but cannot be read, or a
// command line it does not take, ends it with a message and status 1.
#include <libintl.h>

#include <cstdio>
#include <cstring>
#include <iostream>

#include "fixed_paths.h"
#include "maint.h"
#include "status.h"

static int usage() {
  fprintf(stderr, "%s\n", gettext("Usage: kestroStatus [--json] [BUNDLE]"));
  return 1;
}

int main(int argc, char** argv) {
  setupForTranslation("applyKestro");
  bool asJson = false;
  const char* bundle = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--json") == 0) {
      asJson = true;
    } else if (argv[i][0] == '-' || bundle) {
      return usage();
    } else {
      bundle = argv[i];
    }
  }
  const StatusPlaces places{STANZA_FILE, LOCK_FILE, IMAGE_DIR};
  ServerStatus status;
  std::string error;
  if (!gatherStatus(places, status, error)) {
    fprintf(stderr, gettext("kestroStatus: cannot read %s: %s\n"), STANZA_FILE, error.c_str());
    return 1;
  }
  if (!bundle) {
    if (asJson) {
      std::cout << statusJson(places, status).dump(2) << "\n";
    } else {
      std::cout << statusText(places, status);
    }
    return 0;
  }
  const BundleStatus* found = findBundle(status, bundle);
  if (asJson) {
    std::cout << bundleJson(bundle, found).dump(2) << "\n";
  } else {
    std::cout << bundleText(bundle, found);
  }
  return found && found->applied.status == OK ? 0 : 1;
}
