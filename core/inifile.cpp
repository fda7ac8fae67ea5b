#include "core/inifile.h"

#include <cstdio>
#include <fstream>
#include <istream>
#include <iterator>
#include <ostream>
#include <sstream>

namespace IniFile {

// ---------------------------------------------------------------- SubKey

SubKey::SubKey(std::string const& value, int line) : mValue(value), mLineNo(line) {}

bool SubKey::GetBool(bool def) const
{
    if (mValue == "true" || mValue == "yes" || mValue == "1" || mValue == "on")
        return true;
    if (mValue == "false" || mValue == "no" || mValue == "0" || mValue == "off")
        return false;
    return def;
}

void SubKey::SetBool(bool v) { mValue = v ? "yes" : "no"; }

int SubKey::GetInt(int def) const
{
    int v = def;
    std::sscanf(mValue.c_str(), "%d", &v);
    return v;
}

void SubKey::SetInt(int v)
{
    std::ostringstream s;
    s << v;
    mValue = s.str();
}

float SubKey::GetFloat(float def) const
{
    float v = def;
    std::sscanf(mValue.c_str(), "%f", &v);
    return v;
}

void SubKey::SetFloat(float v)
{
    std::ostringstream s;
    s << v;
    mValue = s.str();
}

void SubKey::Dump(std::ostream& out) const
{
    out << "dumping IniFile::SubKey" << std::endl;
    out << "mValue=\"" << mValue << "\"" << std::endl;
    out << "mLineNo=" << mLineNo << std::endl;
}

// ---------------------------------------------------------------- Key

Key::Key(std::string const& name) : mName(name) {}

Key::~Key() { CleanSubKeys(); }

SubKey* Key::NewSubKey(std::string const& value, int line)
{
    SubKey* k = new SubKey(value, line);
    k->mPrev = mLast;
    if (mLast)
        mLast->mNext = k;
    else
        mFirst = k;
    mLast = k;
    ++mSubKeyCount;
    return k;
}

void Key::CleanSubKeys()
{
    while (mFirst) {
        SubKey* k = mFirst;
        mFirst = k->mNext;
        delete k;
    }
    mLast = nullptr;
    mSubKeyCount = 0;
}

void Key::CheckEmpty()
{
    if (mSubKeyCount == 0)
        NewSubKey("", -1);
}

void Key::Dump(std::ostream& out) const
{
    out << "dumping IniFile::Key" << std::endl;
    out << "mName=\"" << mName << "\"" << std::endl;
    out << "mSubKeyCount=" << mSubKeyCount << std::endl;
    for (SubKey* k = mFirst; k; k = k->mNext)
        k->Dump(out);
}

// ---------------------------------------------------------------- SubSection

SubSection::SubSection(int line) : mLineNo(line) {}

SubSection::~SubSection() { CleanKeys(); }

Key& SubSection::operator[](std::string const& key)
{
    auto it = mIndex.find(key);
    if (it != mIndex.end())
        return *it->second;
    return *NewKey(key);
}

Key* SubSection::NewKey(std::string const& key)
{
    auto it = mIndex.find(key);
    if (it != mIndex.end())
        return it->second;
    Key* k = new Key(key);
    k->mPrev = mLast;
    if (mLast)
        mLast->mNext = k;
    else
        mFirst = k;
    mLast = k;
    ++mKeyCount;
    mIndex[key] = k;
    return k;
}

SubKey* SubSection::NewSubKey(std::string const& key, std::string const& value, int line)
{
    return (*this)[key].NewSubKey(value, line);
}

void SubSection::CleanKeys()
{
    while (mFirst) {
        Key* k = mFirst;
        mFirst = k->mNext;
        delete k;
    }
    mLast = nullptr;
    mKeyCount = 0;
    mIndex.clear();
}

void SubSection::Dump(std::ostream& out) const
{
    out << "dumping IniFile::SubSection" << std::endl;
    out << "mLineNo=\"" << mLineNo << "\"" << std::endl;
    out << "mKeyCount=" << mKeyCount << std::endl;
    for (Key* k = mFirst; k; k = k->mNext)
        k->Dump(out);
}

// ---------------------------------------------------------------- Section

Section::Section(std::string const& name) : mName(name) {}

Section::~Section() { CleanSubSections(); }

SubSection* Section::NewSubSection(int line)
{
    SubSection* s = new SubSection(line);
    s->mPrev = mLast;
    if (mLast)
        mLast->mNext = s;
    else
        mFirst = s;
    mLast = s;
    ++mSubSectionCount;
    return s;
}

void Section::CleanSubSections()
{
    while (mFirst) {
        SubSection* s = mFirst;
        mFirst = s->mNext;
        delete s;
    }
    mLast = nullptr;
    mSubSectionCount = 0;
}

void Section::CheckEmpty()
{
    if (mSubSectionCount == 0)
        NewSubSection(-1);
}

void Section::Dump(std::ostream& out) const
{
    out << "dumping IniFile::Section" << std::endl;
    out << "mName=\"" << mName << "\"" << std::endl;
    out << "mSubSectionCount=" << mSubSectionCount << std::endl;
    for (SubSection* s = mFirst; s; s = s->mNext)
        s->Dump(out);
}

// ---------------------------------------------------------------- File

File::File() {}

File::File(std::string const& name) { Open(name); }

File::~File() { Close(); }

bool File::Open(std::string const& name)
{
    Close();
    mFileName = name;
    std::ifstream in(name.c_str(), std::ios::in | std::ios::binary);
    if (in.is_open())
        Parse(in);
    return mOpen;
}

// The tree goes whether or not a parse ran: sections looked up on a file
// that never opened are part of it too.
void File::Close()
{
    while (mFirst) {
        Section* s = mFirst;
        mFirst = s->mNext;
        delete s;
    }
    mLast = nullptr;
    mSectionCount = 0;
    mIndex.clear();
    mOpen = false;
}

Section& File::operator[](std::string const& name)
{
    auto it = mIndex.find(name);
    if (it != mIndex.end())
        return *it->second;
    return *NewSection(name);
}

Section* File::NewSection(std::string const& name)
{
    auto it = mIndex.find(name);
    if (it != mIndex.end())
        return it->second;
    Section* s = new Section(name);
    s->mPrev = mLast;
    if (mLast)
        mLast->mNext = s;
    else
        mFirst = s;
    mLast = s;
    ++mSectionCount;
    mIndex[name] = s;
    return s;
}

SubSection* File::NewSubSection(std::string const& name, int line)
{
    return (*this)[name].NewSubSection(line);
}

void File::Dump(std::ostream& out) const
{
    out << "dumping IniFile::File" << std::endl;
    out << "mFileName=\"" << mFileName << "\"" << std::endl;
    out << std::endl;
    out << "mSectionCount=" << mSectionCount << std::endl;
    for (Section* s = mFirst; s; s = s->mNext)
        s->Dump(out);
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

} // namespace

// Byte-by-byte parser. Only spaces are trimmed around names and values;
// tabs are kept, ';' starts no comment, and a '#' inside a value only starts
// a comment when a space comes before it, so "a#b" stays a value.
void File::Parse(std::istream& in)
{
    mOpen = true;

    ParseState state = BeforeSection;
    bool comment = false;
    int line = 1;
    unsigned pending = 0;
    std::string section, key, value;
    SubSection* current = nullptr;

    std::istreambuf_iterator<char> it(in), end;
    for (; it != end; ++it) {
        char c = *it;
        if (c == '\r')
            continue;
        if (comment) {
            if (c != '\n')
                continue;
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
            } else if (c == '\n') {
                key.clear();
                pending = 0;
                state = LineStart;
            } else {
                key.append(pending, ' ');
                key += c;
                pending = 0;
            }
            break;

        case BeforeValue:
            if (c == ' ')
                ;
            else if (c == '#')
                comment = true;
            else if (c == '\n') {
                current->NewSubKey(key, value, line);
                key.clear();
                state = LineStart;
            } else {
                value.assign(1, c);
                pending = 0;
                state = Value;
            }
            break;

        case Value:
            if (c == ' ')
                ++pending;
            else if (c == '#' && pending > 0) {
                comment = true;
                pending = 0;
            } else if (c == '\n') {
                current->NewSubKey(key, value, line);
                key.clear();
                state = LineStart;
            } else {
                value.append(pending, ' ');
                value += c;
                pending = 0;
            }
            break;
        }

        if (c == '\n')
            ++line;
    }

    if (state == BeforeValue || state == Value)
        current->NewSubKey(key, value, line);
}

std::istream& operator>>(std::istream& in, File& file)
{
    file.Close();
    file.mFileName = "";
    file.Parse(in);
    return in;
}

} // namespace IniFile
