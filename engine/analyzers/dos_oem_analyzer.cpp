// DOS OEM text through its fixed byte table.
#include "engine/analyzers/dos_oem_analyzer.h"

#include "engine/analyzers/charset_tables.h"

void CDosOemAnalyzer::convertRawBuffer(char* buffer, uint32_t length) {
  kolvo::convertThroughTable(kolvo::dosOemTable(), buffer, length);
}
