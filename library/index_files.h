// The player's index files, written in the root of its card: songs by title
// (MINDEX0.DAT), songs grouped by author (MINDEX2.DAT), the authors
// (MINDEX4.DAT) and two first-letter tables (MALPHA0.DAT, MALPHA2.DAT).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "library/song_record.h"
#include "platform/fileutil.h"

namespace kestro::library {

inline constexpr size_t kIndexRecordSize = 32;
inline constexpr uint16_t kAuthorHeaderMark = 0x8000;
inline constexpr size_t kLetterTableSize = 52;

// One song of the title index followed by its author header: either half is
// a 32-byte record of the files as it stands.
struct IndexEntry {
  std::array<uint8_t, 64> bytes{};
};

struct IndexFiles {
  Bytes mindex0;
  Bytes mindex2;
  Bytes mindex4;
  Bytes malpha0;
  Bytes malpha2;
};

// The five files for a card list. Upper-cases each record's fileName, as the
// regeneration always did (the MP3 flag is read from it).
IndexFiles BuildIndexFiles(SongList& list);

// The card list from MINDEX0.DAT and MINDEX2.DAT: songs in title order with
// their authors; nothing when MINDEX0.DAT holds no whole record.
std::optional<SongList> ParseIndexFiles(const Bytes& mindex0, const Bytes& mindex2);

// The names on the card (8.3 directory form) and on a PC drive.
struct IndexFileName {
  const char* name;   // "MINDEX0.DAT"
  const char* name11; // "MINDEX0 DAT"
};
inline constexpr IndexFileName kMindex0{"MINDEX0.DAT", "MINDEX0 DAT"};
inline constexpr IndexFileName kMindex2{"MINDEX2.DAT", "MINDEX2 DAT"};
inline constexpr IndexFileName kMindex4{"MINDEX4.DAT", "MINDEX4 DAT"};
inline constexpr IndexFileName kMalpha0{"MALPHA0.DAT", "MALPHA0 DAT"};
inline constexpr IndexFileName kMalpha2{"MALPHA2.DAT", "MALPHA2 DAT"};
inline constexpr IndexFileName kMsetup{"MSETUP.DAT", "MSETUP  DAT"};
inline constexpr IndexFileName kFirmwareCopy{"ZUMBLA2.MH_", "ZUMBLA2 MH_"};

}  // namespace kestro::library
