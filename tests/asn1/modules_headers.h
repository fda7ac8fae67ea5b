// The generated message modules, for the module tests.
#ifndef VELMARD_TESTS_ASN1_MODULES_HEADERS_H
#define VELMARD_TESTS_ASN1_MODULES_HEADERS_H

#include "asn1/modules/ACP.h"
#include "asn1/modules/BASE.h"
#include "asn1/modules/HSP.h"
#include "asn1/modules/LGCP.h"
#include "asn1/modules/MON.h"
#include "asn1/modules/TERM.h"
#include "asn1/modules/VORNGW.h"

#endif  // VELMARD_TESTS_ASN1_MODULES_HEADERS_H
