// Every hint kurvix-check gives, by its id: how grave it is and what to tell an author who
// asks (--explain), with a file that has the mistake and one without it. --help, --explain
// and the hints themselves take their ids and grades from here alone.
#ifndef KURVIX_TOOLS_HINT_TABLE_H
#define KURVIX_TOOLS_HINT_TABLE_H

#include <string>
#include <vector>

#include "config/reader.h"

struct HintEntry {
  const char* id;
  const char* severity;     // "note", or "warning" where the device will plainly do the wrong thing
  const char* summary;      // a few words, for --help
  const char* explanation;  // what the device does, and why it is not what was meant
  const char* wrong;        // lines of a file with the mistake, each ending in \n
  const char* right;        // the same lines as they should be
  const char* fix;          // what to do
};

const std::vector<HintEntry>& hintTable();
// The entry of id; nullptr when there is none.
const HintEntry* findHintEntry(const std::string& id);
// The reader's comment marks as a sentence gives them: "# / ; ' or (".
std::string commentMarks();
// The keys of a block as a sentence lists them: "KeyCode, Command, NewIni and Disable".
std::string keyWords(ConfigBlock block);
// What --explain prints for an entry.
std::string explanationOf(const HintEntry& entry);

#endif
