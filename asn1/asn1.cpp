#include "asn1/asn1.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "asn1/visitor.h"

namespace ASN1 {

unsigned MaximumArraySize = 128;
unsigned MaximumStringSize = 16384;

unsigned CountBits(unsigned v) {
  if (v == 0) return 32;
  unsigned n = 0;
  while (n < 32 && (std::uint64_t(1) << n) < v) ++n;
  return n;
}

int lexicographic_compare_bytes(const char* b1, const char* e1, const char* b2, const char* e2) {
  for (; b1 != e1 && b2 != e2; ++b1, ++b2) {
    int d = static_cast<unsigned char>(*b1) - static_cast<unsigned char>(*b2);
    if (d) return d;
  }
  if (b1 == e1 && b2 == e2) return 0;
  return b1 == e1 ? -1 : 1;
}

bool sizeBelowLower(const ConstrainedInfo& c, unsigned n) {
  if (c.lowerLimit < 0) return static_cast<std::int64_t>(n) < c.lowerLimit;
  return n < static_cast<unsigned>(c.lowerLimit);
}

bool sizeAboveUpper(const ConstrainedInfo& c, unsigned n) {
  if (c.lowerLimit < 0) return static_cast<std::int64_t>(n) > static_cast<int>(c.upperLimit);
  return n > c.upperLimit;
}

namespace {
template <class T>
int sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}
}  // namespace

// ---------------------------------------------------------------------------
// Generic records.

const TypeInfo Null::theInfo = {&Null::create, 5};
const TypeInfo BOOLEAN::theInfo = {&BOOLEAN::create, 1};
const ConstrainedInfo INTEGER::theInfo = {{&INTEGER::create, 2}, Unconstrained, 0, 0xFFFFFFFFu};
const TypeInfo OBJECT_IDENTIFIER::theInfo = {&OBJECT_IDENTIFIER::create, 6};
const ConstrainedInfo BIT_STRING::theInfo = {
    {&BIT_STRING::create, 3}, Unconstrained, 0, 0xFFFFFFFFu};
const ConstrainedInfo OCTET_STRING::theInfo = {
    {&OCTET_STRING::create, 4}, Unconstrained, 0, 0xFFFFFFFFu};
const TypeInfo GeneralizedTime::theInfo = {&GeneralizedTime::create, 24};
const TypeInfo OpenData::theInfo = {&OpenData::create, 0};
const unsigned SEQUENCE::defaultTag = 0xFFFFFFFFu;

const char NumericStringSet[] = " 0123456789";
const char PrintableStringSet[] =
    " '()+,-./0123456789:=?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

const StringInfo NumericString::theInfo = {
    {{&NumericString::create, 18}, Unconstrained, 0, 0xFFFFFFFFu}, NumericStringSet, 11, 4, 4, 4};
const StringInfo PrintableString::theInfo = {
    {{&PrintableString::create, 19}, Unconstrained, 0, 0xFFFFFFFFu},
    PrintableStringSet,
    74,
    7,
    7,
    8};
const StringInfo VisibleString::theInfo = {
    {{&VisibleString::create, 26}, Unconstrained, 0, 0xFFFFFFFFu}, VisibleStringSet, 95, 7, 7, 8};
const StringInfo IA5String::theInfo = {
    {{&IA5String::create, 22}, Unconstrained, 0, 0xFFFFFFFFu}, IA5StringSet, 128, 7, 7, 8};
const StringInfo GeneralString::theInfo = {
    {{&GeneralString::create, 27}, Unconstrained, 0, 0xFFFFFFFFu}, GeneralStringSet, 256, 8, 8, 8};
const BMPStringInfo BMPString::theInfo = {
    {{&BMPString::create, 30}, Unconstrained, 0, 0xFFFFFFFFu}, 0, 0xFFFF, 16, 16};

// ---------------------------------------------------------------------------
// Comparison.

int Null::do_compare(const AbstractData&) const {
  return 0;
}

int BOOLEAN::do_compare(const AbstractData& other) const {
  return int(value) - int(boost::polymorphic_downcast<const BOOLEAN*>(&other)->value);
}

int INTEGER::do_compare(const AbstractData& other) const {
  return sign(value, boost::polymorphic_downcast<const INTEGER*>(&other)->value);
}

std::int64_t INTEGER::constraintValue() const {
  if (getLowerLimit() >= 0) return static_cast<std::uint32_t>(value);
  return value;
}

std::int64_t INTEGER::constraintUpper() const {
  // (-5..MAX) keeps 0xFFFFFFFF in its upper word, which reads as -1 signed.
  if (getConstraintType() == PartiallyConstrained) return INT64_MAX;
  if (getLowerLimit() >= 0) return getUpperLimit();
  return static_cast<int>(getUpperLimit());
}

bool INTEGER::isStrictValid() const {
  std::int64_t v = constraintValue();
  return getLowerLimit() <= v && v <= constraintUpper();
}

bool IntegerWithNamedNumber::getName(std::string& name) const {
  const IntegerWithNamedNumberInfo* ni = namedInfo();
  const NamedNumber* first = ni->names;
  const NamedNumber* last = ni->names + ni->count;
  const NamedNumber* it =
      std::lower_bound(first, last, value, [](const NamedNumber& n, int v) { return n.value < v; });
  if (it == last || it->value != value) return false;
  name = it->name;
  return true;
}

int ENUMERATED::do_compare(const AbstractData& other) const {
  return sign(value, boost::polymorphic_downcast<const ENUMERATED*>(&other)->value);
}

const char* ENUMERATED::getName() const {
  const EnumeratedInfo* ei = info();
  if (value < 0 || value > ei->maxEnumValue) return nullptr;
  std::int64_t v = -1;
  for (unsigned i = 0; i < ei->nameCount; ++i) {
    const char* entry = ei->names[i];
    const char* mark = std::strchr(entry, '=');
    v = mark ? std::strtoll(mark + 1, nullptr, 10) : v + 1;
    if (v == value) return entry;
  }
  return nullptr;
}

int OBJECT_IDENTIFIER::do_compare(const AbstractData& other) const {
  const std::vector<std::uint32_t>& o =
      boost::polymorphic_downcast<const OBJECT_IDENTIFIER*>(&other)->value;
  std::size_t n = std::min(value.size(), o.size());
  for (std::size_t i = 0; i < n; ++i)
    if (value[i] != o[i]) return value[i] < o[i] ? -1 : 1;
  return sign(value.size(), o.size());
}

void OBJECT_IDENTIFIER::encodeCommon(std::vector<char>& out) const {
  if (value.size() < 2) {
    out.clear();
    return;
  }
  std::vector<char> content;
  for (std::size_t i = 1; i < value.size(); ++i) {
    std::uint64_t arc = value[i];
    if (i == 1) arc += 40u * std::uint64_t(value[0]);
    char groups[10];
    int n = 0;
    do {
      groups[n++] = static_cast<char>(arc & 0x7F);
      arc >>= 7;
    } while (arc);
    while (n > 1) content.push_back(static_cast<char>(groups[--n] | 0x80));
    content.push_back(groups[0]);
  }
  out.insert(out.begin(), content.begin(), content.end());
}

bool OBJECT_IDENTIFIER::decodeCommon(const char* data, unsigned dataLen) {
  value.clear();
  const char* end = data + dataLen;
  bool first = true;
  while (data != end) {
    // Arcs are 32-bit: a longer one is refused rather than cut.
    std::uint64_t arc = 0;
    unsigned char c;
    do {
      if (data == end || arc > (std::uint64_t(0xFFFFFFFFu) + 80) >> 7) return false;
      c = static_cast<unsigned char>(*data++);
      arc = arc << 7 | (c & 0x7F);
    } while (c & 0x80);
    if (first) {
      first = false;
      unsigned top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
      arc -= 40u * top;
      value.push_back(top);
    }
    if (arc > 0xFFFFFFFFu) return false;
    value.push_back(static_cast<std::uint32_t>(arc));
  }
  return true;
}

void BIT_STRING::resize(unsigned nBits) {
  bitData.resize((std::size_t(nBits) + 7) / 8);
  totalBits = nBits;
}

// The octets are reachable through getData(), so they may be fewer than the
// bit count asks for: a bit without its octet reads as 0 and cannot be set.
bool BIT_STRING::operator[](unsigned bit) const {
  if (bit >= totalBits || bit / 8 >= bitData.size()) return false;
  return (static_cast<unsigned char>(bitData[bit / 8]) >> (7 - bit % 8)) & 1;
}

void BIT_STRING::set(unsigned bit) {
  if (bit < totalBits && bit / 8 < bitData.size())
    bitData[bit / 8] = static_cast<char>(bitData[bit / 8] | (0x80 >> (bit % 8)));
}

void BIT_STRING::clear(unsigned bit) {
  if (bit < totalBits && bit / 8 < bitData.size())
    bitData[bit / 8] = static_cast<char>(bitData[bit / 8] & ~(0x80 >> (bit % 8)));
}

int BIT_STRING::do_compare(const AbstractData& other) const {
  const BIT_STRING& o = *boost::polymorphic_downcast<const BIT_STRING*>(&other);
  std::size_t n = std::min(bitData.size(), o.bitData.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char a = static_cast<unsigned char>(bitData[i]);
    unsigned char b = static_cast<unsigned char>(o.bitData[i]);
    unsigned char mask = a ^ b;
    if (mask) return int(a & mask) - int(b & mask);
  }
  return sign(totalBits, o.totalBits);
}

int OCTET_STRING::do_compare(const AbstractData& other) const {
  const OCTET_STRING& o = *boost::polymorphic_downcast<const OCTET_STRING*>(&other);
  return lexicographic_compare_bytes(data(), data() + size(), o.data(), o.data() + o.size());
}

int AbstractString::indexOf(char c) const {
  const StringInfo* si = info();
  if (!si->characterSet) return -1;
  const unsigned char* first = reinterpret_cast<const unsigned char*>(si->characterSet);
  const unsigned char* last = first + si->characterSetSize;
  const unsigned char* it = std::lower_bound(first, last, static_cast<unsigned char>(c));
  if (it == last || *it != static_cast<unsigned char>(c)) return -1;
  return static_cast<int>(it - first);
}

AbstractString::size_type AbstractString::first_illegal_at() const {
  if (info()->characterSetSize == 0) return size();
  for (size_type i = 0; i < size(); ++i)
    if (indexOf((*this)[i]) < 0) return i;
  return size();
}

int AbstractString::do_compare(const AbstractData& other) const {
  const AbstractString& o = *boost::polymorphic_downcast<const AbstractString*>(&other);
  std::size_t n = std::min(size(), o.size());
  int r = n ? std::memcmp(data(), o.data(), n) : 0;
  if (r) return r;
  return sign(size(), o.size());
}

bool BMPString::legalCharacter(wchar_t c) const {
  unsigned code = static_cast<unsigned>(c);
  return info()->firstChar <= code && code <= info()->lastChar;
}

BMPString::size_type BMPString::first_illegal_at() const {
  for (size_type i = 0; i < size(); ++i)
    if (!legalCharacter((*this)[i])) return i;
  return size();
}

int BMPString::do_compare(const AbstractData& other) const {
  const BMPString& o = *boost::polymorphic_downcast<const BMPString*>(&other);
  std::size_t n = std::min(size(), o.size());
  for (std::size_t i = 0; i < n; ++i)
    if ((*this)[i] != o[i]) return (*this)[i] < o[i] ? -1 : 1;
  return sign(size(), o.size());
}

// ---------------------------------------------------------------------------
// GeneralizedTime.

GeneralizedTime::GeneralizedTime(const void* info)
    : AbstractData(info),
      year(1),
      month(1),
      day(1),
      hour(0),
      minute(0),
      second(0),
      millisec(0),
      mindiff(0),
      utc(false) {}

GeneralizedTime::GeneralizedTime(const char* text, const void* info) : GeneralizedTime(info) {
  set(text);
}

GeneralizedTime::GeneralizedTime(int year, int month, int day, int hour, int minute, int second,
                                 int millisec, int mindiff, bool utc, const void* info)
    : AbstractData(info),
      year(year),
      month(month),
      day(day),
      hour(hour),
      minute(minute),
      second(second),
      millisec(millisec),
      mindiff(mindiff),
      utc(utc) {}

GeneralizedTime& GeneralizedTime::operator=(const GeneralizedTime& o) {
  GeneralizedTime copy(o);
  swap(copy);
  return *this;
}

void GeneralizedTime::swap(GeneralizedTime& o) {
  std::swap(year, o.year);
  std::swap(month, o.month);
  std::swap(day, o.day);
  std::swap(hour, o.hour);
  std::swap(minute, o.minute);
  std::swap(second, o.second);
  std::swap(millisec, o.millisec);
  std::swap(mindiff, o.mindiff);
  std::swap(utc, o.utc);
}

namespace {
// A "%Nd" conversion over a bounded text: leading blanks, a sign, then at
// most width characters in all, as scanf counts them.
bool scanNumber(const char*& p, const char* end, int width, int& out) {
  while (p != end && (*p == ' ' || *p == '\t')) ++p;
  int used = 0;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
    ++used;
  }
  int digits = 0;
  long v = 0;
  while (p != end && used < width && *p >= '0' && *p <= '9') {
    v = v * 10 + (*p - '0');
    ++p;
    ++used;
    ++digits;
  }
  if (!digits) return false;
  out = static_cast<int>(negative ? -v : v);
  return true;
}
}  // namespace

void GeneralizedTime::set(const char* text, std::size_t length) {
  const char* p = text;
  const char* end = text + length;
  int* fields[] = {&year, &month, &day, &hour, &minute, &second};
  const int widths[] = {4, 2, 2, 2, 2, 2};
  for (int i = 0; i < 6; ++i)
    if (!scanNumber(p, end, widths[i], *fields[i])) break;
  if (length > 14 && text[14] == '.') {
    // The fraction is read as a decimal number and scaled to milliseconds.
    const char* f = text + 14;
    double fraction = 0, scale = 0.1;
    for (++f; f != end && *f >= '0' && *f <= '9'; ++f, scale /= 10) fraction += (*f - '0') * scale;
    millisec = static_cast<int>(fraction * 1000 + 1e-9);
  }
  if (length > 0 && text[length - 1] == 'Z') {
    utc = true;
  } else if (length >= 5 && (text[length - 5] == '+' || text[length - 5] == '-')) {
    int hh = 0, mm = 0;
    const char* q = text + length - 4;
    for (int i = 0; i < 2; ++i) hh = hh * 10 + (q[i] >= '0' && q[i] <= '9' ? q[i] - '0' : 0);
    for (int i = 2; i < 4; ++i) mm = mm * 10 + (q[i] >= '0' && q[i] <= '9' ? q[i] - '0' : 0);
    mindiff = (text[length - 5] == '-' ? -1 : 1) * (hh * 60 + mm);
  }
}

void GeneralizedTime::set(const char* text) {
  set(text, std::strlen(text));
}

std::string GeneralizedTime::get() const {
  char buf[96];
  int n = std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", year, month, day, hour, minute,
                        second);
  std::string result(buf, static_cast<std::size_t>(n));
  if (millisec) {
    std::snprintf(buf, sizeof buf, ".%03d", millisec);
    result += buf;
  }
  if (utc) {
    result += 'Z';
  } else if (mindiff) {
    long long magnitude = mindiff < 0 ? -static_cast<long long>(mindiff) : mindiff;
    std::snprintf(buf, sizeof buf, "%c%02lld%02lld", mindiff < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    result += buf;
  }
  return result;
}

long GeneralizedTime::get_time_t() const {
  std::tm t = std::tm();
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return static_cast<long>(std::mktime(&t));
}

void GeneralizedTime::set_time_t(long value) {
  std::time_t t = static_cast<std::time_t>(value);
  std::tm tm_ = std::tm();
  gmtime_r(&t, &tm_);
  year = tm_.tm_year + 1900;
  month = tm_.tm_mon + 1;
  day = tm_.tm_mday;
  hour = tm_.tm_hour;
  minute = tm_.tm_min;
  second = tm_.tm_sec;
}

bool GeneralizedTime::isStrictlyValid() const {
  return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 &&
         hour <= 24 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59 &&
         mindiff >= -720 && mindiff <= 720;
}

int GeneralizedTime::do_compare(const AbstractData& other) const {
  const GeneralizedTime& o = *boost::polymorphic_downcast<const GeneralizedTime*>(&other);
  const int a[] = {year, month, day, hour, minute, second, millisec};
  const int b[] = {o.year, o.month, o.day, o.hour, o.minute, o.second, o.millisec};
  for (int i = 0; i < 7; ++i)
    if (a[i] != b[i]) return sign(a[i], b[i]);
  return int(utc) - int(o.utc);
}

// ---------------------------------------------------------------------------
// CHOICE.

CHOICE::CHOICE(const void* info, int id, AbstractData* value)
    : AbstractData(info), choice(value), choiceID(id) {}

CHOICE::CHOICE(const CHOICE& other)
    : AbstractData(other),
      choice(other.choice ? other.choice->clone() : nullptr),
      choiceID(other.choiceID) {}

CHOICE& CHOICE::operator=(const CHOICE& other) {
  if (this != &other) {
    choice.reset(other.choice ? other.choice->clone() : nullptr);
    choiceID = other.choiceID;
  }
  return *this;
}

CHOICE::~CHOICE() {}

AbstractData* CHOICE::setSelection(int id, AbstractData* value) {
  // Handing back the held value only renames it.
  if (value != choice.get()) choice.reset(value);
  choiceID = id;
  return value;
}

bool CHOICE::createSelection() {
  const ChoiceInfo* ci = info();
  if (choiceID >= 0 && static_cast<unsigned>(choiceID) < ci->totalChoices &&
      ci->selectionInfos[choiceID]) {
    choice.reset(AbstractData::create(ci->selectionInfos[choiceID]));
    if (choice) return true;
  }
  choiceID = unknownSelection_;
  choice.reset();
  return false;
}

bool CHOICE::select(int id) {
  if (id == choiceID && choice) return true;
  choiceID = id;
  return createSelection();
}

const char* CHOICE::getSelectionName() const {
  if (choiceID < 0 || static_cast<unsigned>(choiceID) >= info()->totalChoices) return nullptr;
  return info()->names[choiceID];
}

void CHOICE::swap(CHOICE& other) {
  std::swap(info_, other.info_);
  choice.swap(other.choice);
  std::swap(choiceID, other.choiceID);
}

int CHOICE::do_compare(const AbstractData& other) const {
  const CHOICE& o = *boost::polymorphic_downcast<const CHOICE*>(&other);
  if (choiceID == o.choiceID && choice && o.choice) return choice->compare(*o.choice);
  if (choiceID == o.choiceID) return int(choice != nullptr) - int(o.choice != nullptr);
  return choiceID - o.choiceID;
}

// ---------------------------------------------------------------------------
// SEQUENCE.

void SEQUENCE::BitMap::resize(unsigned nBits) {
  bitData.resize((std::size_t(nBits) + 7) / 8);
  // Bits cut off in the last byte must read as clear when it grows again.
  if (nBits % 8 && !bitData.empty())
    bitData.back() &= static_cast<unsigned char>(0xFF00 >> (nBits % 8));
  totalBits = nBits;
}

void SEQUENCE::BitMap::set(unsigned bit) {
  if (bit < totalBits) bitData[bit / 8] |= static_cast<unsigned char>(0x80 >> (bit % 8));
}

void SEQUENCE::BitMap::clear(unsigned bit) {
  if (bit < totalBits) bitData[bit / 8] &= static_cast<unsigned char>(~(0x80 >> (bit % 8)));
}

void SEQUENCE::BitMap::swap(BitMap& o) {
  std::swap(totalBits, o.totalBits);
  bitData.swap(o.bitData);
}

SEQUENCE::SEQUENCE(const void* info) : AbstractData(info) {
  const SequenceInfo* si = this->info();
  fields.assign(si->numFields + si->knownExtensions, nullptr);
  optionalFields.resize(si->numOptional);
  try {
    for (unsigned i = 0; i < si->numFields; ++i)
      if (si->ids[i] == -1) fields[i] = AbstractData::create(si->fieldInfos[i]);
    if (si->nonOptionalExtensions) {
      extensionMap_.resize(si->knownExtensions);
      std::copy(si->nonOptionalExtensions,
                si->nonOptionalExtensions + (si->knownExtensions + 7) / 8,
                extensionMap_.data().begin());
      for (unsigned k = 0; k < si->knownExtensions; ++k)
        if (extensionMap_[k])
          fields[si->numFields + k] = AbstractData::create(si->fieldInfos[si->numFields + k]);
    }
  } catch (...) {
    deleteFields();
    throw;
  }
}

SEQUENCE::SEQUENCE(const SEQUENCE& other) : AbstractData(other) {
  copyFrom(other);
}

void SEQUENCE::copyFrom(const SEQUENCE& other) {
  fields.assign(other.fields.size(), nullptr);
  try {
    for (std::size_t i = 0; i < other.fields.size(); ++i)
      if (other.fields[i]) fields[i] = other.fields[i]->clone();
  } catch (...) {
    deleteFields();
    throw;
  }
  optionalFields = other.optionalFields;
  extensionMap_ = other.extensionMap_;
  unknownExtensions_ = other.unknownExtensions_;
}

SEQUENCE& SEQUENCE::operator=(const SEQUENCE& other) {
  if (this != &other) {
    SEQUENCE copy(other);
    copy.info_ = info_;
    swap(copy);
  }
  return *this;
}

void SEQUENCE::deleteFields() {
  for (AbstractData* f : fields) delete f;
  fields.clear();
}

SEQUENCE::~SEQUENCE() {
  deleteFields();
}

int SEQUENCE::getFieldId(unsigned index) const {
  return index < info()->numFields ? info()->ids[index] : 0;
}

AbstractData* SEQUENCE::createField(unsigned index) {
  if (!fields[index]) fields[index] = AbstractData::create(info()->fieldInfos[index]);
  return fields[index];
}

void SEQUENCE::includeOptionalField(unsigned id, unsigned index) {
  if (id < optionalFields.size()) {
    optionalFields.set(id);
  } else {
    unsigned bit = id - optionalFields.size();
    if (bit >= extensionMap_.size()) extensionMap_.resize(bit + 1);
    extensionMap_.set(bit);
  }
  if (index < fields.size()) createField(index);
}

void SEQUENCE::removeOptionalField(unsigned id) {
  if (id < optionalFields.size())
    optionalFields.clear(id);
  else
    extensionMap_.clear(id - optionalFields.size());
}

void SEQUENCE::swap(SEQUENCE& other) {
  std::swap(info_, other.info_);
  fields.swap(other.fields);
  optionalFields.swap(other.optionalFields);
  extensionMap_.swap(other.extensionMap_);
  unknownExtensions_.swap(other.unknownExtensions_);
}

int SEQUENCE::do_compare(const AbstractData& other) const {
  const SEQUENCE& o = *boost::polymorphic_downcast<const SEQUENCE*>(&other);
  const SequenceInfo* si = info();
  int lastId = -1;
  std::size_t n = std::min(fields.size(), o.fields.size());
  for (std::size_t i = 0; i < n; ++i) {
    int id;
    if (i < si->numFields) {
      id = si->ids[i];
      if (id != -1) lastId = id;
    } else {
      id = ++lastId;
    }
    bool here = id == -1 ? fields[i] != nullptr : hasOptionalField(id) && fields[i];
    bool there = id == -1 ? o.fields[i] != nullptr : o.hasOptionalField(id) && o.fields[i];
    if (here != there) return here ? 1 : -1;
    if (!here) continue;
    int r = fields[i]->compare(*o.fields[i]);
    if (r) return r;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// SEQUENCE OF.

SEQUENCE_OF_Base::SEQUENCE_OF_Base(const SEQUENCE_OF_Base& other) : ConstrainedObject(other) {
  container.reserve(other.container.size());
  try {
    for (AbstractData* e : other.container) container.push_back(e->clone());
  } catch (...) {
    clear();
    throw;
  }
}

SEQUENCE_OF_Base& SEQUENCE_OF_Base::operator=(const SEQUENCE_OF_Base& other) {
  if (this != &other) {
    SEQUENCE_OF_Base copy(other);
    container.swap(copy.container);
  }
  return *this;
}

SEQUENCE_OF_Base::~SEQUENCE_OF_Base() {
  clear();
}

void SEQUENCE_OF_Base::clear() {
  for (AbstractData* e : container) delete e;
  container.clear();
}

void SEQUENCE_OF_Base::resize(unsigned n) {
  if (n < container.size()) {
    erase(container.begin() + n, container.end());
    return;
  }
  container.reserve(n);
  while (container.size() < n) {
    AbstractData* e = AbstractData::create(elementInfo());
    if (!e) return;
    container.push_back(e);
  }
}

void SEQUENCE_OF_Base::insert(Container::iterator position, unsigned n, const AbstractData& x) {
  Container added;
  added.reserve(n);
  for (unsigned i = 0; i < n; ++i) added.push_back(x.clone());
  container.insert(position, added.begin(), added.end());
}

void SEQUENCE_OF_Base::insert(Container::iterator position, Container::const_iterator first,
                              Container::const_iterator last) {
  Container added;
  for (; first != last; ++first) added.push_back((*first)->clone());
  container.insert(position, added.begin(), added.end());
}

void SEQUENCE_OF_Base::erase(Container::iterator first, Container::iterator last) {
  for (Container::iterator it = first; it != last; ++it) delete *it;
  container.erase(first, last);
}

void SEQUENCE_OF_Base::swap(SEQUENCE_OF_Base& other) {
  std::swap(info_, other.info_);
  container.swap(other.container);
}

int SEQUENCE_OF_Base::do_compare(const AbstractData& other) const {
  const SEQUENCE_OF_Base& o = *boost::polymorphic_downcast<const SEQUENCE_OF_Base*>(&other);
  std::size_t n = std::min(container.size(), o.container.size());
  for (std::size_t i = 0; i < n; ++i) {
    int r = container[i]->compare(*o.container[i]);
    if (r) return r;
  }
  return sign(container.size(), o.container.size());
}

// ---------------------------------------------------------------------------
// Open types.

OpenData::OpenData(const OpenData& other)
    : AbstractData(other),
      data(other.data ? other.data->clone() : nullptr),
      buf(other.buf ? new std::vector<char>(*other.buf) : nullptr) {}

OpenData& OpenData::operator=(const OpenData& other) {
  if (this != &other) {
    OpenData copy(other);
    data.swap(copy.data);
    buf.swap(copy.buf);
  }
  return *this;
}

void OpenData::swap(OpenData& other) {
  std::swap(info_, other.info_);
  data.swap(other.data);
  buf.swap(other.buf);
}

int OpenData::do_compare(const AbstractData& other) const {
  const OpenData& o = *boost::polymorphic_downcast<const OpenData*>(&other);
  if (data && o.data) return data->compare(*o.data);
  if (buf && o.buf)
    return lexicographic_compare_bytes(buf->data(), buf->data() + buf->size(), o.buf->data(),
                                       o.buf->data() + o.buf->size());
  if (!data && !buf && !o.data && !o.buf) return 0;
  return data ? 1 : -1;
}

TypeConstrainedOpenData::TypeConstrainedOpenData(const void* info)
    : OpenData(info, AbstractData::create(static_cast<const OpenTypeInfo*>(info)->typeInfo)) {}

// ---------------------------------------------------------------------------
// Dispatch.

bool Null::do_accept(Visitor& v) {
  return v.do_visit(*this);
}
bool Null::do_accept(ConstVisitor& v) const {
  return v.do_visit(*this);
}
bool BOOLEAN::do_accept(Visitor& v) {
  return v.do_visit(*this);
}
bool BOOLEAN::do_accept(ConstVisitor& v) const {
  return v.do_visit(*this);
}
bool INTEGER::do_accept(Visitor& v) {
  return v.do_visit(*this);
}
bool INTEGER::do_accept(ConstVisitor& v) const {
  return v.do_visit(*this);
}
bool IntegerWithNamedNumber::do_accept(Visitor& v) {
  return v.do_visit(*this);
}
bool IntegerWithNamedNumber::do_accept(ConstVisitor& v) const {
  return v.do_visit(*this);
}
bool ENUMERATED::do_accept(Visitor& v) {
  return v.do_visit(*this);
}
bool ENUMERATED::do_accept(ConstVisitor& v) const {
  return v.do_visit(*this);
}
bool OBJECT_IDENTIFIER::do_accept(Visitor& v) {
  return v.do_visit(*this);
}
bool OBJECT_IDENTIFIER::do_accept(ConstVisitor& v) const {
  return v.do_visit(*this);
}
bool BIT_STRING::do_accept(Visitor& v) {
  return v.do_visit(*this);
}
bool BIT_STRING::do_accept(ConstVisitor& v) const {
  return v.do_visit(*this);
}
bool OCTET_STRING::do_accept(Visitor& v) {
  return v.do_visit(*this);
}
bool OCTET_STRING::do_accept(ConstVisitor& v) const {
  return v.do_visit(*this);
}
bool AbstractString::do_accept(Visitor& v) {
  return v.do_visit(*this);
}
bool AbstractString::do_accept(ConstVisitor& v) const {
  return v.do_visit(*this);
}
bool BMPString::do_accept(Visitor& v) {
  return v.do_visit(*this);
}
bool BMPString::do_accept(ConstVisitor& v) const {
  return v.do_visit(*this);
}
bool GeneralizedTime::do_accept(Visitor& v) {
  return v.do_visit(*this);
}
bool GeneralizedTime::do_accept(ConstVisitor& v) const {
  return v.do_visit(*this);
}
bool CHOICE::do_accept(Visitor& v) {
  Visitor::Nested level(v);
  return level && v.do_visit(*this);
}
bool CHOICE::do_accept(ConstVisitor& v) const {
  return v.do_visit(*this);
}
bool SEQUENCE::do_accept(Visitor& v) {
  Visitor::Nested level(v);
  return level && v.visit(*this);
}
bool SEQUENCE::do_accept(ConstVisitor& v) const {
  return v.visit(*this);
}
bool SEQUENCE_OF_Base::do_accept(Visitor& v) {
  Visitor::Nested level(v);
  return level && v.do_visit(*this);
}
bool SEQUENCE_OF_Base::do_accept(ConstVisitor& v) const {
  return v.do_visit(*this);
}
bool OpenData::do_accept(Visitor& v) {
  Visitor::Nested level(v);
  return level && v.do_visit(*this);
}
bool OpenData::do_accept(ConstVisitor& v) const {
  return v.do_visit(*this);
}
bool TypeConstrainedOpenData::do_accept(Visitor& v) {
  Visitor::Nested level(v);
  return level && v.do_visit(*this);
}
bool TypeConstrainedOpenData::do_accept(ConstVisitor& v) const {
  return v.do_visit(static_cast<const OpenData&>(*this));
}

}  // namespace ASN1
