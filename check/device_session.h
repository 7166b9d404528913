// What kurvix-check does on the simulated device: bring host files onto it, read a file's
// lines with the device's own reader, and record the message boxes the device code shows,
// each with the line the reader had just read.
#ifndef KURVIX_TOOLS_DEVICE_SESSION_H
#define KURVIX_TOOLS_DEVICE_SESSION_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/device.h"

// The bytes of a host file. Nothing when it cannot be read: error then says why, and
// missing tells a file that does not exist from one that cannot be read.
struct HostFile {
  std::optional<std::vector<uint8_t>> bytes;
  std::string error;
  bool missing = false;
};
HostFile readHostFile(const std::string& path);

// Where the device looks for a NewIni file: the value from the root of the device, which has
// no current folder ("Zweite.ini" is "\\Zweite.ini"), with \\ between folders.
std::u16string deviceNewIniPath(const std::u16string& newIni);

// Where a NewIni path is looked for on the host, in this order, upper and lower case ignored
// as Windows CE ignores them: the device path itself, with / for \\ ("\\Speicher\\Zweite.ini"
// is /Speicher/Zweite.ini); and for a path written from the root, a file of its name beside
// the configuration file being checked, where an author keeps the files of one device. A
// path not written from the root names a file in the device's root folder: a file beside the
// configuration file is not that one.
std::vector<std::string> newIniPlaces(const std::u16string& newIni, const std::string& hostFile);
// The first of newIniPlaces that holds a file.
std::optional<std::string> resolveNewIni(const std::u16string& newIni, const std::string& hostFile);

// A file that a NewIni names, directly or through another such file, found on the host; each
// device path once, upper and lower case ignored.
struct NewIniFile {
  std::u16string devicePath;  // the NewIni value: the path the device opens
  std::string hostPath;
  std::vector<uint8_t> bytes;
};
std::vector<NewIniFile> newIniFiles(const std::string& hostFile, const std::vector<uint8_t>& bytes);

// One line as the device's reader reads it: at most 259 units, without its line end; a
// longer line is read as several. number is the line an editor shows it on, counting CR LF,
// LF and CR as line ends, so the rest of a long line keeps its first part's number.
struct FileLine {
  std::u16string text;
  unsigned number;
};
// The lines behind the byte-order mark; none when the device refuses the file.
std::vector<FileLine> deviceLines(const std::vector<uint8_t>& bytes);

struct Message {
  std::u16string caption, text;
  UINT type;
  std::optional<unsigned> line;  // the editor's line; none for messages about the whole file
  uint64_t at = 0;               // the device's virtual time when the box opened
};

// Records every message box shown from its construction on. The reader's reads since it
// opened its file, less the read of the byte-order mark, say which of its lines a bad-line
// message is about; lines maps a device path (compared as the device compares paths) to its
// lines (deviceLines), so that the message names the line as an editor numbers it.
class MessageLog {
 public:
  explicit MessageLog(std::map<std::u16string, std::vector<FileLine>> lines);
  ~MessageLog() { sim::whileBoxOpen(nullptr); }
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;
  const std::vector<Message>& messages() const { return messages_; }

 private:
  std::map<std::u16string, std::vector<FileLine>> lines_;
  std::vector<Message> messages_;
};

#endif
