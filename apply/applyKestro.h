// applyKestro.h - the apply run's shared state and stages, used by the
// driver's sources only.  Every text of the run state is a heap copy that
// lives until the process ends; a value is replaced, never edited.
#ifndef DELTAMAINT_APPLYKESTRO_H
#define DELTAMAINT_APPLYKESTRO_H

#include <ctime>
#include <string>

#include "fixed_paths.h"
#include "maint.h"

// Fixed places.
extern char* maintRoot;        // "/var/maint"
extern char maintLogRoot[15];  // "/var/log/maint"
extern char* defaultDownload;  // "/var/maint/downloads"
extern char* stanzaFile;       // "clientinstall.bundles"

// Set by the frame.
extern time_t starttime;
extern char* startDir;
extern char* workdir;
extern char* oldimagedir;
extern char* newimagedir;
extern char* tripdb;
extern char* tempfile;
extern char* clientBundles;
extern char* maintBundle;

// Set from the bundle's maintenance data.
extern char* orig_old_image;
extern char* orig_new_image;
extern char* old_image;
extern char* new_image;
extern int imagesGzipped;
extern char* oldImageMD5;
extern char* newImageSize;
extern char* newImageFSType;
extern char* newImageInodes;

// Replaces a run-state text by a copy of `value`.
void setState(char*& variable, const char* value);

// Frame stages.
void startup();
void authorize(int argc, char** argv);
void buildWorkDirs();
void parseCommandLine(int argc, char** argv);
[[noreturn]] void help();
void cleanupWorkDir(int sig);

// Bundle unpacking and maintenance data.
void extractControlFiles();
void parseMaintData();
void processImageNames();
void processGzippedImage();
int checkOldImageMD5(const char* oldImageMD5);

// New image construction and maintenance apply.
void prepForMaint();
void prepOldImageFile();
void buildNewImageFile();
void applyMaintToNewImage();

// Validation with the integrity checker.
void validateNewImage();
char* newImageTripwireRun();

// Finishing: filesystem check, checksum, compression, and the image and
// its checksum record written under temporary names; placeNewImage then
// renames each over its final name, so that an earlier file there stays
// as it was until the new one is complete.
void finishNewImage();
void placeNewImage();
char* createImageMD5(char* image);
char* createImageMD5(const char* image);
void buildNewImageMD5(char* localmd5);
void buildNewImageMD5(const char* localmd5);

// The failure endings.  Each follows the failure's message and removes any
// final-name output of an unfinished finishing stage, then does what its
// name says, then writes a "Failed" stanza once the bundle is known and
// exits with status 1.
// The clean-up (unmounts, the working directory removed), then a delimiter.
[[noreturn]] void failAfterCleanup();
// The clean-up; the mount failure report has written the delimiter.
[[noreturn]] void failAfterCleanupReported();
// A delimiter only: the working directory stays as it is.
[[noreturn]] void failKeepingWorkDir();
// The clean-up, then a delimiter with one empty line before and one
// newline after it on the console.
[[noreturn]] void failAfterCleanupSpaced();

// Names the files the finishing stage is writing under temporary names; a
// failure ending removes them, so no image is put in place by a run that
// did not end "OK".  clearPartialOutput keeps them.
void setPartialOutput(const char* image, const char* record);
void clearPartialOutput();

// Returns `value` when a shell may be given it; otherwise ends the run with
// `failure`, a whole sentence whose %s receives the value.
const char* shellValue(const char* failure, const char* value);
// Runs one of the run's commands (runCommand), then ends the run when a
// signal arrived meanwhile.  Commands are composed with composeCommand: one
// that would not fit ends the run with a message naming it.
int runLogged(const char* cmd, CommandLog how = LOG_BEFORE);
// "rc = N": a command's wait status as the run's messages show it.
std::string statusText(int rc);
// Installs the run's command handlers (refusal and signal watch).
void installCommandHandlers();
// Ends the run with a message naming `path` unless it is, itself, a
// directory (`directory`) or a regular file: a symbolic link planted at a
// path the run mounts on, writes or removes is never followed.
void requirePlainPath(const char* path, bool directory);
// Ends the run when a signal arrived since the last check.
void checkInterrupted();

#endif  // DELTAMAINT_APPLYKESTRO_H
