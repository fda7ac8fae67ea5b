#include "core/inireader.h"

#include <ostream>

namespace IniFile {

namespace Private {

namespace {

struct BoolText {
  char const* text;
  bool value;
};

// Deliberately stricter than SubKey::GetBool: "on" and "off" are not taken.
BoolText const kBoolTexts[] = {
    {"true", true},      {"false", false}, {"yes", true},      {"no", false}, {"enabled", true},
    {"disabled", false}, {"enable", true}, {"disable", false}, {"1", true},   {"0", false},
};

}  // namespace

bool TKeyValue<bool>::do_parse(char const* text) {
  for (BoolText const& b : kBoolTexts) {
    if (std::strcmp(b.text, text) == 0) {
      *mTarget = b.value;
      return true;
    }
  }
  return false;
}

}  // namespace Private

namespace {

// The converters read C text: a value with a NUL byte inside would be taken
// for its first part and pass as valid.
bool Convert(Private::KeyValue* kv, SubKey const& value) {
  std::string const& text = value.value();
  return text.find('\0') == std::string::npos && kv->do_parse(text.c_str());
}

}  // namespace

Reader::Field::~Field() {
  for (Private::KeyValue* kv : mKeys) delete kv;
  mKeys.clear();
}

void Reader::Field::add(Private::KeyValue* kv) {
  mKeys.push_back(kv);
}

Reader::Reader(std::string const& prefix, std::ostream& messages)
    : mPrefix(prefix), mOut(&messages) {}

bool Reader::parse(SubSection& occurrence) {
  // The flags describe this parse only: a key that passed in an earlier
  // occurrence must not look valid when this one stops before reaching it.
  for (Private::KeyValue* kv : required.mKeys) kv->valid = false;
  for (Private::KeyValue* kv : optional.mKeys) kv->valid = false;

  for (Private::KeyValue* kv : required.mKeys) {
    Key& key = occurrence[kv->name()];
    // Count before touching a value: an absent key is "not present",
    // never an empty value.
    switch (key.count()) {
      case 1:
        kv->valid = Convert(kv, *key.first());
        if (!kv->valid) {
          InvalidValue(true, kv->name(), *key.first());
          return false;
        }
        break;
      case 0:
        *mOut << mPrefix << "required key \"" << kv->name() << "\" not present, line "
              << occurrence.line() << std::endl;
        return false;
      case 2:
        Duplicated(true, kv->name(), key);
        return false;
      default:
        MoreThanOnce(true, kv->name(), key);
        return false;
    }
  }

  for (Private::KeyValue* kv : optional.mKeys) {
    Key& key = occurrence[kv->name()];
    switch (key.count()) {
      case 0:
        break;
      case 1:
        kv->valid = Convert(kv, *key.first());
        if (!kv->valid) InvalidValue(false, kv->name(), *key.first());
        break;
      case 2:
        Duplicated(false, kv->name(), key);
        break;
      default:
        MoreThanOnce(false, kv->name(), key);
        break;
    }
  }
  return true;
}

void Reader::InvalidValue(bool req, char const* name, SubKey const& value) {
  *mOut << mPrefix << (req ? "required key " : "optional key ") << '"' << name << '"'
        << " has invalid value=" << '"' << value.value() << '"' << ',' << " line " << value.line();
  if (!req) *mOut << ". Key will be ignored.";
  *mOut << std::endl;
}

void Reader::Duplicated(bool req, char const* name, Key const& key) {
  *mOut << mPrefix << (req ? "required key " : "optional key ") << '"' << name << '"'
        << " is duplicated!" << std::endl;
  *mOut << mPrefix << " first occurence at " << key.first()->line() << " line." << std::endl;
  *mOut << mPrefix << " second occurence at " << key.last()->line()
        << (req ? " line." : " line. Both keys will be ignored.") << std::endl;
}

void Reader::MoreThanOnce(bool req, char const* name, Key const& key) {
  *mOut << mPrefix << (req ? "required key " : "optional key ") << '"' << name << '"'
        << " specified more than once:";
  for (SubKey const& k : key) *mOut << " " << k.line();
  *mOut << (req ? " lines" : " lines. All keys will be ignored.") << std::endl;
}

}  // namespace IniFile
