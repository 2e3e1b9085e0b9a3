# The CSPI's text S-box reader.
qvk_fuzz_target(cspi_sbox_text_fuzz SOURCES cspi_sbox_text_fuzz.cpp LIBS qvk_csp)
