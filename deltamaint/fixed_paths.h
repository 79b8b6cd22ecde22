// fixed_paths.h - the places both commands work in and the signals they
// handle, written once.  The apply run, the bundle builder, the library and
// the tests all read them from here.
#ifndef DELTAMAINT_FIXED_PATHS_H
#define DELTAMAINT_FIXED_PATHS_H

#include <signal.h>

constexpr const char* MAINT_ROOT = "/var/maint";
constexpr const char* DOWNLOAD_DIR = "/var/maint/downloads";
constexpr const char* STANZA_FILE_NAME = "clientinstall.bundles";
constexpr const char* STANZA_FILE = "/var/maint/clientinstall.bundles";
constexpr const char* LOCK_FILE = "/var/maint/kestro.lock";
constexpr const char* LOG_DIR = "/var/log/maint";
constexpr const char* APPLY_LOG_FILE = "/var/log/maint/kestro.log";
constexpr const char* BUILDER_LOG_FILE = "/var/log/maint/makeKestroBundle.log";
constexpr const char* IMAGE_DIR = "/tftpboot/image";
// Where the new image is mounted while it is built.
constexpr const char* IMAGE_MOUNT_POINT = "/tftpboot/image/zor_image";
// Parent of every working directory and temporary file.
constexpr const char* TEMP_ROOT = "/tmp/maint_zor";

// The signals that end a run through its clean-up.
constexpr int HANDLED_SIGNALS[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

inline bool isHandledSignal(int sig) {
  for (int s : HANDLED_SIGNALS) {
    if (s == sig) return true;
  }
  return false;
}

#endif  // DELTAMAINT_FIXED_PATHS_H
