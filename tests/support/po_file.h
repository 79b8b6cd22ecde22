// Reading gettext catalogues (.po and .pot files) in tests: the entries as
// msgid -> msgstr with their flags, and the printf conversions of a text.
// Header-only so that unit tests can use it without the sandbox support.
#ifndef DELTAMAINT_TESTS_PO_FILE_H
#define DELTAMAINT_TESTS_PO_FILE_H

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

struct PoEntry {
  std::string msgstr;
  bool fuzzy = false;
};

// The entries of a catalogue by msgid, the header (empty msgid) and obsolete
// ("#~") entries left out. *ok is false when the file cannot be read.
inline std::map<std::string, PoEntry> readPoFile(const std::string& path, bool* ok = nullptr) {
  std::map<std::string, PoEntry> entries;
  std::ifstream in(path);
  if (ok) *ok = static_cast<bool>(in);
  std::string line, msgid, msgstr, *current = nullptr;
  bool fuzzy = false, haveEntry = false;
  auto unquote = [](const std::string& text) {
    std::string out;
    size_t start = text.find('"'), end = text.rfind('"');
    for (size_t i = start + 1; i < end; ++i) {
      if (text[i] != '\\' || i + 1 >= end) {
        out += text[i];
        continue;
      }
      char c = text[++i];
      out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
  };
  auto finish = [&]() {
    if (haveEntry && !msgid.empty()) entries[msgid] = PoEntry{msgstr, fuzzy};
    msgid.clear();
    msgstr.clear();
    fuzzy = haveEntry = false;
    current = nullptr;
  };
  while (std::getline(in, line)) {
    if (line.compare(0, 2, "#,") == 0) {
      if (current == &msgstr) finish();
      if (line.find("fuzzy") != std::string::npos) fuzzy = true;
    } else if (line.compare(0, 6, "msgid ") == 0) {
      if (current == &msgstr) {
        bool keepFuzzy = fuzzy;
        finish();
        fuzzy = keepFuzzy;
      }
      haveEntry = true;
      msgid = unquote(line);
      current = &msgid;
    } else if (line.compare(0, 7, "msgstr ") == 0) {
      msgstr = unquote(line);
      current = &msgstr;
    } else if (!line.empty() && line[0] == '"' && current) {
      *current += unquote(line);
    } else if (line.empty() || line[0] == '#') {
      if (current == &msgstr) finish();
    }
  }
  finish();
  return entries;
}

// The printf conversions of a text in order ("%s", "%d", "%02d", "%%"...).
inline std::vector<std::string> conversions(const std::string& text) {
  std::vector<std::string> out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    size_t j = i + 1;
    while (j < text.size() && std::string("0123456789.-+ #'$lhz").find(text[j]) != std::string::npos) {
      ++j;
    }
    if (j < text.size()) out.push_back(text.substr(i, j - i + 1));
    i = j;
  }
  return out;
}

// Fills the "%s" places of `format` with `args` in order, as the tool's
// message composition does when the counts agree.
inline std::string fillFormat(const std::string& format, const std::vector<std::string>& args) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format.compare(i, 2, "%s") == 0 && next < args.size()) {
      out += args[next++];
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

#endif  // DELTAMAINT_TESTS_PO_FILE_H
