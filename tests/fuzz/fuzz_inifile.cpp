// libFuzzer target: the configuration file as the start-up reads it.  The
// input is the text of "/usr/local/etc/server.conf", opened by path as the
// start-up does and read again from a stream; both models must agree and
// hold what the readers rely on.  Section "traces" configures the trace
// switches, and every occurrence of every section goes through the generic
// reader with each key kind it converts, all required, then all optional.

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "core/inifile.h"
#include "core/inireader.h"
#include "core/traces.h"
#include "tests/fuzz/fuzz_loop.h"

namespace {

fuzzloop::NullBuf nullBuf;
std::ostream sink(&nullBuf);

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool Trimmed(std::string const& s) {
  return s.empty() || (s.front() != ' ' && s.back() != ' ');
}
bool OneLine(std::string const& s) {
  return s.find_first_of("\r\n") == std::string::npos;
}

// The tree as the parser must leave it: counts match the lists, every
// parsed element has a child, names and values lost their outer spaces,
// and every line number lies within the text.
void CheckModel(IniFile::File& file, int lines) {
  unsigned sections = 0;
  for (IniFile::Section& section : file) {
    ++sections;
    Check(OneLine(section.name()) && section.name().find(']') == std::string::npos);
    unsigned occurrences = 0;
    for (IniFile::SubSection& occurrence : section) {
      ++occurrences;
      Check(occurrence.line() >= 1 && occurrence.line() <= lines);
      unsigned keys = 0;
      for (IniFile::Key& key : occurrence) {
        ++keys;
        Check(!key.name().empty() && Trimmed(key.name()) && OneLine(key.name()));
        // A line may start with "=", which then begins the name.
        Check(key.name().find('=', 1) == std::string::npos);
        int last = occurrence.line();
        unsigned values = 0;
        for (IniFile::SubKey& value : key) {
          ++values;
          Check(Trimmed(value.value()) && OneLine(value.value()));
          Check(value.line() >= last && value.line() <= lines);
          last = value.line();
          value.GetBool(false);
          value.GetInt(0);
          value.GetFloat(0);
        }
        Check(values == key.count() && values > 0);
      }
      Check(keys == occurrence.count());
    }
    Check(occurrences == section.count() && occurrences > 0);
  }
  Check(sections == file.count());
}

enum Agent : int { kNoAgent = 0, kLocal = 1, kRemote = 2, kProxy = 3 };
IniFile::Symbol<Agent> const kAgents[] = {
    {"local", kLocal}, {"remote", kRemote}, {"proxy", kProxy}, {nullptr, kNoAgent}};

// The number a valid text must have stored, within the target's range.
template <class T>
bool Stored(std::string const& text, T got, long long low, long long high) {
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 0);
  return !text.empty() && *end == '\0' && errno == 0 && v >= low && v <= high &&
         v == static_cast<long long>(got);
}

// One occurrence through a Reader declaring every kind, each with a target
// that shows whether it was written.
void ReadOccurrence(IniFile::SubSection& occurrence, bool required) {
  int number = -7;
  unsigned size = 7;
  unsigned short port = 7;
  long level = -7;
  Agent kind = kNoAgent;
  bool enabled = true;
  std::string host = "untouched";
  IniFile::Reader reader("fuzz: ", sink);
  IniFile::Reader::Field& field = required ? reader.required : reader.optional;
  bool& numberOk = field.add(&number, "number");
  bool& sizeOk = field.add(&size, "size");
  bool& portOk = field.add(&port, "port");
  bool& levelOk = field.add(&level, "level");
  bool& kindOk = field.add(&kind, "kind", kAgents);
  bool& enabledOk = field.add(&enabled, "enabled");
  bool& hostOk = field.add(&host, "host");
  bool result = reader.parse(occurrence);

  auto text = [&](char const* name) { return occurrence[name].first()->value(); };
  Check(!numberOk || Stored(text("number"), number, INT_MIN, INT_MAX));
  Check(!sizeOk || Stored(text("size"), size, 0, UINT_MAX));
  Check(!portOk || Stored(text("port"), port, 0, USHRT_MAX));
  Check(!levelOk || Stored(text("level"), level, LONG_MIN, LONG_MAX));
  if (kindOk) {
    std::string t = text("kind");
    bool symbol = t == "local" || t == "remote" || t == "proxy";
    Check(symbol || Stored(t, static_cast<int>(kind), INT_MIN, INT_MAX));
  }
  if (enabledOk) {
    std::string t = text("enabled");
    bool yes = t == "true" || t == "yes" || t == "enabled" || t == "enable" || t == "1";
    bool no = t == "false" || t == "no" || t == "disabled" || t == "disable" || t == "0";
    Check(enabled ? yes : no);
  } else {
    Check(enabled);
  }
  Check(hostOk ? host == text("host") : host == "untouched");
  bool all = numberOk && sizeOk && portOk && levelOk && kindOk && enabledOk && hostOk;
  Check(result == (required ? all : true));
}

// The switches as the last occurrence of "traces" sets them.
void CheckTraces(IniFile::Section& section) {
  IniFile::SubSection* last = section.last();
  auto on = [&](char const* name) {
    if (!last) return false;
    IniFile::Key& key = (*last)[name];
    if (key.count() != 1) return false;
    std::string const& t = key.first()->value();
    return t == "true" || t == "yes" || t == "enabled" || t == "enable" || t == "1";
  };
  Check(traces.signalling_hdlc == on("signalling.hdlc"));
  Check(traces.signalling_vorngw == on("signalling.vorngw"));
  Check(traces.signalling_events == on("signalling.events"));
  Check(traces.signalling_isdn == on("signalling.isdn"));
  Check(traces.monitoring_internal == on("monitoring.internal"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static int memfd = ::memfd_create("server.conf", MFD_CLOEXEC);
  static std::string path = "/proc/self/fd/" + std::to_string(memfd);
  static bool quiet = (std::cerr.rdbuf(&nullBuf), true);
  (void)quiet;
  if (memfd < 0 || ::ftruncate(memfd, 0) != 0 ||
      ::pwrite(memfd, data, size, 0) != static_cast<ssize_t>(size))
    return 0;
  std::string text(reinterpret_cast<char const*>(data), size);
  int lines = 1;
  for (char c : text) lines += c == '\n';

  // The start-up's road: open by path, then the trace switches (whose
  // reader adds the keys it looked for, empty, so the model is seen first).
  IniFile::File config;
  Check(config.Open(path));
  CheckModel(config, lines);
  std::ostringstream fromPath;
  config.Dump(fromPath);
  traces.Reset();
  traces.Configure(config["traces"]);
  CheckTraces(config["traces"]);

  // The same text from a stream gives the same model.
  IniFile::File again;
  std::istringstream in(text);
  in >> again;
  std::ostringstream fromStream;
  again.Dump(fromStream);
  std::string expected = fromPath.str();
  expected.erase(expected.find(path), path.size());
  Check(fromStream.str() == expected);

  for (IniFile::Section& section : again) {
    for (IniFile::SubSection& occurrence : section) {
      ReadOccurrence(occurrence, true);
      ReadOccurrence(occurrence, false);
    }
  }
  again.Close();
  return 0;
}
