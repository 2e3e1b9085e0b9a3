// Sizes and offsets of the parameter records that the international-algorithms
// provider (CSPI) and cgintl.so both read: curve entries, domain-parameter
// records and RSA profiles.
#ifndef QVK_CGAPI_CSPIRECORDS_H
#define QVK_CGAPI_CSPIRECORDS_H

#include <cstdint>

enum : std::uint32_t {
    CSPI_CURVE_COUNT = 11,
    CSPI_RSA_PROFILE_COUNT = 4,
    CSPI_DOMAIN_SET_COUNT = 3,
    CSPI_CURVE_ENTRY_BYTES = 540,
    CSPI_DOMAIN_RECORD_BYTES = 1208,
    CSPI_PROFILE_RECORD_BYTES = 8,
    CSPI_TEXT_BYTES = 128,  // name and OID buffers, NUL included
    // Offsets in a curve entry.
    CSPI_CURVE_FIELD_BITS = 0,
    CSPI_CURVE_TYPE = 2,
    CSPI_CURVE_P = 4,
    CSPI_CURVE_A = 80,
    CSPI_CURVE_B = 156,
    CSPI_CURVE_SEED = 232,
    CSPI_CURVE_G = 308,
    CSPI_CURVE_N = 460,
    CSPI_CURVE_HASH_BITS = 536,
    CSPI_CURVE_NUMBER_BYTES = 76,
    CSPI_CURVE_POINT_BYTES = 152,
    // Offsets in a domain-parameter record.
    CSPI_DOMAIN_MODULUS_BITS = 0,
    CSPI_DOMAIN_SUBGROUP_BITS = 4,
    CSPI_DOMAIN_P = 8,
    CSPI_DOMAIN_Q = 408,
    CSPI_DOMAIN_G = 808,
    CSPI_DOMAIN_NUMBER_BYTES = 400
};

#endif
