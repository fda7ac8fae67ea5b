// ASN.1 value model: every value is a tree of objects that carries a pointer
// to the constant information record of its type.  The generic classes read
// constraints, names and sub-types from that record, so a generated type is
// little more than a record and typed accessors.
#ifndef VELMARD_ASN1_ASN1_H
#define VELMARD_ASN1_ASN1_H

#include <cstddef>
#include <cstdint>
#include <ios>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/cast.hpp>

#include "core/recycle.h"

namespace ASN1 {

class AbstractData;
class Visitor;
class ConstVisitor;

typedef AbstractData* (*CreateFun)(const void* info);

enum ConstraintType {
  Unconstrained = 0,
  PartiallyConstrained = 1,  // lower bound only
  FixedConstraint = 2,
  ExtendableConstraint = 3
};

enum TagClass {
  UniversalTagClass = 0,
  ApplicationTagClass = 1,
  ContextSpecificTagClass = 2,
  PrivateTagClass = 3
};

constexpr unsigned makeTag(unsigned tagClass, unsigned number) {
  return tagClass << 22 | number;
}
constexpr unsigned contextTag(unsigned number) {
  return makeTag(ContextSpecificTagClass, number);
}

// Limits that only the PER decoder enforces; building values has no limit.
extern unsigned MaximumArraySize;
extern unsigned MaximumStringSize;

// Bits of a field that holds v different values (v = 0 stands for 2^32).
unsigned CountBits(unsigned v);
int lexicographic_compare_bytes(const char* b1, const char* e1, const char* b2, const char* e2);

namespace detail {
// Per-class allocation hook of the value classes. Every message decoded or
// built makes and drops a handful of value objects, so their blocks are
// recycled (see core/recycle.h).
template <class T>
class Allocator {
 public:
  static void* operator new(std::size_t n) { return Recycle::take(n); }
  static void operator delete(void* p, std::size_t n) noexcept { Recycle::give(p, n); }
};

// The same blocks for the containers inside a value.
template <class T>
using RecyclingAllocator = Recycle::Allocator<T>;
}  // namespace detail

// ---------------------------------------------------------------------------
// Type-information records.  Every record begins with a TypeInfo, and every
// extended record has the record it extends as its first member, so a record
// pointer can be read at any of its levels.

struct TypeInfo {
  CreateFun create;
  unsigned tag;
};

struct ConstrainedInfo {
  TypeInfo type;
  int constraintType;
  int lowerLimit;
  unsigned upperLimit;
};

struct SequenceOfInfo {
  ConstrainedInfo size;
  const void* elementInfo;
};

struct StringInfo {
  ConstrainedInfo size;
  const char* characterSet;  // permitted characters in code order
  unsigned characterSetSize;
  unsigned canonicalSetBits;  // bits needed to index the table
  unsigned charSetUnalignedBits;
  unsigned charSetAlignedBits;
};

struct BMPStringInfo {
  ConstrainedInfo size;
  unsigned firstChar;
  unsigned lastChar;
  unsigned charSetUnalignedBits;
  unsigned charSetAlignedBits;
};

struct EnumeratedInfo {
  TypeInfo type;
  bool extendable;
  int maxEnumValue;          // highest root value
  const char* const* names;  // declaration order, "name" or "name=value"
  unsigned nameCount;
};

struct ChoiceInfo {
  TypeInfo type;
  bool extendable;
  const void* const* selectionInfos;  // root alternatives, then extensions
  unsigned numChoices;                // root alternatives
  unsigned totalChoices;
  const unsigned* tags;  // null: automatic tags
  const char* const* names;
};

struct SequenceInfo {
  TypeInfo type;
  bool extendable;
  const void* const* fieldInfos;  // root fields, then known extensions
  const int* ids;                 // -1 mandatory, else optional-bit number
  unsigned numFields;             // root fields
  unsigned knownExtensions;
  unsigned numOptional;
  const unsigned char* nonOptionalExtensions;  // initial extension map or null
  const unsigned* tags;                        // null: automatic; &SEQUENCE::defaultTag: own tags
  const char* const* names;
};

struct OpenTypeInfo {
  TypeInfo type;
  const void* typeInfo;  // constraining type's record
};

struct NamedNumber {
  int value;
  const char* name;
};

struct IntegerWithNamedNumberInfo {
  ConstrainedInfo constraint;
  const NamedNumber* names;  // sorted by value
  unsigned count;
};

inline const TypeInfo* typeInfo(const void* info) {
  return static_cast<const TypeInfo*>(info);
}

// ---------------------------------------------------------------------------

class AbstractData {
 public:
  virtual ~AbstractData() {}

  const void* info() const { return info_; }
  unsigned getTag() const { return typeInfo(info_)->tag; }

  // A new value of the record's kind, on the record.
  static AbstractData* create(const void* info) {
    CreateFun f = typeInfo(info)->create;
    return f ? f(info) : nullptr;
  }

  AbstractData* clone() const { return do_clone(); }
  int compare(const AbstractData& other) const { return do_compare(other); }
  bool accept(Visitor& v) { return do_accept(v); }
  bool accept(ConstVisitor& v) const { return do_accept(v); }

  bool isValid() const;
  bool isStrictlyValid() const;

  std::ios_base::iostate print_on(std::ostream& os) const;
  std::string asValueNotation() const;
  // Reading value notation (defined with the value-notation reader).
  bool setFromValueNotation(const std::string& text);
  std::ios_base::iostate get_from(std::istream& is);

  virtual int do_compare(const AbstractData& other) const = 0;
  virtual AbstractData* do_clone() const = 0;
  virtual bool do_accept(Visitor& v) = 0;
  virtual bool do_accept(ConstVisitor& v) const = 0;

 protected:
  explicit AbstractData(const void* info) : info_(info) {}
  AbstractData(const AbstractData&) = default;
  AbstractData& operator=(const AbstractData&) = default;

  const void* info_;
};

inline bool operator==(const AbstractData& a, const AbstractData& b) {
  return a.compare(b) == 0;
}
inline bool operator!=(const AbstractData& a, const AbstractData& b) {
  return a.compare(b) != 0;
}
inline bool operator<(const AbstractData& a, const AbstractData& b) {
  return a.compare(b) < 0;
}

std::ostream& operator<<(std::ostream& os, const AbstractData& value);
std::istream& operator>>(std::istream& is, AbstractData& value);

class ConstrainedObject : public AbstractData {
 public:
  const ConstrainedInfo* info() const { return static_cast<const ConstrainedInfo*>(info_); }
  int getConstraintType() const { return info()->constraintType; }
  int getLowerLimit() const { return info()->lowerLimit; }
  unsigned getUpperLimit() const { return info()->upperLimit; }
  bool extendable() const { return getConstraintType() == ExtendableConstraint; }

 protected:
  explicit ConstrainedObject(const void* info) : AbstractData(info) {}
};

// Size n against a size constraint: signed when the lower bound is negative.
bool sizeBelowLower(const ConstrainedInfo& c, unsigned n);
bool sizeAboveUpper(const ConstrainedInfo& c, unsigned n);

// ---------------------------------------------------------------------------

class Null : public AbstractData, public detail::Allocator<Null> {
 public:
  explicit Null(const void* info = &theInfo) : AbstractData(info) {}
  static const TypeInfo theInfo;
  static AbstractData* create(const void* info) { return new Null(info); }

  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override { return new Null(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

class BOOLEAN : public AbstractData, public detail::Allocator<BOOLEAN> {
 public:
  explicit BOOLEAN(const void* info = &theInfo) : AbstractData(info), value(false) {}
  BOOLEAN(bool v, const void* info = &theInfo) : AbstractData(info), value(v) {}
  BOOLEAN& operator=(bool v) {
    value = v;
    return *this;
  }
  BOOLEAN& operator=(const BOOLEAN& o) {
    value = o.value;
    return *this;
  }
  BOOLEAN(const BOOLEAN&) = default;
  operator bool() const { return value; }
  bool getValue() const { return value; }
  void setValue(bool v) { value = v; }

  static const TypeInfo theInfo;
  static AbstractData* create(const void* info) { return new BOOLEAN(info); }

  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override { return new BOOLEAN(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 private:
  bool value;
};

class INTEGER : public ConstrainedObject, public detail::Allocator<INTEGER> {
 public:
  explicit INTEGER(const void* info = &theInfo) : ConstrainedObject(info), value(0) {}
  INTEGER(int v, const void* info = &theInfo) : ConstrainedObject(info), value(v) {}
  INTEGER(const INTEGER&) = default;
  INTEGER& operator=(const INTEGER& o) {
    value = o.value;
    return *this;
  }
  INTEGER& operator=(int v) {
    value = v;
    return *this;
  }

  int getValue() const { return value; }
  void setValue(int v) { value = v; }
  bool isStrictValid() const;
  // The value as the constraint sees it: unsigned when the lower bound is
  // not negative, signed otherwise.
  std::int64_t constraintValue() const;
  // The upper bound read the same way; a lower bound alone has none.
  std::int64_t constraintUpper() const;

  static const ConstrainedInfo theInfo;
  static AbstractData* create(const void* info) { return new INTEGER(info); }

  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override { return new INTEGER(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 protected:
  int value;
};

class IntegerWithNamedNumber : public INTEGER {
 public:
  explicit IntegerWithNamedNumber(const void* info) : INTEGER(info) {}
  IntegerWithNamedNumber(int v, const void* info) : INTEGER(v, info) {}
  const IntegerWithNamedNumberInfo* namedInfo() const {
    return static_cast<const IntegerWithNamedNumberInfo*>(info_);
  }
  bool getName(std::string& name) const;
  bool setFromName(const std::string& name);

  static AbstractData* create(const void* info) { return new IntegerWithNamedNumber(info); }
  AbstractData* do_clone() const override { return new IntegerWithNamedNumber(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

template <ConstraintType type, int lower, unsigned upper>
class Constrained_INTEGER : public INTEGER {
 public:
  Constrained_INTEGER() : INTEGER(&theInfo) {}
  explicit Constrained_INTEGER(const void* info) : INTEGER(info) {}
  Constrained_INTEGER(const Constrained_INTEGER&) = default;
  Constrained_INTEGER& operator=(const Constrained_INTEGER& o) {
    value = o.value;
    return *this;
  }
  Constrained_INTEGER& operator=(unsigned v) {
    value = static_cast<int>(v);
    return *this;
  }
  int getValue() const { return value; }

  static const ConstrainedInfo theInfo;
  static AbstractData* create(const void* info) { return new Constrained_INTEGER(info); }
  AbstractData* do_clone() const override { return new Constrained_INTEGER(*this); }
};

template <ConstraintType type, int lower, unsigned upper>
const ConstrainedInfo Constrained_INTEGER<type, lower, upper>::theInfo = {
    {&Constrained_INTEGER<type, lower, upper>::create, 2}, type, lower, upper};

class ENUMERATED : public AbstractData, public detail::Allocator<ENUMERATED> {
 public:
  explicit ENUMERATED(const void* info) : AbstractData(info), value(0) {}
  ENUMERATED(const ENUMERATED&) = default;
  ENUMERATED& operator=(const ENUMERATED& o) {
    value = o.value;
    return *this;
  }
  const EnumeratedInfo* info() const { return static_cast<const EnumeratedInfo*>(info_); }
  int asInt() const { return value; }
  void setFromInt(int v) { value = v; }
  int getMaximum() const { return info()->maxEnumValue; }
  bool extendable() const { return info()->extendable; }
  bool isStrictlyValid() const { return value <= getMaximum(); }
  const char* getName() const;
  bool setFromName(const std::string& name);

  static AbstractData* create(const void* info) { return new ENUMERATED(info); }

  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override { return new ENUMERATED(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 protected:
  int value;
};

class OBJECT_IDENTIFIER : public AbstractData, public detail::Allocator<OBJECT_IDENTIFIER> {
 public:
  explicit OBJECT_IDENTIFIER(const void* info = &theInfo) : AbstractData(info) {}
  OBJECT_IDENTIFIER(std::initializer_list<unsigned> arcs, const void* info = &theInfo)
      : AbstractData(info), value(arcs) {}
  OBJECT_IDENTIFIER(const OBJECT_IDENTIFIER&) = default;
  OBJECT_IDENTIFIER& operator=(const OBJECT_IDENTIFIER& o) {
    value = o.value;
    return *this;
  }
  unsigned levels() const { return static_cast<unsigned>(value.size()); }
  unsigned operator[](unsigned i) const { return value[i]; }
  std::vector<std::uint32_t>& arcs() { return value; }
  const std::vector<std::uint32_t>& arcs() const { return value; }

  void encodeCommon(std::vector<char>& eObjId) const;
  bool decodeCommon(const char* data, unsigned dataLen);

  static const TypeInfo theInfo;
  static AbstractData* create(const void* info) { return new OBJECT_IDENTIFIER(info); }

  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override { return new OBJECT_IDENTIFIER(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 private:
  std::vector<std::uint32_t> value;
};

class BIT_STRING : public ConstrainedObject, public detail::Allocator<BIT_STRING> {
 public:
  explicit BIT_STRING(const void* info = &theInfo) : ConstrainedObject(info), totalBits(0) {}
  BIT_STRING(const BIT_STRING&) = default;
  BIT_STRING& operator=(const BIT_STRING& o) {
    totalBits = o.totalBits;
    bitData = o.bitData;
    return *this;
  }
  unsigned size() const { return totalBits; }
  void resize(unsigned nBits);
  bool operator[](unsigned bit) const;
  void set(unsigned bit);
  void clear(unsigned bit);
  const std::vector<char>& getData() const { return bitData; }
  std::vector<char>& getData() { return bitData; }

  static const ConstrainedInfo theInfo;
  static AbstractData* create(const void* info) { return new BIT_STRING(info); }

  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override { return new BIT_STRING(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 private:
  std::uint32_t totalBits;
  std::vector<char> bitData;
};

class OCTET_STRING : public ConstrainedObject,
                     public std::vector<char>,
                     public detail::Allocator<OCTET_STRING> {
 public:
  typedef std::vector<char> ContainerType;
  explicit OCTET_STRING(const void* info = &theInfo) : ConstrainedObject(info) {}
  OCTET_STRING(size_type n, char v, const void* info = &theInfo)
      : ConstrainedObject(info), ContainerType(n, v) {}
  OCTET_STRING(const ContainerType& v, const void* info = &theInfo)
      : ConstrainedObject(info), ContainerType(v) {}
  OCTET_STRING(const OCTET_STRING&) = default;
  OCTET_STRING& operator=(const OCTET_STRING& o) {
    ContainerType::operator=(o);
    return *this;
  }
  OCTET_STRING& operator=(const ContainerType& o) {
    ContainerType::operator=(o);
    return *this;
  }
  OCTET_STRING& operator=(const std::string& s) {
    assign(s.begin(), s.end());
    return *this;
  }
  operator std::string() const { return std::string(begin(), end()); }

  static const ConstrainedInfo theInfo;
  static AbstractData* create(const void* info) { return new OCTET_STRING(info); }

  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override { return new OCTET_STRING(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

class AbstractString : public ConstrainedObject,
                       public std::string,
                       public detail::Allocator<AbstractString> {
 public:
  explicit AbstractString(const void* info) : ConstrainedObject(info) {}
  AbstractString(const void* info, const std::string& s)
      : ConstrainedObject(info), std::string(s) {}
  AbstractString(const void* info, const char* s) : ConstrainedObject(info), std::string(s) {}
  AbstractString(const AbstractString&) = default;
  AbstractString& operator=(const AbstractString& o) {
    std::string::operator=(o);
    return *this;
  }
  AbstractString& operator=(const std::string& s) {
    std::string::operator=(s);
    return *this;
  }
  AbstractString& operator=(const char* s) {
    std::string::operator=(s);
    return *this;
  }
  using AbstractData::compare;
  const StringInfo* info() const { return static_cast<const StringInfo*>(info_); }
  // Index of c in the permitted table, or -1.
  int indexOf(char c) const;
  // Position of the first character outside the table, or the length.
  size_type first_illegal_at() const;
  bool isValid() const;
  bool isStrictlyValid() const;

  static AbstractData* create(const void* info) { return new AbstractString(info); }

  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override { return new AbstractString(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

extern const char NumericStringSet[];
extern const char PrintableStringSet[];

namespace detail {
template <class Codes>
struct CodeTable;
template <std::size_t... Code>
struct CodeTable<std::index_sequence<Code...>> {
  static constexpr char table[sizeof...(Code)] = {static_cast<char>(Code)...};
};
}  // namespace detail

// Every octet in code order; the IA5 and visible sets are runs of it.
constexpr const char* GeneralStringSet = detail::CodeTable<std::make_index_sequence<256>>::table;
constexpr const char* IA5StringSet = GeneralStringSet;
constexpr const char* VisibleStringSet = GeneralStringSet + 0x20;

#define VELMARD_ASN1_STRING_CLASS(Name)                                                  \
  class Name : public AbstractString {                                                   \
   public:                                                                               \
    explicit Name(const void* info = &theInfo) : AbstractString(info) {}                 \
    Name(const std::string& s, const void* info = &theInfo) : AbstractString(info, s) {} \
    Name(const char* s, const void* info = &theInfo) : AbstractString(info, s) {}        \
    Name(const Name&) = default;                                                         \
    Name& operator=(const Name& o) {                                                     \
      AbstractString::operator=(o);                                                      \
      return *this;                                                                      \
    }                                                                                    \
    Name& operator=(const std::string& s) {                                              \
      AbstractString::operator=(s);                                                      \
      return *this;                                                                      \
    }                                                                                    \
    Name& operator=(const char* s) {                                                     \
      AbstractString::operator=(s);                                                      \
      return *this;                                                                      \
    }                                                                                    \
    static const StringInfo theInfo;                                                     \
    static AbstractData* create(const void* info) { return new Name(info); }             \
    AbstractData* do_clone() const override { return new Name(*this); }                  \
  };

VELMARD_ASN1_STRING_CLASS(NumericString)
VELMARD_ASN1_STRING_CLASS(PrintableString)
VELMARD_ASN1_STRING_CLASS(VisibleString)
VELMARD_ASN1_STRING_CLASS(IA5String)
VELMARD_ASN1_STRING_CLASS(GeneralString)
#undef VELMARD_ASN1_STRING_CLASS

class BMPString : public ConstrainedObject,
                  public std::wstring,
                  public detail::Allocator<BMPString> {
 public:
  BMPString() : ConstrainedObject(&theInfo) {}
  explicit BMPString(const void* info) : ConstrainedObject(info) {}
  BMPString(const std::wstring& s, const void* info = &theInfo)
      : ConstrainedObject(info), std::wstring(s) {}
  BMPString(const wchar_t* s, const void* info = &theInfo)
      : ConstrainedObject(info), std::wstring(s) {}
  BMPString(const BMPString&) = default;
  BMPString& operator=(const BMPString& o) {
    std::wstring::operator=(o);
    return *this;
  }
  BMPString& operator=(const std::wstring& s) {
    std::wstring::operator=(s);
    return *this;
  }
  using AbstractData::compare;
  const BMPStringInfo* info() const { return static_cast<const BMPStringInfo*>(info_); }
  bool legalCharacter(wchar_t c) const;
  size_type first_illegal_at() const;
  bool isValid() const;
  bool isStrictlyValid() const;

  static const BMPStringInfo theInfo;
  static AbstractData* create(const void* info) { return new BMPString(info); }

  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override { return new BMPString(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

class GeneralizedTime : public AbstractData, public detail::Allocator<GeneralizedTime> {
 public:
  explicit GeneralizedTime(const void* info = &theInfo);
  GeneralizedTime(const char* text, const void* info = &theInfo);
  GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisec,
                  int mindiff, bool utc, const void* info = &theInfo);
  GeneralizedTime(const GeneralizedTime&) = default;
  GeneralizedTime& operator=(const GeneralizedTime& o);

  // Reads the text of [text, text + length); nothing past it.
  void set(const char* text, std::size_t length);
  void set(const char* text);
  std::string get() const;
  long get_time_t() const;
  void set_time_t(long t);
  void swap(GeneralizedTime& o);
  bool isStrictlyValid() const;

  int getYear() const { return year; }
  int getMonth() const { return month; }
  int getDay() const { return day; }
  int getHour() const { return hour; }
  int getMinute() const { return minute; }
  int getSecond() const { return second; }
  int getMillisec() const { return millisec; }
  int getMindiff() const { return mindiff; }
  bool getUTC() const { return utc; }

  static const TypeInfo theInfo;
  static AbstractData* create(const void* info) { return new GeneralizedTime(info); }

  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override { return new GeneralizedTime(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 private:
  int year, month, day, hour, minute, second, millisec, mindiff;
  bool utc;
};

class CHOICE : public AbstractData, public detail::Allocator<CHOICE> {
 public:
  enum { unselected_ = -1, unknownSelection_ = -2 };

  explicit CHOICE(const void* info, int id = -1, AbstractData* value = nullptr);
  CHOICE(const CHOICE& other);
  CHOICE& operator=(const CHOICE& other);
  ~CHOICE() override;

  const ChoiceInfo* info() const { return static_cast<const ChoiceInfo*>(info_); }
  int currentSelection() const { return choiceID; }
  bool isSelected() const { return choiceID >= 0 && choice != nullptr; }
  AbstractData* getSelection() { return choice.get(); }
  const AbstractData* getSelection() const { return choice.get(); }
  AbstractData* setSelection(int id, AbstractData* value);
  bool createSelection();
  // Selects the alternative whose tag is (classBits << 16 | number) (BER).
  bool setID(unsigned number, unsigned classBits);
  // Select alternative id (creating it afresh when it is not the current one).
  bool select(int id);
  const char* getSelectionName() const;
  unsigned getNumChoices() const { return info()->numChoices; }
  unsigned getTotalChoices() const { return info()->totalChoices; }
  bool extendable() const { return info()->extendable; }
  void swap(CHOICE& other);
  bool isValid() const;
  bool isStrictlyValid() const;

  static AbstractData* create(const void* info) { return new CHOICE(info); }

  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override { return new CHOICE(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 protected:
  std::unique_ptr<AbstractData> choice;
  int choiceID;
};

class SEQUENCE : public AbstractData, public detail::Allocator<SEQUENCE> {
 public:
  class BitMap {
   public:
    BitMap() : totalBits(0) {}
    unsigned size() const { return totalBits; }
    void resize(unsigned nBits);
    bool operator[](unsigned bit) const {
      if (bit >= totalBits) return false;
      return (bitData[bit / 8] >> (7 - bit % 8)) & 1;
    }
    void set(unsigned bit);
    void clear(unsigned bit);
    bool any() const {
      for (unsigned char b : bitData)
        if (b) return true;
      return false;
    }
    void swap(BitMap& o);
    typedef std::vector<unsigned char, detail::RecyclingAllocator<unsigned char>> Octets;
    Octets& data() { return bitData; }
    const Octets& data() const { return bitData; }

   private:
    std::uint32_t totalBits;
    Octets bitData;
  };

  typedef std::vector<AbstractData*, detail::RecyclingAllocator<AbstractData*>> FieldVector;

  explicit SEQUENCE(const void* info);
  SEQUENCE(const SEQUENCE& other);
  SEQUENCE& operator=(const SEQUENCE& other);
  ~SEQUENCE() override;

  const SequenceInfo* info() const { return static_cast<const SequenceInfo*>(info_); }
  bool extendable() const { return info()->extendable; }
  unsigned knownFieldsNumber() const { return static_cast<unsigned>(fields.size()); }
  unsigned numRootFields() const { return info()->numFields; }
  int getFieldId(unsigned index) const;
  const char* getFieldName(unsigned index) const { return info()->names[index]; }

  AbstractData* getField(unsigned index) { return fields[index]; }
  const AbstractData* getField(unsigned index) const { return fields[index]; }
  // The field object, created from its record when it does not exist yet.
  AbstractData* createField(unsigned index);

  bool hasOptionalField(unsigned id) const {
    if (id < optionalFields.size()) return optionalFields[id];
    return extensionMap_[id - optionalFields.size()];
  }
  void includeOptionalField(unsigned id, unsigned index);
  void removeOptionalField(unsigned id);

  BitMap& optionalMap() { return optionalFields; }
  const BitMap& optionalMap() const { return optionalFields; }
  BitMap& extensionMap() { return extensionMap_; }
  const BitMap& extensionMap() const { return extensionMap_; }

  // Octets of extension additions this build does not know, kept in the
  // order of their presence bits so that a decoded value re-encodes as
  // received.
  std::vector<std::vector<char>>& unknownExtensions() { return unknownExtensions_; }
  const std::vector<std::vector<char>>& unknownExtensions() const { return unknownExtensions_; }

  void swap(SEQUENCE& other);

  static const unsigned defaultTag;
  static AbstractData* create(const void* info) { return new SEQUENCE(info); }

  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override { return new SEQUENCE(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 protected:
  FieldVector fields;
  BitMap optionalFields;
  BitMap extensionMap_;
  std::vector<std::vector<char>> unknownExtensions_;

 private:
  void copyFrom(const SEQUENCE& other);
  void deleteFields();
};

class SEQUENCE_OF_Base : public ConstrainedObject, public detail::Allocator<SEQUENCE_OF_Base> {
 public:
  typedef std::vector<AbstractData*, detail::RecyclingAllocator<AbstractData*>> Container;

  explicit SEQUENCE_OF_Base(const void* info) : ConstrainedObject(info) {}
  SEQUENCE_OF_Base(const SEQUENCE_OF_Base& other);
  SEQUENCE_OF_Base& operator=(const SEQUENCE_OF_Base& other);
  ~SEQUENCE_OF_Base() override;

  const SequenceOfInfo* info() const { return static_cast<const SequenceOfInfo*>(info_); }
  const void* elementInfo() const { return info()->elementInfo; }
  unsigned size() const { return static_cast<unsigned>(container.size()); }
  bool empty() const { return container.empty(); }
  void clear();
  void resize(unsigned n);
  void insert(Container::iterator position, unsigned n, const AbstractData& x);
  void insert(Container::iterator position, Container::const_iterator first,
              Container::const_iterator last);
  void erase(Container::iterator first, Container::iterator last);
  void push_back_clone(const AbstractData& x) { container.push_back(x.clone()); }
  void swap(SEQUENCE_OF_Base& other);
  bool isValid() const;
  bool isStrictlyValid() const;

  Container& elements() { return container; }
  const Container& elements() const { return container; }
  AbstractData& elementAt(unsigned i) { return *container[i]; }
  const AbstractData& elementAt(unsigned i) const { return *container[i]; }

  static AbstractData* create(const void* info) { return new SEQUENCE_OF_Base(info); }

  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override { return new SEQUENCE_OF_Base(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 protected:
  Container container;
};

struct EmptyConstraint {
  static constexpr int constraintType = Unconstrained;
  static constexpr int lowerLimit = 0;
  static constexpr unsigned upperLimit = 0xFFFFFFFFu;
};

template <ConstraintType type, int lower, unsigned upper>
struct SizeConstraint {
  static constexpr int constraintType = type;
  static constexpr int lowerLimit = lower;
  static constexpr unsigned upperLimit = upper;
};

// Typed view of a list; the elements are objects of T made from T's record.
template <class T, class Constraint = EmptyConstraint, unsigned Tag = 16>
class SEQUENCE_OF : public SEQUENCE_OF_Base {
  template <class P, class Ref, class Base>
  class Iter {
   public:
    Iter() : p() {}
    explicit Iter(Base b) : p(b) {}
    template <class P2, class R2, class B2>
    Iter(const Iter<P2, R2, B2>& other) : p(other.base()) {}
    Ref operator*() const { return *boost::polymorphic_downcast<P*>(*p); }
    P* operator->() const { return boost::polymorphic_downcast<P*>(*p); }
    Iter& operator++() {
      ++p;
      return *this;
    }
    Iter operator++(int) {
      Iter r(*this);
      ++p;
      return r;
    }
    bool operator==(const Iter& o) const { return p == o.p; }
    bool operator!=(const Iter& o) const { return p != o.p; }
    Base base() const { return p; }

   private:
    Base p;
  };

 public:
  typedef T value_type;
  typedef Iter<T, T&, Container::iterator> iterator;
  typedef Iter<const T, const T&, Container::const_iterator> const_iterator;

  SEQUENCE_OF() : SEQUENCE_OF_Base(&theInfo) {}
  explicit SEQUENCE_OF(const void* info) : SEQUENCE_OF_Base(info) {}
  SEQUENCE_OF(const SEQUENCE_OF&) = default;
  SEQUENCE_OF& operator=(const SEQUENCE_OF& o) {
    SEQUENCE_OF_Base::operator=(o);
    return *this;
  }

  using SEQUENCE_OF_Base::erase;
  void push_back(const T& x) { push_back_clone(x); }
  iterator begin() { return iterator(container.begin()); }
  iterator end() { return iterator(container.end()); }
  const_iterator begin() const { return const_iterator(container.begin()); }
  const_iterator end() const { return const_iterator(container.end()); }
  T& operator[](unsigned i) { return *boost::polymorphic_downcast<T*>(container[i]); }
  const T& operator[](unsigned i) const {
    return *boost::polymorphic_downcast<const T*>(container[i]);
  }
  iterator erase(iterator it) {
    delete *it.base();
    return iterator(container.erase(it.base()));
  }

  static const SequenceOfInfo theInfo;
  static AbstractData* create(const void* info) { return new SEQUENCE_OF(info); }
  AbstractData* do_clone() const override { return new SEQUENCE_OF(*this); }
};

template <class T, class C, unsigned Tag>
const SequenceOfInfo SEQUENCE_OF<T, C, Tag>::theInfo = {
    {{&SEQUENCE_OF<T, C, Tag>::create, Tag},
     static_cast<ConstraintType>(C::constraintType),
     C::lowerLimit,
     C::upperLimit},
    &T::theInfo};

template <class T, class Constraint = EmptyConstraint>
using SET_OF = SEQUENCE_OF<T, Constraint, 17>;

class OpenData : public AbstractData, public detail::Allocator<OpenData> {
 public:
  explicit OpenData(const void* info = &theInfo) : AbstractData(info) {}
  OpenData(const void* info, AbstractData* data) : AbstractData(info), data(data) {}
  OpenData(const OpenData& other);
  OpenData& operator=(const OpenData& other);

  bool has_data() const { return data != nullptr; }
  bool has_buf() const { return buf != nullptr; }
  AbstractData& get_data() { return *data; }
  const AbstractData& get_data() const { return *data; }
  void grab(AbstractData* d) { data.reset(d); }
  std::vector<char>& get_buf() {
    if (!buf) buf.reset(new std::vector<char>);
    return *buf;
  }
  const std::vector<char>& get_buf() const { return *buf; }
  void swap(OpenData& other);
  bool isValid() const;
  bool isStrictlyValid() const;

  static const TypeInfo theInfo;
  static AbstractData* create(const void* info) { return new OpenData(info); }

  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override { return new OpenData(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 protected:
  std::unique_ptr<AbstractData> data;
  std::unique_ptr<std::vector<char>> buf;
};

class TypeConstrainedOpenData : public OpenData {
 public:
  explicit TypeConstrainedOpenData(const void* info);
  TypeConstrainedOpenData(const TypeConstrainedOpenData&) = default;

  static AbstractData* create(const void* info) { return new TypeConstrainedOpenData(info); }
  AbstractData* do_clone() const override { return new TypeConstrainedOpenData(*this); }
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

}  // namespace ASN1

#endif  // VELMARD_ASN1_ASN1_H
