// Reading values back from ASN.1 value notation, as the log printer writes
// them.  Nothing on the message road reads this text; it serves tools and
// tests that replay logged values.
#ifndef VELMARD_ASN1_AVN_DECODER_H
#define VELMARD_ASN1_AVN_DECODER_H

#include <istream>
#include <string>
#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

class AVNDecoder : public Visitor {
 public:
  explicit AVNDecoder(std::istream& is) : strm(&is) {}

  bool do_visit(Null& value) override;
  bool do_visit(BOOLEAN& value) override;
  bool do_visit(INTEGER& value) override;
  bool do_visit(IntegerWithNamedNumber& value) override;
  bool do_visit(ENUMERATED& value) override;
  bool do_visit(OBJECT_IDENTIFIER& value) override;
  bool do_visit(OCTET_STRING& value) override;
  bool do_visit(BIT_STRING& value) override;
  bool do_visit(AbstractString& value) override;
  bool do_visit(BMPString& value) override;
  bool do_visit(CHOICE& value) override;
  bool do_visit(SEQUENCE_OF_Base& value) override;
  bool do_visit(OpenData& value) override;
  bool do_revisit(OpenData& value) override;
  bool do_visit(TypeConstrainedOpenData& value) override;
  bool do_visit(GeneralizedTime& value) override;

  int preVisitExtensionRoots(SEQUENCE& seq) override;
  int visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) override;
  int preVisitExtensions(SEQUENCE&) override { return CONTINUE; }
  int visitKnownExtension(SEQUENCE& seq, int index, int optionalId) override;
  bool visitUnknownExtensions(SEQUENCE& seq) override;

 private:
  int visitField(SEQUENCE& seq, int index, int optionalId, bool optional);
  bool readKeyword(std::string& word);
  bool expect(char c);

  std::istream* strm;
  // Per SEQUENCE being read: the component name the text offers next.
  std::vector<std::string> offered;
};

// An identifier (letters, digits, hyphens) after blanks, split from whatever
// punctuation follows it; a lone punctuation character when no identifier
// starts there.
bool get_name(std::istream& is, std::string& name);
// A double-quoted string; there is no escape for a quote inside it.
bool get_string(std::istream& is, std::string& str);
// 'digits'B or 'digits'H; count is the number of bits the digits give.
bool get_value_from(std::istream& is, std::vector<char>& octets, unsigned& count);
bool get_from_string(std::string& digits, std::vector<char>& octets, unsigned& count, int base);
// Position of name in a table of count names.
bool get_id(const char* const* names, unsigned count, const std::string& name, int& index);

// Value of the enumerator called name ("name" or "name=value" entries).
bool enumeratorValue(const EnumeratedInfo& info, const std::string& name, int& value);

}  // namespace ASN1

#endif  // VELMARD_ASN1_AVN_DECODER_H
