// Internal view of the built-in curve table, shared by the lookups and the
// parameter files.
#ifndef QVK_SUPPORT_CSPSTANDARDTABLES_H
#define QVK_SUPPORT_CSPSTANDARDTABLES_H

#include "crypto/GOST28147.h"
#include "support/DSTU4145Records.h"

struct CSPStandardCurve {
    const char* oid;   // dotted text
    const char* name;  // Windows-1251
    DSTU4145FieldRecord field;
    DSTU4145PointRecord point;
};

const CSPStandardCurve* CSPStandardCurveAt(int polynomialBasis, unsigned index);
const GOST28147PackedSBox& CSPDefaultSBox();

#endif
