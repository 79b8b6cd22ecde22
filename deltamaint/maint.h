// maint.h - the deltamaint maintenance library.
//
// One header for everything the library offers: logging and the console,
// method tracing, diagnostic records, the run lock, log rotation and
// translation set-up, the tripwire control files, report parser, change
// lists and state database, the bundle status stanza file and its table,
// /etc/inittab editing for runlevel 7, the text/file/shell utilities, the
// linked list `array`, and list-file vetting.
//
// Conventions shared by all operations:
//  - Results are 0 for success and 1 (or a command's shell status) for
//    failure, or a pointer that is null when there is nothing.
//  - Texts handed to a caller are allocated with malloc; the caller
//    releases them with free.  A list owns its elements and their payloads.
//  - Shell commands are composed into 300-character buffers, logged with the
//    indent ">>" and run through "/bin/sh -c".
//  - Every report is a pair: the English text to the log, the translated
//    text to the console behind a severity letter ('E', 'W', 'I', ' ').
#ifndef DELTAMAINT_MAINT_H
#define DELTAMAINT_MAINT_H

#include <cstddef>
#include <cstdio>
#include <ctime>

// Size of every composed path, command line and message.
const int MAINT_BUFF = 300;

// ---------------------------------------------------------------------------
// Log file and console messages
// ---------------------------------------------------------------------------

// Console form: SCREEN writes plain lines, MBEAN puts the severity letter
// directly in front of each line.
enum CONSOLE { SCREEN = 0, MBEAN = 1 };

// Names the log file and creates its directory ("/bin/mkdir -p").
void logFileName(const char* str);
// Appends `arg` and a newline to the log: one open, append and close.
// Records written before a log is named are dropped.
void writelog(const char* arg);
// Appends `arg` as a stamped record; up to 11 leading newlines go before the
// timestamp.
void log(const char* arg);
// Writes each non-empty line of `line` as a stamped record behind the prefix
// (up to 4 leading newlines of `line`, then `indent`).
void logOnly(const char* indent, const char* line);
// Composes a message from a format and one or two texts (see composeMessage)
// and writes it as logOnly(indent, text) does.
void logOnly(const char* indent, const char* fmtstr, const char* arg1);
void logOnly(const char* indent, const char* fmtstr, const char* arg1, const char* arg2);
// Each line of `line` to the log, and translated line by line to the console.
void logAndPrint(char s, const char* indent, const char* line);
// Builds the line prefix (leading newlines of `line`, at most 4, then
// `indent`) into `out`; returns its length.
int countNewlines(char* out, int outsize, const char* line, const char* indent);
// Appends `blanks` records holding one blank.
void logBlank(int blanks);
// Appends `pre` empty lines and 72 '#'; prints `post` newlines on stdout.
void logOnlyDelimiter(int pre, int post);
// Copies a text file line by line into the log (or to the console); 1 when
// copied, 0 when the file is missing, empty or unreadable.
int tmpfileToLog(const char* indent, const char* file);
int tmpfileToConsole(char s, const char* indent, const char* file);
void setConsole(CONSOLE target);
CONSOLE consoleMode();
// Writes one message to stdout in the current console form and flushes.
void console(char s, const char* arg);
void console(char s, const char* fmtstr, const char* arg1);
void console(char s, const char* fmtstr, const char* arg1, const char* arg2);
// Current local time as "yy/mm/dd-HH:MM:SS - " (20 characters).
const char* timestamp();
int timestampLength();

// The composition rule of every message: with one text, a format without
// "%s" gets " ", the text and "." appended; with two texts, a format with
// exactly one "%s" takes the first and gets " ", the second and "."
// appended; otherwise the texts fill the "%s" places in order.  `arg2` null
// means one text.  The result is cut to fit `outsize`.
void composeMessage(char* out, size_t outsize, const char* fmtstr, const char* arg1,
                    const char* arg2);
// The usual pair: the English message to the log (indent ""), and its
// translation to the console with severity `s`.
void logAndConsole(char s, const char* fmtstr, const char* arg1 = nullptr,
                   const char* arg2 = nullptr);

// ---------------------------------------------------------------------------
// Method tracing (on when ZOR_MTRACE is in the environment)
// ---------------------------------------------------------------------------

class methodTrace {
 public:
  explicit methodTrace(char* name);
  explicit methodTrace(const char* name);
  ~methodTrace();
  methodTrace(const methodTrace&) = delete;
  methodTrace& operator=(const methodTrace&) = delete;

  static int flagValue();
  static void startTracing();
  static void stopTracing();
  static int levelValue();

 private:
  void enter();
  const char* methodName;
  bool traced;  // the entry line was written, so the exit line is owed
  static int level;
  static int flag;
};

int isTraceActive();

// ---------------------------------------------------------------------------
// Diagnostic log records
// ---------------------------------------------------------------------------

void logCommandLine(int argc, char** argv);
void logRPMLevel(const char* exec);
void logAndPrintElapsedTime(unsigned long start, unsigned long end);
void failedMount(const char* cmd, int rc, const char* image, const char* target);
void dirListToLog(const char* indent, const char* dir, int recurse);
void logAndPrintDiskSpace(int i1, int i2, const char* msg);
void logRunningProcesses();

// ---------------------------------------------------------------------------
// Maintenance lock
// ---------------------------------------------------------------------------

// Takes an exclusive lockf lock on `lockFile`, waiting (with one message)
// while another process holds it; ends the process with status 1 when the
// file cannot be opened or locked.  The lock lasts until the process ends.
void getMaintLock(const char* lockFile, const char* str);
void releaseMaintLock();

// ---------------------------------------------------------------------------
// Log rotation and translation set-up
// ---------------------------------------------------------------------------

void setupForTranslation(const char* textDomain);
void setupLogrotate();
// The locale selected by setupForTranslation, or null.
const char* currentLocale();

// ---------------------------------------------------------------------------
// Tripwire control files and version check
// ---------------------------------------------------------------------------

extern char* twSkeyFile;
extern char* twLkeyFile;
extern char* local_twDB;
extern char* local_twRPT;
extern char* local_twPolicyFile;
extern char* local_twConfigFile;
extern int tripVersionWarning;

int buildTripFilenames(const char* target);
int buildTripControlFiles(const char* tripcmd, const char* target);
const char* twDatabaseFile();
const char* twReportFile();
const char* twConfigFile();
const char* twPolicyFile();
int checkTripwireVersion();

// ---------------------------------------------------------------------------
// Tripwire report parser
// ---------------------------------------------------------------------------

// Object type codes of identifyObjectType; -1 for anything else.
// DIR, REG, ... clash with <dirent.h>: no source includes both maint.h and <dirent.h>.
const int MISSING = 0;
const int REG = 1;
const int SYM = 2;
const int DIR = 3;
const int BLK = 4;
const int CHR = 5;
const int SCK = 6;

extern const char* const OBJDETAIL;  // "Object Detail:"
extern const char* const ADDEDOBJ;   // "Added object name:"
extern const char* const REMOBJ;     // "Removed object name:"
extern const char* const MODOBJ;     // "Modified object name:"
extern const char* const OBJTYPE;    // " Object Type"
extern const char* const MODE;       // " Mode"
extern const char* const LINKS;      // " Num Links"
extern const char* const UID;        // "* UID"
extern const char* const GID;        // "* GID"
extern const char* const SIZE;       // " Size"

// Report lines consumed by the parser so far.
extern int lineno;

void parseTWReport(FILE* TRIP, int& added, int& deleted, int& changed, int prefix);
void skipToObjectDetail(FILE* TRIP, int& lineno);
int getNextReportLine(FILE* TRIP, char* buff, int buffsize);
void getObjectType(FILE* TRIP, char* buff, int buffsize, int& isChanged, int& first, int& second);
void getModeValue(FILE* TRIP, char* buff, int buffsize, int& isChanged, char*& perm1, char*& perm2);
void getNumLinksValue(FILE* TRIP, char* buff, int buffsize, int& isChanged, int& first,
                      int& second);
int identifyObjectType(char* token);
int identifyObjectType(const char* token);
char* getUIDValue(FILE* TRIP);
char* getGIDValue(FILE* TRIP);
char* getObjectName(char* buff, int prefix);
char* getObjectName(const char* buff, int prefix);
char* processTWAddedObj(char* buff, int buffsize, int prefix, FILE* TRIP, int& added);
char* processTWRemovedObj(char* buff, int buffsize, int prefix, FILE* TRIP, int& deleted);

// ---------------------------------------------------------------------------
// Linked list
// ---------------------------------------------------------------------------

struct array_elem {
  array_elem* next;
  array_elem* prior;
  void* data;
};

struct array {
  array_elem* first;
  array_elem* last;
  int count;
};

array* newArray();
void push(array& arr, const char* add);           // a copy of the text
void push(array& arr, const void* add, int len);  // a copy of len bytes
void push(array& arr, void* add);                 // the block itself
array_elem* first(array& arr);
array_elem* next(array_elem& arr);
array_elem* last(array& arr);
array_elem* prior(array_elem& arr);
int arraySize(array& arr);
void deleteArray(array* arr);
void arrayToFile(const char* file, array* arr);
array* fileToArray(const char* file);
void logAndPrint(char s, const char* indent, array& line);

// ---------------------------------------------------------------------------
// Change lists and backoff file list
// ---------------------------------------------------------------------------

extern array* myChangedFiles;
extern array* myAttributesModified;
extern array* myAddedFiles;
extern array* myDeletedFiles;
extern array* myAddedDirectories;
extern array* myDeletedDirectories;
extern array* myOriginals4HardLinks;
extern array* myChangedHardLinks;

array* changedFiles();
array* attributesModified();
array* addedFiles();
array* deletedFiles();
array* addedDirectories();
array* deletedDirectories();
array* originals4HardLinks();
array* changedHardLinks();
void freeChangedFiles();
void freeAttributesModified();
void freeAddedFiles();
void freeDeletedFiles();
void freeAddedDirectories();
void freeDeletedDirectories();
void freeChangedHardLinks();
void freeOriginals4HardLinks();
// Frees all eight lists at once: what a caller does after one report.
void freeChangeLists();
void newChangedHardLinks();
void newOriginals4HardLinks();
int buildBackoffFileList(char* backoffList);
int buildBackoffFileList(const char* backoffList);

// ---------------------------------------------------------------------------
// Filesystem state database and directory lists
// ---------------------------------------------------------------------------

char* buildDeleteDirList(const char* file);
char* buildIncludeDirList(const char* rejectDirs);
char* buildTripCommand(const char* fileExcludeList, int logflag);
int buildTripDatabase(const char* stage);

// ---------------------------------------------------------------------------
// Bundle status stanza file and installed-bundles table
// ---------------------------------------------------------------------------

extern const char* const PREPPED;      // "Prepped"
extern const char* const APPLIED;      // "Applied"
extern const char* const BACKOFF;      // "Backoff"
extern const char* const RPM;          // "rpm"
extern const char* const OK;           // "OK"
extern const char* const FAILED;       // "Failed"
extern const char* const NO;           // "No"
extern const char* const ABANDONED;    // "No/Abandoned"
extern const char* const NOTPOSSIBLE;  // "NotPossible"

int appendClientStanza(const char* file, const char* name, const char* timestamp,
                       const char* status);
int appendPrepStanza(const char* file, const char* name, const char* timestamp, const char* status,
                     const char* rpms);

// One stanza of the status stanza file; each field is an owned text or null.
struct ins_elem {
  char* name;
  char* prep;
  char* inst;
  char* back;
  char* rpm;
};

array* readInstalledBundles(const char* filename);
int writeInstalledBundles(const char* filename, array* installedBundles);
void printInstalledBundles(const char* tag, array* arr);
void freeInstalledBundles(array* arr);
int updateStanzaItem(ins_elem* ins, const char* item, const char* value);
int updateStanza(const char* file, const char* bname, const char* item, const char* value);

// ---------------------------------------------------------------------------
// inittab editing and runlevel 7
// ---------------------------------------------------------------------------

enum INITTAB { COMMENT = 0, UNCOMMENT = 1 };

int getCurrentRunlevel();
char* fixPatternForSed(const char* pattern);
int comment_inittab_entry(const char* pattern, INITTAB flag);
int switchSystemToNormal();
void switchSystemForBackoff();
void switchSystemForApply(const char* line);
void addVirtualConsole(int console);
void addRunlevel7Definiition();
void addRunlevel7Initdefault();

// ---------------------------------------------------------------------------
// Text, file and shell-command utilities
// ---------------------------------------------------------------------------

// Wait status of the most recent backtics command.
extern int backticsRC;

const char* rwxToOctal(const char* perm);
int readConfigFile(FILE* in, char* buff, int bufflen);
char* skipWS(char* buff);
char* strip(char* buff);
char* chomp(char* buff);
char* translate(char* buff, char src, char tgt);
const char* canonicalDate(time_t* now);
char* dynamicStrCat(char*& target, const char* src, int& maxtarget);
char* copyString(const char* src);
int alternateFileExists(const char* file);
int fileExists(const char* file);
int fileSize(const char* file);
long long fileSize64(const char* file);
char* formatFileSize(int size);
int directoryExists(const char* file);
int linkExists(const char* file);
char* tempfilename(const char* file);
char* backtics(const char* buff);
char* globFiles(const char* pattern, const char* delimiter);
char* file2Buffer(const char* filename);
int buffer2file(const char* filename, const char* input, char* breakchar);
int buffer2file(const char* filename, const char* input, const char* breakchar);

// Ignores SIGPIPE, so that a console whose reader has gone makes writes
// fail instead of ending the process; the commands runShell starts get the
// action the process had before.
void ignoreBrokenPipes();
// Runs `command` through "/bin/sh -c" and waits for it.  Returns what
// system() would: the wait status, or -1 when no shell could be started.
// Nothing is logged; runCommand is the way a command of the tool runs.
int runShell(const char* command);

// How runCommand shows a command in the log: not at all, ">>" and the
// command before it runs, the same after it ran, or after it ran followed by
// " (rc = N)".
enum CommandLog { LOG_NOT, LOG_BEFORE, LOG_AFTER, LOG_WITH_STATUS };

// The one way a command of the tool runs: logs it as `how` says, runs it
// through runShell, tells the command watcher the wait status, and returns
// that status with errno as the run left it.
int runCommand(const char* command, CommandLog how = LOG_BEFORE);
// Composes a command line into `buff` (MAINT_BUFF bytes).  Returns 1 when it
// fit.  A command that would be cut is never to be run: the refusal handler
// is told (the commands install one that ends the run) and 0 is returned.
int composeCommand(char* buff, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Installs what a command does when a command line would not fit (`refuse`
// gets the cut text) and what it does after each command ran (`watch` gets
// the wait status, e.g. to notice a shell killed by a signal).  Either may be
// null.
void setCommandHandlers(void (*refuse)(const char* cut), void (*watch)(int status));
// Formats into `buff` of `size` bytes; returns 1 when the whole text fit,
// 0 when it would have been cut (the buffer then holds the cut text).
int formatText(char* buff, size_t size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

// ---------------------------------------------------------------------------
// File-list validation and image filesystem type
// ---------------------------------------------------------------------------

int processListLine(char* rpm);
int idRpmListFile(const char* file);
int validateFilenameFile(const char* file);
const char* checkImageFilesystemType(const char* imageName, const char* imageDir);

#endif  // DELTAMAINT_MAINT_H
