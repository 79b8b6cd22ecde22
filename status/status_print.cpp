// status_print.cpp - kestroStatus's two forms: lines for a person (headings
// through the message catalogue) and one JSON document for tools, whose
// fields are named after the stanza's words (Prepped, Applied, Backoff,
// rpm).
#include <libintl.h>

#include <cstdio>

#include "maint.h"
#include "status.h"

using nlohmann::json;

static std::string format(const char* text, const std::string& value) {
  std::string out(text);
  size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, value);
  return out;
}

static void itemLine(std::string& out, const char* word, const StanzaItem& it) {
  if (!it.present) return;
  out += std::string("    ") + word + ": " + it.status + (it.date.empty() ? "" : " - " + it.date) +
         "\n";
}

static std::string bundleLines(const BundleStatus& b) {
  std::string out = "  " + b.name + "\n";
  itemLine(out, APPLIED, b.applied);
  itemLine(out, BACKOFF, b.backoff);
  return out;
}

std::string statusText(const StatusPlaces& places, const ServerStatus& status) {
  std::string out = format(gettext("Bundles in %s:"), places.stanzaFile) + "\n";
  for (const BundleStatus& b : status.bundles) out += bundleLines(b);
  if (status.bundles.empty()) out += std::string("  ") + gettext("none") + "\n";
  out += format(gettext("Run lock %s:"), places.lockFile) + " ";
  out += status.lockHolder
             ? format(gettext("held by process %s"), std::to_string(status.lockHolder))
             : std::string(gettext("free"));
  out += "\n" + format(gettext("Images in %s:"), places.imageDir) + "\n";
  for (const ImageStatus& image : status.images) {
    out += "  " + image.name + "  " + image.modified + "  " +
           (image.hasRecord ? image.record : gettext("no .md5 record")) + "\n";
  }
  if (status.images.empty()) out += std::string("  ") + gettext("none") + "\n";
  return out;
}

std::string bundleText(const std::string& bundle, const BundleStatus* found) {
  if (!found) return format(gettext("No stanza names bundle %s."), bundle) + "\n";
  return bundleLines(*found).substr(2);
}

static void itemField(json& doc, const char* word, const StanzaItem& it) {
  if (!it.present) return;
  doc[word] = {{"status", it.status}};
  if (!it.date.empty()) doc[word]["date"] = it.date;
}

static json bundleFields(const BundleStatus& b) {
  json doc = {{"name", b.name}};
  itemField(doc, PREPPED, b.prepped);
  itemField(doc, APPLIED, b.applied);
  itemField(doc, BACKOFF, b.backoff);
  if (!b.rpm.empty()) doc[RPM] = b.rpm;
  return doc;
}

json statusJson(const StatusPlaces& places, const ServerStatus& status) {
  json doc;
  doc["bundles"] = json::array();
  for (const BundleStatus& b : status.bundles) doc["bundles"].push_back(bundleFields(b));
  doc["lock"] = {{"file", places.lockFile}, {"held", status.lockHolder != 0}};
  if (status.lockHolder) doc["lock"]["pid"] = status.lockHolder;
  doc["images"] = json::array();
  for (const ImageStatus& image : status.images) {
    json entry = {{"name", image.name}, {"modified", image.modified}, {"md5", nullptr}};
    if (image.hasRecord) entry["md5"] = image.record;
    doc["images"].push_back(entry);
  }
  return doc;
}

json bundleJson(const std::string& bundle, const BundleStatus* found) {
  return found ? bundleFields(*found) : json{{"name", bundle}};
}
