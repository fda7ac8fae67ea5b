#include "core/inifile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <istream>
#include <iterator>
#include <ostream>
#include <sstream>

namespace IniFile {

namespace {

// def stays when nothing converts.
template <class T>
T Scan(std::string const& text, char const* format, T def) {
  T v = def;
  std::sscanf(text.c_str(), format, &v);
  return v;
}

// The text that a string stream writes with default formatting.
template <class T>
std::string Text(T v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

}  // namespace

// ---------------------------------------------------------------- SubKey

SubKey::SubKey(std::string const& value, int line) : mValue(value), mLineNo(line) {}

bool SubKey::GetBool(bool def) const {
  if (mValue == "true" || mValue == "yes" || mValue == "1" || mValue == "on") return true;
  if (mValue == "false" || mValue == "no" || mValue == "0" || mValue == "off") return false;
  return def;
}

void SubKey::SetBool(bool v) {
  mValue = v ? "yes" : "no";
}

int SubKey::GetInt(int def) const {
  return Scan(mValue, "%d", def);
}

void SubKey::SetInt(int v) {
  mValue = Text(v);
}

float SubKey::GetFloat(float def) const {
  return Scan(mValue, "%f", def);
}

void SubKey::SetFloat(float v) {
  mValue = Text(v);
}

void SubKey::Dump(std::ostream& out) const {
  out << "dumping IniFile::SubKey" << std::endl;
  out << "mValue=\"" << mValue << "\"" << std::endl;
  out << "mLineNo=" << mLineNo << std::endl;
}

// ---------------------------------------------------------------- Key

Key::Key(std::string const& name) : mName(name) {}

SubKey* Key::NewSubKey(std::string const& value, int line) {
  return mSubKeys.append(new SubKey(value, line));
}

void Key::CheckEmpty() {
  if (count() == 0) NewSubKey("", -1);
}

void Key::Dump(std::ostream& out) const {
  out << "dumping IniFile::Key" << std::endl;
  out << "mName=\"" << mName << "\"" << std::endl;
  out << "mSubKeyCount=" << count() << std::endl;
  mSubKeys.Dump(out);
}

// ---------------------------------------------------------------- SubSection

SubSection::SubSection(int line) : mLineNo(line) {}

SubKey* SubSection::NewSubKey(std::string const& key, std::string const& value, int line) {
  return mKeys[key].NewSubKey(value, line);
}

void SubSection::Dump(std::ostream& out) const {
  out << "dumping IniFile::SubSection" << std::endl;
  out << "mLineNo=\"" << mLineNo << "\"" << std::endl;
  out << "mKeyCount=" << count() << std::endl;
  mKeys.Dump(out);
}

// ---------------------------------------------------------------- Section

Section::Section(std::string const& name) : mName(name) {}

SubSection* Section::NewSubSection(int line) {
  return mSubSections.append(new SubSection(line));
}

void Section::CheckEmpty() {
  if (count() == 0) NewSubSection(-1);
}

void Section::Dump(std::ostream& out) const {
  out << "dumping IniFile::Section" << std::endl;
  out << "mName=\"" << mName << "\"" << std::endl;
  out << "mSubSectionCount=" << count() << std::endl;
  mSubSections.Dump(out);
}

// ---------------------------------------------------------------- File

File::File() {}

File::File(std::string const& name) {
  Open(name);
}

File::~File() {
  Close();
}

// Only a regular file is read: a FIFO would hang start-up in open(2), a
// device such as /dev/zero would never end, and a directory cannot be read.
// Anything that cannot be read whole leaves the model empty.
bool File::Open(std::string const& name) {
  Close();
  mFileName = name;
  int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  std::string text;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  while (ok) {
    char buf[4096];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0)
      text.append(buf, static_cast<size_t>(n));
    else if (n == 0)
      break;
    else if (errno != EINTR)
      ok = false;
  }
  ::close(fd);
  if (!ok) return false;
  std::istringstream in(text);
  Parse(in);
  return mOpen;
}

// The tree goes whether or not a parse ran: sections looked up on a file
// that never opened are part of it too.
void File::Close() {
  mSections.clear();
  mOpen = false;
}

SubSection* File::NewSubSection(std::string const& name, int line) {
  return mSections[name].NewSubSection(line);
}

void File::Dump(std::ostream& out) const {
  out << "dumping IniFile::File" << std::endl;
  out << "mFileName=\"" << mFileName << "\"" << std::endl;
  out << std::endl;
  out << "mSectionCount=" << count() << std::endl;
  mSections.Dump(out);
}

namespace {

enum ParseState {
  BeforeSection,
  SectionName,
  AfterHeader,
  LineStart,
  KeyName,
  BeforeValue,
  Value,
};

}  // namespace

// Byte-by-byte parser; the key and value are started afresh by the byte
// that begins them. Only spaces are trimmed around names and values;
// tabs are kept, ';' starts no comment, and a '#' inside a value only starts
// a comment when a space comes before it, so "a#b" stays a value.
void File::Parse(std::istream& in) {
  mOpen = true;

  ParseState state = BeforeSection;
  bool comment = false;
  int line = 1;
  unsigned pending = 0;
  std::string section, key, value;
  SubSection* current = nullptr;

  // Spaces are held back until a later byte shows they are inner ones.
  auto take = [&](std::string& text, char c) {
    text.append(pending, ' ');
    text += c;
    pending = 0;
  };
  auto store = [&] {
    current->NewSubKey(key, value, line);
    state = LineStart;
  };

  std::istreambuf_iterator<char> it(in), end;
  for (; it != end; ++it) {
    char c = *it;
    if (c == '\r') continue;
    if (comment) {
      if (c != '\n') continue;
      comment = false;
    }

    switch (state) {
      case BeforeSection:
        if (c == '#')
          comment = true;
        else if (c == '[') {
          section.clear();
          state = SectionName;
        }
        break;

      case SectionName:
        if (c == '\n')
          state = BeforeSection;
        else if (c == ']') {
          current = NewSubSection(section, line);
          state = AfterHeader;
        } else
          section += c;
        break;

      case AfterHeader:
        if (c == '\n')
          state = LineStart;
        else if (c == '#')
          comment = true;
        break;

      case LineStart:
        if (c == '#')
          comment = true;
        else if (c == '\t' || c == '\n' || c == ' ')
          ;
        else if (c == '[') {
          section.clear();
          state = SectionName;
        } else {
          key.assign(1, c);
          pending = 0;
          state = KeyName;
        }
        break;

      case KeyName:
        if (c == ' ')
          ++pending;
        else if (c == '=') {
          value.clear();
          state = BeforeValue;
        } else if (c == '\n')
          state = LineStart;
        else
          take(key, c);
        break;

      case BeforeValue:
        if (c == ' ')
          ;
        else if (c == '#')
          comment = true;
        else if (c == '\n')
          store();
        else {
          value.assign(1, c);
          pending = 0;
          state = Value;
        }
        break;

      case Value:
        if (c == ' ')
          ++pending;
        else if (c == '#' && pending > 0)
          comment = true;
        else if (c == '\n')
          store();
        else
          take(value, c);
        break;
    }

    if (c == '\n') ++line;
  }

  if (state == BeforeValue || state == Value) store();
}

std::istream& operator>>(std::istream& in, File& file) {
  file.Close();
  file.mFileName = "";
  file.Parse(in);
  return in;
}

}  // namespace IniFile
