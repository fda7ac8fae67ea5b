#ifndef VELMARD_CORE_INIREADER_H
#define VELMARD_CORE_INIREADER_H

// Declarative checking of one occurrence of a configuration section: the
// caller declares each key with its target variable, the Reader converts the
// text, stores valid values and reports missing, invalid, duplicated and
// repeated keys with their line numbers.

#include "core/inifile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iosfwd>
#include <limits>
#include <list>
#include <string>
#include <type_traits>

namespace IniFile {

// Text-to-value table of an enumerated key, ended by a record with a null name.
template <class T>
struct Symbol {
  char const* name;
  T value;
};

namespace Private {

// The number type a target holds: an enumeration's underlying type.
template <class T, bool = std::is_enum<T>::value>
struct NumberOf {
  typedef T type;
};
template <class T>
struct NumberOf<T, true> {
  typedef typename std::underlying_type<T>::type type;
};

// A number the target cannot hold would be stored cut down to another one.
template <class T>
bool Fits(long v) {
  typedef typename NumberOf<T>::type N;
  if (v < 0)
    return std::is_signed<N>::value &&
           static_cast<long long>(v) >= static_cast<long long>(std::numeric_limits<N>::min());
  return static_cast<unsigned long long>(v) <=
         static_cast<unsigned long long>(std::numeric_limits<N>::max());
}

class KeyValue {
 public:
  virtual ~KeyValue() {}
  virtual char const* name() const = 0;
  // Converts the text; the target is written only when it is accepted.
  virtual bool do_parse(char const* text) = 0;

  bool valid = false;
};

template <class T>
class TKeyValue : public KeyValue {
 public:
  TKeyValue(T* target, char const* name, Symbol<T> const* symbols)
      : mTarget(target), mName(name), mSymbols(symbols) {}

  char const* name() const override { return mName; }

  bool do_parse(char const* text) override {
    if (mSymbols) {
      for (Symbol<T> const* s = mSymbols; s->name; ++s) {
        if (std::strcmp(s->name, text) == 0) {
          *mTarget = s->value;
          return true;
        }
      }
    }
    if (*text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 0);
    if (*end != '\0' || errno == ERANGE || !Fits<T>(v)) return false;
    *mTarget = static_cast<T>(v);
    return true;
  }

 private:
  T* mTarget;
  char const* mName;
  Symbol<T> const* mSymbols;
};

template <>
class TKeyValue<bool> : public KeyValue {
 public:
  TKeyValue(bool* target, char const* name, Symbol<bool> const*) : mTarget(target), mName(name) {}

  char const* name() const override { return mName; }
  bool do_parse(char const* text) override;

 private:
  bool* mTarget;
  char const* mName;
};

template <>
class TKeyValue<std::string> : public KeyValue {
 public:
  TKeyValue(std::string* target, char const* name, Symbol<std::string> const*)
      : mTarget(target), mName(name) {}

  char const* name() const override { return mName; }
  bool do_parse(char const* text) override {
    *mTarget = text;
    return true;
  }

 private:
  std::string* mTarget;
  char const* mName;
};

}  // namespace Private

class Reader {
 public:
  class Field {
   public:
    Field() {}
    ~Field();

    // The returned flag tells, after parse, whether a valid value was stored.
    template <class T>
    bool& add(T* target, char const* name, Symbol<T> const* symbols = nullptr) {
      Private::KeyValue* kv = new Private::TKeyValue<T>(target, name, symbols);
      add(kv);
      return kv->valid;
    }
    void add(Private::KeyValue* kv);

   private:
    friend class Reader;
    Field(Field const&) = delete;
    Field& operator=(Field const&) = delete;

    std::list<Private::KeyValue*> mKeys;
  };

  Reader(std::string const& prefix, std::ostream& messages);

  // True when every required key was given once with a valid value.
  bool parse(SubSection& occurrence);

  Field required;
  Field optional;

 private:
  Reader(Reader const&) = delete;
  Reader& operator=(Reader const&) = delete;

  void InvalidValue(bool req, char const* name, SubKey const& value);
  void Duplicated(bool req, char const* name, Key const& key);
  void MoreThanOnce(bool req, char const* name, Key const& key);

  std::string mPrefix;
  std::ostream* mOut;
};

}  // namespace IniFile

#endif
