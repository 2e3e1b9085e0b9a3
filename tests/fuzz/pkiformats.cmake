# The PKI formats facade's parsers of outside data: key-parts records, holder
# records and the flat records.
foreach(target keyparts holder records)
  qvk_fuzz_target(pkiformats_${target}_fuzz SOURCES pkiformats_${target}_fuzz.cpp LIBS qvk_pkiformats)
endforeach()
