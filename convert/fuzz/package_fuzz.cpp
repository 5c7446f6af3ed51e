// Song packages from anywhere: the header and the unpacking of any file; a
// package that unpacks packs again and unpacks to the same content, and its
// content goes through the re-wrap of an old .MF3 package.
#include <cstdlib>

#include "context/fuzz/fuzz_support.h"
#include "convert/convert_context.h"
#include "convert/mf4_converter.h"
#include "convert/package.h"
#include "platform/fileutil.h"

using namespace kestro;

namespace {

void ReadEveryField(const PackageHeader& h) {
  size_t sum = h.Magic().size() + h.PackageSize() + h.UnpackedSize() + h.Word8() + h.Byte27() + h.Byte35() +
               h.Word36() + h.Tempo() + h.MarkersFlag();
  for (const std::string& t : {h.FileName(), h.RightsNotice(), h.Title(), h.Editor(), h.Author(), h.Performer(),
                               h.Genre()}) {
    if (t.size() > PackageHeader::Width::kFileName) std::abort();
    sum += t.size();
  }
  for (int c = 0; c < PackageHeader::kChannels; ++c)
    sum += h.Program(c) + h.Bank(c) + h.Volume(c) + h.Pan(c) + h.Reverb(c) + h.Chorus(c);
  (void)sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ClearScratch();
  fuzz::FuzzEnv fe;
  const auto dir = fuzz::ScratchDir();
  auto package = fuzz::PutFile("input.MF4", data, size);
  PackageHeader header;
  const PackageHeader before = header;
  if (unpack(fe.env, header, package, dir / "content.mid") != kPackDone) {
    if (!(header == before) || FileExists(dir / "content.mid")) std::abort();  // a failed unpack touches nothing
    return 0;
  }
  ReadEveryField(header);
  auto content = ReadBinaryFile(dir / "content.mid");
  if (!content) std::abort();

  PackageHeader again = header;
  if (pack(fe.env, again, dir / "content.mid", dir / "again.MF4") != kPackDone) std::abort();
  PackageHeader back;
  if (unpack(fe.env, back, dir / "again.MF4", dir / "back.mid") != kPackDone) std::abort();
  if (ReadBinaryFile(dir / "back.mid") != content) std::abort();

  ConvertContext ctx;
  ctx.header = header;
  (void)convert_mf3_content(fe.env, ctx, dir / "content.mid", dir / "0.MID");
  return 0;
}
