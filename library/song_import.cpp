#include "library/song_import.h"

#include <algorithm>
#include <future>
#include <memory>
#include <system_error>
#include <utility>
#include <variant>

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

// A converted song whose package is still to be written: all that the
// writing and the steps after it need, so that the next file can be
// converted meanwhile.
struct PendingPackage {
  fs::path dest;
  PackageHeader header;
  Bytes content;
  ImportedTexts texts;
};

// The conversion of a MIDI or karaoke file, up to its content in memory.
std::variant<ImportResult, PendingPackage> ConvertMidi(Env& env, ConvertContext& ctx, const fs::path& source,
                                                       const fs::path& dest, const ImportOptions& options) {
  const fs::path content = env.InstallPath(workfile::kContent);
  RemoveFile(content);
  if (import_midi_file(env, ctx, source, content, options.preprocessCatalogue) == kImportDeclined) {
    return ImportResult{ImportOutcome::Declined, {}, {}, std::nullopt};
  }
  if (!ctx.outputWritten) return Failed("cannot convert " + source.string());
  std::string name = dest.filename().string();
  if (IsValidUtf8(name)) name = Utf8ToLatin1(name);
  ctx.header.SetFileName(name);
  PendingPackage pending{dest, ctx.header, {}, TextsFromConversion(ctx)};
  if (!ReadPackageSource(env, content, pending.content)) return Failed("cannot pack " + dest.string());
  return pending;
}

// What follows the writing of a converted song's package.
ImportResult FinishPackage(Env& env, const PendingPackage& pending, bool written) {
  if (!written) {
    ReportPackageWriteError(env, pending.dest);
    return Failed("cannot pack " + pending.dest.string());
  }
  ClearReadOnly(pending.dest);
  // Without the song database the header keeps the conversion's texts.
  FillImportedHeader(env, pending.dest, pending.texts);
  return {ImportOutcome::Imported, pending.dest, {}, DigitWarning(env, pending.dest)};
}

// All of an import but the writing of a converted song's package.
std::variant<ImportResult, PendingPackage> StartImport(Env& env, ConvertContext& ctx, const fs::path& source,
                                                       const fs::path& songFolder, const ImportOptions& options) {
  const SongFileKind kind = SongFileKindOf(source);
  if (kind == SongFileKind::Other) return ImportResult{ImportOutcome::NotASong, {}, {}, std::nullopt};
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
    case SongFileKind::Midi: return ConvertMidi(env, ctx, source, dest, options);
    case SongFileKind::Other: break;
  }
  return ImportResult{ImportOutcome::NotASong, {}, {}, std::nullopt};
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
  auto started = StartImport(env, ctx, source, songFolder, options);
  if (auto* result = std::get_if<ImportResult>(&started)) return std::move(*result);
  PendingPackage& pending = std::get<PendingPackage>(started);
  const bool written = ReplacePackage(pending.header, pending.content, pending.dest);
  if (written) ctx.header = pending.header;
  return FinishPackage(env, pending, written);
}

void ImportSongFiles(Env& env, ConvertContext& ctx, const std::vector<fs::path>& sources, const fs::path& songFolder,
                     const ImportOptions& options, const ImportDone& done) {
  // The song being packed beside the conversion of the next file. The
  // package is written on its own thread, which touches nothing but the
  // package and this record; all the rest happens here.
  struct Packing {
    size_t index = 0;
    PendingPackage pending;
    std::future<bool> written;  // declared last: its end waits for the thread
  };
  std::unique_ptr<Packing> packing;
  // Finishes the song in hand and tells of it; false when `done` wants no more.
  auto finishPacking = [&] {
    if (!packing) return true;
    std::unique_ptr<Packing> finished = std::move(packing);
    const ImportResult r = FinishPackage(env, finished->pending, finished->written.get());
    return done(finished->index, r);
  };
  for (size_t i = 0; i < sources.size(); ++i) {
    // Only a conversion runs beside a packing: the other imports write
    // into the song folder themselves, perhaps under the same name.
    if (SongFileKindOf(sources[i]) != SongFileKind::Midi && !finishPacking()) return;
    auto started = StartImport(env, ctx, sources[i], songFolder, options);
    // Results are told in the order of the files.
    bool more = finishPacking();
    if (auto* result = std::get_if<ImportResult>(&started)) {
      more = done(i, *result) && more;
      if (!more) return;
      continue;
    }
    packing = std::make_unique<Packing>();
    packing->index = i;
    packing->pending = std::move(std::get<PendingPackage>(started));
    Packing* p = packing.get();
    try {
      packing->written = std::async(std::launch::async,
                                    [p] { return ReplacePackage(p->pending.header, p->pending.content, p->pending.dest); });
    } catch (const std::system_error&) {
      // No thread to be had: written here and now.
      std::promise<bool> now;
      now.set_value(ReplacePackage(p->pending.header, p->pending.content, p->pending.dest));
      packing->written = now.get_future();
    }
    if (!more) break;
  }
  finishPacking();
}

}  // namespace kestro::library
