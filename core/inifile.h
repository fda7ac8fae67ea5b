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
    GenericIterator& operator++() { mCur = mCur->next(); return *this; }
    GenericIterator operator++(int) { GenericIterator old(*this); mCur = mCur->next(); return old; }
    bool operator!=(GenericIterator const& o) const { return mCur != o.mCur; }
    bool operator==(GenericIterator const& o) const { return mCur == o.mCur; }
private:
    T* mCur;
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
    friend class Key;
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
    ~Key();

    std::string const& name() const { return mName; }
    unsigned count() const { return mSubKeyCount; }
    SubKey* first() const { return mFirst; }
    SubKey* last() const { return mLast; }
    iterator begin() const { return iterator(mFirst); }
    iterator end() const { return iterator(); }

    SubKey* NewSubKey(std::string const& value, int line);
    void CleanSubKeys();
    void CheckEmpty();
    void Dump(std::ostream& out) const;

    Key* next() const { return mNext; }
    Key* prev() const { return mPrev; }

private:
    friend class SubSection;
    Key(Key const&) = delete;
    Key& operator=(Key const&) = delete;

    std::string mName;
    unsigned mSubKeyCount = 0;
    SubKey* mFirst = nullptr;
    SubKey* mLast = nullptr;
    Key* mNext = nullptr;
    Key* mPrev = nullptr;
};

class SubSection {
public:
    typedef GenericIterator<Key> iterator;

    explicit SubSection(int line);
    ~SubSection();

    int line() const { return mLineNo; }
    unsigned count() const { return mKeyCount; }
    Key* first() const { return mFirst; }
    Key* last() const { return mLast; }
    iterator begin() const { return iterator(mFirst); }
    iterator end() const { return iterator(); }

    // A missing key is created empty, so lookups never fail.
    Key& operator[](std::string const& key);
    Key* NewKey(std::string const& key);
    SubKey* NewSubKey(std::string const& key, std::string const& value, int line);
    void CleanKeys();
    void Dump(std::ostream& out) const;

    SubSection* next() const { return mNext; }
    SubSection* prev() const { return mPrev; }

private:
    friend class Section;
    SubSection(SubSection const&) = delete;
    SubSection& operator=(SubSection const&) = delete;

    int mLineNo;
    unsigned mKeyCount = 0;
    Key* mFirst = nullptr;
    Key* mLast = nullptr;
    SubSection* mNext = nullptr;
    SubSection* mPrev = nullptr;
    std::map<std::string, Key*> mIndex;
};

class Section {
public:
    typedef GenericIterator<SubSection> iterator;

    explicit Section(std::string const& name);
    ~Section();

    std::string const& name() const { return mName; }
    unsigned count() const { return mSubSectionCount; }
    SubSection* first() const { return mFirst; }
    SubSection* last() const { return mLast; }
    iterator begin() const { return iterator(mFirst); }
    iterator end() const { return iterator(); }

    SubSection* NewSubSection(int line);
    void CleanSubSections();
    void CheckEmpty();
    void Dump(std::ostream& out) const;

    Section* next() const { return mNext; }
    Section* prev() const { return mPrev; }

private:
    friend class File;
    Section(Section const&) = delete;
    Section& operator=(Section const&) = delete;

    std::string mName;
    unsigned mSubSectionCount = 0;
    SubSection* mFirst = nullptr;
    SubSection* mLast = nullptr;
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
    unsigned count() const { return mSectionCount; }
    Section* first() const { return mFirst; }
    Section* last() const { return mLast; }
    iterator begin() const { return iterator(mFirst); }
    iterator end() const { return iterator(); }

    // A missing section is created empty, so lookups never fail.
    Section& operator[](std::string const& name);
    Section* NewSection(std::string const& name);
    SubSection* NewSubSection(std::string const& name, int line);
    void Dump(std::ostream& out) const;

private:
    friend std::istream& operator>>(std::istream&, File&);
    File(File const&) = delete;
    File& operator=(File const&) = delete;

    void Parse(std::istream& in);

    std::string mFileName;
    bool mOpen = false;
    unsigned mSectionCount = 0;
    Section* mFirst = nullptr;
    Section* mLast = nullptr;
    std::map<std::string, Section*> mIndex;
};

std::istream& operator>>(std::istream& in, File& file);

} // namespace IniFile

#endif
