# The PKI formats facade's parsers of outside data: key-parts records, holder
# records, the flat records and the identifier and file-name texts.
foreach(target keyparts holder records identifiers)
  qvk_fuzz_target(pkiformats_${target}_fuzz SOURCES pkiformats_${target}_fuzz.cpp LIBS qvk_pkiformats)
endforeach()
