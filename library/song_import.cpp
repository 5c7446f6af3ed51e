#include "library/song_import.h"

#include <algorithm>
#include <system_error>

#include "convert/mf4_converter.h"
#include "convert/package.h"
#include "convert/work_files.h"
#include "library/song_texts.h"
#include "platform/fileutil.h"
#include "platform/latin1.h"

namespace kestro::library {

namespace fs = std::filesystem;

namespace {

std::string UpperExtension(const fs::path& p) {
  std::string name = p.filename().string();
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return {};
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return ext;
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

// The copy in the song folder is the user's to change.
void ClearReadOnly(const fs::path& p) {
  std::error_code ec;
  fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ec);
}

// Removes the conversion's intermediate files when the import of a file ends.
class WorkFiles {
 public:
  WorkFiles(const Env& env, std::string stem) : env_(env), stem_(std::move(stem)) {}
  ~WorkFiles() { workfile::RemoveAll(env_, stem_); }
  WorkFiles(const WorkFiles&) = delete;
  WorkFiles& operator=(const WorkFiles&) = delete;

 private:
  const Env& env_;
  std::string stem_;
};

ImportResult Failed(std::string reason) { return {ImportOutcome::Failed, {}, std::move(reason), std::nullopt}; }

ImportResult CopyInto(Env& env, const fs::path& source, const fs::path& dest, bool stamp) {
  // A song of the same name stays whole until its replacement is.
  const CopyResult copied = SameFile(source, dest) ? CopyResult::Done : CopyFileAtomic(source, dest);
  if (copied == CopyResult::ReadFailed) {
    ReportReadError(env, source.string());
    return Failed("cannot read " + source.string());
  }
  if (copied == CopyResult::WriteFailed) {
    ReportWriteError(env, dest.string());
    return Failed("cannot write " + dest.string());
  }
  ClearReadOnly(dest);
  if (stamp) StampSourceName(env, dest);
  return {ImportOutcome::Imported, dest, {}, std::nullopt};
}

ImportResult ImportMf3(Env& env, ConvertContext& ctx, const fs::path& source, const fs::path& dest) {
  const fs::path stream = env.InstallPath(workfile::kMf3Stream);
  const fs::path temp = env.InstallPath(workfile::kTemp);
  const fs::path content = env.InstallPath(workfile::kContent);
  if (unpack(env, ctx.header, source, stream) != kPackDone) return Failed("cannot unpack " + source.string());
  if (!CopyFileOver(stream, temp)) {
    ReportWriteError(env, temp.string());
    return Failed("cannot write " + temp.string());
  }
  ClearReadOnly(temp);
  if (!convert_mf3_content(env, ctx, temp, content)) return Failed("cannot re-wrap " + source.string());
  if (pack(env, ctx.header, content, dest) != kPackDone) return Failed("cannot pack " + dest.string());
  ClearReadOnly(dest);
  CopyHeaderTexts(env, source, dest);
  return {ImportOutcome::Imported, dest, {}, DigitWarning(env, dest)};
}

ImportResult ImportMidi(Env& env, ConvertContext& ctx, const fs::path& source, const fs::path& dest,
                        const ImportOptions& options) {
  const fs::path content = env.InstallPath(workfile::kContent);
  RemoveFile(content);
  if (import_midi_file(env, ctx, source, content, options.preprocessCatalogue) == kImportDeclined) {
    return {ImportOutcome::Declined, {}, {}, std::nullopt};
  }
  if (!ctx.outputWritten) return Failed("cannot convert " + source.string());
  std::string name = dest.filename().string();
  if (IsValidUtf8(name)) name = Utf8ToLatin1(name);
  ctx.header.SetFileName(name);
  if (pack(env, ctx.header, content, dest) != kPackDone) return Failed("cannot pack " + dest.string());
  ClearReadOnly(dest);
  // Without the song database the header keeps the conversion's texts.
  FillImportedHeader(env, dest, TextsFromConversion(ctx));
  return {ImportOutcome::Imported, dest, {}, DigitWarning(env, dest)};
}

}  // namespace

SongFileKind SongFileKindOf(const fs::path& source) {
  const std::string ext = UpperExtension(source);
  if (ext == "MF4") return SongFileKind::Mf4;
  if (ext == "MF3") return SongFileKind::Mf3;
  if (ext == "MID" || ext == "KAR") return SongFileKind::Midi;
  if (ext == "MP3") return SongFileKind::Mp3;
  return SongFileKind::Other;
}

const char* OutcomeText(ImportOutcome outcome) {
  switch (outcome) {
    case ImportOutcome::Imported: return "imported";
    case ImportOutcome::NotASong: return "skipped (not a song)";
    case ImportOutcome::Declined: return "declined";
    case ImportOutcome::Failed: return "failed";
  }
  return "failed";
}

fs::path DestinationFor(const fs::path& songFolder, const fs::path& source) {
  const std::string base = BaseNameOf(source.filename().string());
  if (base.empty()) return {};
  const char* ext = SongFileKindOf(source) == SongFileKind::Mp3 ? ".MP3" : ".MF4";
  return songFolder / (base + ext);
}

ImportedTexts TextsFromConversion(const ConvertContext& ctx) {
  ImportedTexts t;
  t.title = ctx.Title();
  t.hadTitle = ctx.HadTitle();
  t.author = ctx.Author();
  t.performer = ctx.Performer();
  t.editor = ctx.Editor();
  t.genre = ctx.Genre();
  t.sourceRights = ctx.SourceRightsNotice();
  t.rightsToStore = ctx.RightsNotice();
  t.tempo = static_cast<uint16_t>(std::clamp(ctx.Tempo(), 0, 0xFFFF));
  t.markers = ctx.MarkersFlag() ? 1 : 0;
  return t;
}

ImportResult ImportSongFile(Env& env, ConvertContext& ctx, const fs::path& source, const fs::path& songFolder,
                            const ImportOptions& options) {
  const SongFileKind kind = SongFileKindOf(source);
  if (kind == SongFileKind::Other) return {ImportOutcome::NotASong, {}, {}, std::nullopt};
  std::error_code ec;
  if (!fs::is_regular_file(source, ec)) {
    ReportReadError(env, source.string());
    return Failed("cannot read " + source.string());
  }
  const fs::path dest = DestinationFor(songFolder, source);
  if (dest.empty()) return Failed("no name for the song in " + source.string());
  const std::string stem = BaseNameOf(source.filename().string());
  if (kind != SongFileKind::Mf4 && kind != SongFileKind::Mp3 && workfile::IsWorkFile(env, source, stem)) {
    // The conversion would write over it while reading it.
    return Failed(source.string() + " is one of the converter's own work files");
  }

  // A song file with nothing in it, or an MF4 too short for its header, is
  // no song the player could play: the PC list must not take it for one.
  const auto size = FileSize(source);
  const bool tooShort = kind == SongFileKind::Mf4 ? size.value_or(0) < PackageHeader::kSize : size.value_or(0) == 0;
  if (kind != SongFileKind::Midi && tooShort) {
    ReportReadError(env, source.string());
    return Failed(source.string() + (size.value_or(0) == 0 ? " is empty" : " is shorter than a song's header"));
  }

  WorkFiles cleanup(env, stem);
  switch (kind) {
    case SongFileKind::Mf4: return CopyInto(env, source, dest, options.dropped);
    case SongFileKind::Mp3: return CopyInto(env, source, dest, false);
    case SongFileKind::Mf3: return ImportMf3(env, ctx, source, dest);
    case SongFileKind::Midi: return ImportMidi(env, ctx, source, dest, options);
    case SongFileKind::Other: break;
  }
  return {ImportOutcome::NotASong, {}, {}, std::nullopt};
}

}  // namespace kestro::library
