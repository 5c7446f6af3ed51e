// The song database from anywhere: open a table, look songs up by the key
// the import uses and read every field the import reads.
#include <cstdlib>
#include <string>

#include "context/fuzz/fuzz_support.h"
#include "library/dbf.h"

using namespace kestro;
using namespace kestro::library;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto path = fuzz::PutFile("MIDI.DBF", data, size);
  auto table = DbfTable::Open(path);
  if (!table) return 0;
  static const char* const kFields[] = {"CODICE", "TITOLO", "AUTORE", "INTERPRETE", "EDITORE", "GENERE"};
  for (const char* key : {"00001.MID", "", "X"}) {
    if (!table->FindRecord(key, "CODICE")) continue;
    for (const char* f : kFields) {
      std::string v;
      if (table->GetField(f, 31, &v) && v.size() > 31) std::abort();
    }
  }
  // Every record once, through the first field's own values.
  std::string v;
  for (size_t i = 0; i < table->RecordCount() && i < 64; ++i) (void)table->FindRecord(std::to_string(i), "CODICE");
  return 0;
}
