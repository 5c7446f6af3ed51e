// Song packages (.MF4, and the older .MF3): a 512-byte header with the song's
// descriptive fields, then the song content compressed with LZHUF.
//
// The header record belongs to the caller: converting and the song folder
// fill its fields, `pack` writes it in front of the compressed content, and
// `unpack` reads a package's header into it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "context/env.h"

namespace kestro {

inline constexpr const char* kMagicMf3 = "_MF3";
inline constexpr const char* kMagicMf4 = "_MF4";

// Value of the word at offset 8 in a header that no conversion has cleared.
inline constexpr uint32_t kHeaderInitialWord = 0x12345678;
// Marks a channel table entry without a value.
inline constexpr uint8_t kNoValue = 0xFF;

struct PackageHeader {
  static constexpr size_t kSize = 512;
  static constexpr int kChannels = 16;

  // Offsets of the fields (integers little-endian; texts zero-terminated).
  struct Offset {
    static constexpr size_t kMagic = 0;            // 4
    static constexpr size_t kPackageSize = 4;      // 4
    static constexpr size_t kWord8 = 8;            // 4
    static constexpr size_t kUnpackedSize = 12;    // 4
    static constexpr size_t kByte27 = 27;          // 1
    static constexpr size_t kByte35 = 35;          // 1
    static constexpr size_t kWord36 = 36;          // 2
    static constexpr size_t kTempo = 38;           // 2
    static constexpr size_t kFileName = 42;        // 36
    static constexpr size_t kRightsNotice = 90;    // 32
    static constexpr size_t kTitle = 122;          // 32
    static constexpr size_t kEditor = 154;         // 30, and a zero byte at 184
    static constexpr size_t kMarkersFlag = 185;    // 1
    static constexpr size_t kAuthor = 186;         // 32
    static constexpr size_t kPerformer = 218;      // 32
    static constexpr size_t kGenre = 250;          // 32
    static constexpr size_t kProgramTable = 287;   // program at 287 + 9c, bank at 288 + 9c
    static constexpr size_t kMixerTable = 430;     // volume, pan, reverb, chorus at 430 + 4c
  };
  struct Width {
    static constexpr size_t kFileName = 36;
    static constexpr size_t kText = 32;
    static constexpr size_t kEditor = 30;
  };

  // The header as the program starts: magic "_MF4", the word 0x12345678 at 8,
  // 99 at 27, 3 at 35, 100 at 36, tempo 120, file name "Untitled", the rest
  // zero.
  PackageHeader() { ResetToInitial(); }
  static PackageHeader Initial() { return PackageHeader(); }

  void ResetToInitial();
  // What a MIDI conversion starts from: everything zero, magic "_MF4", every
  // channel table entry kNoValue.
  void ClearForConversion();
  // Every program, bank, volume, pan, reverb and chorus entry to kNoValue.
  void SetChannelTablesNone();

  // The raw 512 bytes, as stored in a package.
  std::array<uint8_t, kSize> bytes{};

  std::string Magic() const;  // the 4 bytes as they stand
  void SetMagic(std::string_view magic);  // cut or zero-padded to 4 bytes

  uint32_t PackageSize() const { return U32(Offset::kPackageSize); }
  void SetPackageSize(uint32_t v) { SetU32(Offset::kPackageSize, v); }
  uint32_t UnpackedSize() const { return U32(Offset::kUnpackedSize); }
  void SetUnpackedSize(uint32_t v) { SetU32(Offset::kUnpackedSize, v); }
  // The fields whose meaning for the player is not known, as they stand.
  uint32_t Word8() const { return U32(Offset::kWord8); }
  void SetWord8(uint32_t v) { SetU32(Offset::kWord8, v); }
  uint8_t Byte27() const { return bytes[Offset::kByte27]; }
  uint8_t Byte35() const { return bytes[Offset::kByte35]; }
  uint16_t Word36() const { return U16(Offset::kWord36); }

  // Beats per minute.
  uint16_t Tempo() const { return U16(Offset::kTempo); }
  void SetTempo(uint16_t bpm) { SetU16(Offset::kTempo, bpm); }

  // Texts are Latin-1 bytes; a setter keeps what fits before the field's
  // terminating zero and clears the rest of the field.
  std::string FileName() const { return Text(Offset::kFileName, Width::kFileName); }
  void SetFileName(std::string_view s) { SetText(Offset::kFileName, Width::kFileName, s); }
  std::string RightsNotice() const { return Text(Offset::kRightsNotice, Width::kText); }
  void SetRightsNotice(std::string_view s) { SetText(Offset::kRightsNotice, Width::kText, s); }
  std::string Title() const { return Text(Offset::kTitle, Width::kText); }
  void SetTitle(std::string_view s) { SetText(Offset::kTitle, Width::kText, s); }
  // Up to 30 characters; byte 184 stays zero.
  std::string Editor() const { return Text(Offset::kEditor, Width::kEditor + 1); }
  void SetEditor(std::string_view s) { SetText(Offset::kEditor, Width::kEditor + 1, s); }
  std::string Author() const { return Text(Offset::kAuthor, Width::kText); }
  void SetAuthor(std::string_view s) { SetText(Offset::kAuthor, Width::kText, s); }
  std::string Performer() const { return Text(Offset::kPerformer, Width::kText); }
  void SetPerformer(std::string_view s) { SetText(Offset::kPerformer, Width::kText, s); }
  std::string Genre() const { return Text(Offset::kGenre, Width::kText); }
  void SetGenre(std::string_view s) { SetText(Offset::kGenre, Width::kText, s); }

  // 1 when the song has marker events.
  uint8_t MarkersFlag() const { return bytes[Offset::kMarkersFlag]; }
  void SetMarkersFlag(uint8_t v) { bytes[Offset::kMarkersFlag] = v; }

  // Channel tables, channel 0 to 15; kNoValue = none.
  uint8_t Program(int channel) const { return bytes[ProgramAt(channel)]; }
  void SetProgram(int channel, uint8_t v) { bytes[ProgramAt(channel)] = v; }
  uint8_t Bank(int channel) const { return bytes[ProgramAt(channel) + 1]; }
  void SetBank(int channel, uint8_t v) { bytes[ProgramAt(channel) + 1] = v; }
  uint8_t Volume(int channel) const { return bytes[MixerAt(channel)]; }
  void SetVolume(int channel, uint8_t v) { bytes[MixerAt(channel)] = v; }
  uint8_t Pan(int channel) const { return bytes[MixerAt(channel) + 1]; }
  void SetPan(int channel, uint8_t v) { bytes[MixerAt(channel) + 1] = v; }
  uint8_t Reverb(int channel) const { return bytes[MixerAt(channel) + 2]; }
  void SetReverb(int channel, uint8_t v) { bytes[MixerAt(channel) + 2] = v; }
  uint8_t Chorus(int channel) const { return bytes[MixerAt(channel) + 3]; }
  void SetChorus(int channel, uint8_t v) { bytes[MixerAt(channel) + 3] = v; }

  bool operator==(const PackageHeader& o) const { return bytes == o.bytes; }

  // Raw access for fields without a name of their own.
  uint16_t U16(size_t off) const;
  uint32_t U32(size_t off) const;
  void SetU16(size_t off, uint16_t v);
  void SetU32(size_t off, uint32_t v);
  std::string Text(size_t off, size_t width) const;
  void SetText(size_t off, size_t width, std::string_view s);

 private:
  static size_t ProgramAt(int channel);
  static size_t MixerAt(int channel);
};

// Results of pack and unpack.
inline constexpr int kPackDone = 0;
inline constexpr int kPackFailed = 1;

// Writes `header` and the compressed `source` as the package `package`; the
// package and unpacked sizes are stored in `header`. Failures are shown to
// the user ("MSG_CANTOPEN" / "MSG_READERROR" for the source,
// "MSG_CANTCREATE" / "MSG_WRITEERROR" for the package), leave `header` as it
// was and no partly written package behind.
int pack(Env& env, PackageHeader& header, const std::filesystem::path& source,
         const std::filesystem::path& package);

// The writing half of pack, for content already in memory: no messages and
// no Env, so that it can run beside the conversion of the next song. False
// when the package could not be written (the caller tells the user with
// ReportPackageWriteError); then `header` is as it was and no partly written
// package is left.
bool WritePackage(PackageHeader& header, const std::vector<uint8_t>& content, const std::filesystem::path& package);
// The same for a package that takes the place of a song: made whole in
// memory, written beside it and renamed over it, so that a song of the same
// name stays whole until its replacement is.
bool ReplacePackage(PackageHeader& header, const std::vector<uint8_t>& content, const std::filesystem::path& package);
// The message pack shows when the package could not be written.
void ReportPackageWriteError(Env& env, const std::filesystem::path& package);

// The content of a package to be, read whole; false (and "MSG_CANTOPEN" /
// "MSG_READERROR" shown, as pack does) when it cannot be read or is larger
// than a package can describe.
bool ReadPackageSource(Env& env, const std::filesystem::path& source, std::vector<uint8_t>& content);

// As pack, after setting in `header`: file name = the source path, title =
// `name`, editor, author, performer and genre = "-", tempo 0, markers flag 0.
int pack_with_names(Env& env, PackageHeader& header, const std::filesystem::path& source,
                    const std::filesystem::path& package, std::string_view name);

// Reads the header of `package` into `header` and writes the decompressed
// content to `content`. The magic is not checked. A package that is short,
// damaged or claims more content than its body can hold is shown as a read
// error of the package; then neither `header` nor `content` is touched.
int unpack(Env& env, PackageHeader& header, const std::filesystem::path& package,
           const std::filesystem::path& content);

// The text and the initial state of the show-again check box of the next
// question.
void set_check_caption(Env& env, std::string_view text);
void set_check_state(Env& env, int state);

}  // namespace kestro
