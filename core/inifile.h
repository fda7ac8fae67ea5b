#ifndef VELMARD_CORE_INIFILE_H
#define VELMARD_CORE_INIFILE_H

// In-memory model of the INI configuration file. Every occurrence is kept:
// a header given twice is two SubSections of one Section, a key given twice
// in one occurrence is two SubKeys of one Key, each with the line it came
// from, so that the Reader can point the operator at the offending lines.

#include <iosfwd>
#include <map>
#include <string>

namespace IniFile {

class File;
class Section;
class SubSection;
class Key;
class SubKey;

// Walks one level of the tree in file order; the end iterator holds null.
template <class T>
class GenericIterator {
 public:
  explicit GenericIterator(T* p = nullptr) : mCur(p) {}
  T& operator*() const { return *mCur; }
  T* operator->() const { return mCur; }
  GenericIterator& operator++() {
    mCur = mCur->next();
    return *this;
  }
  GenericIterator operator++(int) {
    GenericIterator old(*this);
    mCur = mCur->next();
    return old;
  }
  bool operator!=(GenericIterator const& o) const { return mCur != o.mCur; }
  bool operator==(GenericIterator const& o) const { return mCur == o.mCur; }

 private:
  T* mCur;
};

// One level of the tree: owns its elements and keeps them in order of
// creation, with their count; clearing it deletes them.
template <class T>
class Chain {
 public:
  Chain() {}
  ~Chain() { clear(); }

  T* first() const { return mFirst; }
  T* last() const { return mLast; }
  unsigned count() const { return mCount; }

  T* append(T* node) {
    node->mPrev = mLast;
    if (mLast)
      mLast->mNext = node;
    else
      mFirst = node;
    mLast = node;
    ++mCount;
    return node;
  }

  void clear() {
    while (mFirst) {
      T* node = mFirst;
      mFirst = node->mNext;
      delete node;
    }
    mLast = nullptr;
    mCount = 0;
  }

  void Dump(std::ostream& out) const {
    for (T* node = mFirst; node; node = node->mNext) node->Dump(out);
  }

 private:
  Chain(Chain const&) = delete;
  Chain& operator=(Chain const&) = delete;

  T* mFirst = nullptr;
  T* mLast = nullptr;
  unsigned mCount = 0;
};

// A level whose elements are also found by exact name; a missing name is
// created empty on lookup, so lookups never fail.
template <class T>
class NamedChain : public Chain<T> {
 public:
  ~NamedChain() { clear(); }

  T& operator[](std::string const& name) {
    auto it = mIndex.find(name);
    if (it != mIndex.end()) return *it->second;
    T* node = this->append(new T(name));
    mIndex[name] = node;
    return *node;
  }

  // The list goes first, then the index.
  void clear() {
    Chain<T>::clear();
    mIndex.clear();
  }

 private:
  std::map<std::string, T*> mIndex;
};

class SubKey {
 public:
  SubKey(std::string const& value, int line);

  std::string const& value() const { return mValue; }
  int line() const { return mLineNo; }

  bool GetBool(bool def) const;
  void SetBool(bool v);
  int GetInt(int def) const;
  void SetInt(int v);
  float GetFloat(float def) const;
  void SetFloat(float v);

  void Dump(std::ostream& out) const;

  SubKey* next() const { return mNext; }
  SubKey* prev() const { return mPrev; }

 private:
  template <class>
  friend class Chain;
  SubKey(SubKey const&) = delete;
  SubKey& operator=(SubKey const&) = delete;

  std::string mValue;
  int mLineNo;
  SubKey* mNext = nullptr;
  SubKey* mPrev = nullptr;
};

class Key {
 public:
  typedef GenericIterator<SubKey> iterator;

  explicit Key(std::string const& name);

  std::string const& name() const { return mName; }
  unsigned count() const { return mSubKeys.count(); }
  SubKey* first() const { return mSubKeys.first(); }
  SubKey* last() const { return mSubKeys.last(); }
  iterator begin() const { return iterator(first()); }
  iterator end() const { return iterator(); }

  SubKey* NewSubKey(std::string const& value, int line);
  void CleanSubKeys() { mSubKeys.clear(); }
  void CheckEmpty();
  void Dump(std::ostream& out) const;

  Key* next() const { return mNext; }
  Key* prev() const { return mPrev; }

 private:
  template <class>
  friend class Chain;
  Key(Key const&) = delete;
  Key& operator=(Key const&) = delete;

  std::string mName;
  Chain<SubKey> mSubKeys;
  Key* mNext = nullptr;
  Key* mPrev = nullptr;
};

class SubSection {
 public:
  typedef GenericIterator<Key> iterator;

  explicit SubSection(int line);

  int line() const { return mLineNo; }
  unsigned count() const { return mKeys.count(); }
  Key* first() const { return mKeys.first(); }
  Key* last() const { return mKeys.last(); }
  iterator begin() const { return iterator(first()); }
  iterator end() const { return iterator(); }

  // A missing key is created empty, so lookups never fail.
  Key& operator[](std::string const& key) { return mKeys[key]; }
  Key* NewKey(std::string const& key) { return &mKeys[key]; }
  SubKey* NewSubKey(std::string const& key, std::string const& value, int line);
  void CleanKeys() { mKeys.clear(); }
  void Dump(std::ostream& out) const;

  SubSection* next() const { return mNext; }
  SubSection* prev() const { return mPrev; }

 private:
  template <class>
  friend class Chain;
  SubSection(SubSection const&) = delete;
  SubSection& operator=(SubSection const&) = delete;

  int mLineNo;
  NamedChain<Key> mKeys;
  SubSection* mNext = nullptr;
  SubSection* mPrev = nullptr;
};

class Section {
 public:
  typedef GenericIterator<SubSection> iterator;

  explicit Section(std::string const& name);

  std::string const& name() const { return mName; }
  unsigned count() const { return mSubSections.count(); }
  SubSection* first() const { return mSubSections.first(); }
  SubSection* last() const { return mSubSections.last(); }
  iterator begin() const { return iterator(first()); }
  iterator end() const { return iterator(); }

  SubSection* NewSubSection(int line);
  void CleanSubSections() { mSubSections.clear(); }
  void CheckEmpty();
  void Dump(std::ostream& out) const;

  Section* next() const { return mNext; }
  Section* prev() const { return mPrev; }

 private:
  template <class>
  friend class Chain;
  Section(Section const&) = delete;
  Section& operator=(Section const&) = delete;

  std::string mName;
  Chain<SubSection> mSubSections;
  Section* mNext = nullptr;
  Section* mPrev = nullptr;
};

class File {
 public:
  typedef GenericIterator<Section> iterator;

  File();
  explicit File(std::string const& name);
  ~File();

  // False when the file cannot be read; the model is then empty.
  bool Open(std::string const& name);
  void Close();
  void Sync() {}

  bool is_open() const { return mOpen; }
  std::string const& filename() const { return mFileName; }
  unsigned count() const { return mSections.count(); }
  Section* first() const { return mSections.first(); }
  Section* last() const { return mSections.last(); }
  iterator begin() const { return iterator(first()); }
  iterator end() const { return iterator(); }

  // A missing section is created empty, so lookups never fail.
  Section& operator[](std::string const& name) { return mSections[name]; }
  Section* NewSection(std::string const& name) { return &mSections[name]; }
  SubSection* NewSubSection(std::string const& name, int line);
  void Dump(std::ostream& out) const;

 private:
  friend std::istream& operator>>(std::istream&, File&);
  File(File const&) = delete;
  File& operator=(File const&) = delete;

  void Parse(std::istream& in);

  std::string mFileName;
  bool mOpen = false;
  NamedChain<Section> mSections;
};

std::istream& operator>>(std::istream& in, File& file);

}  // namespace IniFile

#endif  // VELMARD_CORE_INIFILE_H
