// The element-table file reader on arbitrary bytes.
#include "FuzzTarget.h"

#include "documents/ElementTableFile.h"

std::vector<std::string> FuzzSeeds() {
  EditElementsRec table;
  FillElementTableFromPrefs(gFactoryPrefs, table);
  table.notes = "Radii in Angstrom.\n\nColours chosen here.";
  return {ElementTableFileText(table, "1.0"), "NOTE\r\ntext\r\nELMT\r\nFe 1.2 0.5\r\nOH\r\n"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  EditElementsRec table;
  ReadElementTableFile(std::span(data, size), table);
  if (table.entries.size() > static_cast<size_t>(kMaxElementData))
    __builtin_trap();
  for (const EditElementEntry &e : table.entries)
    if ((e.element >> 8) < 'A' || (e.element >> 8) > 'Z')
      __builtin_trap();
  return 0;
}
