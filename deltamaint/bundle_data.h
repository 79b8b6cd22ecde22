// bundle_data.h - pure helpers of the apply run: reading the maintenance
// data text, splitting image names, vetting values before they reach a
// shell command, and the arithmetic of the image checksum record.  Nothing
// here logs, runs a command or ends the process.
#ifndef DELTAMAINT_BUNDLE_DATA_H
#define DELTAMAINT_BUNDLE_DATA_H

#include <cstddef>
#include <string>

// The six values of a bundle's maintData file, as written there.
struct MaintData {
  static const int KEYS = 6;
  // Key names in the order they are tried; a line key matches a name when
  // its first characters, as many as the name has, equal it ignoring case.
  static const char* const NAMES[KEYS];
  enum Key {
    OLD_IMAGE_NAME,
    OLD_IMAGE_MD5,
    NEW_IMAGE_NAME,
    NEW_IMAGE_SIZE,
    NEW_IMAGE_FSTYPE,
    NEW_IMAGE_INODES
  };
  std::string value[KEYS];
  bool present[KEYS] = {false, false, false, false, false, false};
};

// Reads a maintData text: lines split at newlines (empty lines skipped),
// leading white space removed, '#' lines are comments, the key ends at the
// first '=' and the value at the next '=' or the line end; a later line for
// a key replaces an earlier one.  `text` may be null.
MaintData parseMaintDataText(const char* text);

// Splits an image name base-version-date.ext into four malloc'd texts, each
// null when absent.
void parseImageName(const char* iname, char*& barename, char*& ver, char*& date, char*& ext);

// 1 when `text` holds none of the characters a shell would interpret
// (blanks, quotes, backslash, $, `, ;, &, |, <, >, parentheses, glob
// characters, braces, ~, #, !, control characters).
int shellSafe(const char* text);
// 1 when `text` is a decimal number above 0 of at most 9 digits.
int positiveDecimal(const char* text);
// 1 when an image file name can be used inside /tftpboot/image: not empty,
// no '/', not "." or "..".
int plainFileName(const char* name);

// The checksum record beside an image: its path, its block size from the
// image size in megabytes, and its one line.  Sizes are 64-bit so images of
// 2 GB and more get a correct record.
std::string md5RecordPath(const char* origNewImage);
int md5BlockSize(long long sizeMB);
std::string md5RecordLine(const char* checksum, long long sizeMB, bool gzipped,
                          long long compressedBytes);

#endif  // DELTAMAINT_BUNDLE_DATA_H
