// Mac Roman text through its fixed byte table.
#include "engine/analyzers/mac_roman_analyzer.h"

#include "engine/analyzers/charset_tables.h"

void CMacRomanAnalyzer::convertRawBuffer(char* buffer, uint32_t length) {
  kolvo::convertThroughTable(kolvo::macRomanTable(), buffer, length);
}
