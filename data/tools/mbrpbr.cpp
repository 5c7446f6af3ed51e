// Writes MBRPBR.DAT: the two template sectors the card format starts from.
//
//   bytes    0-511   master boot record: boot code, an empty partition table
//                    (the format fills entry 1), signature 55 AA
//   bytes  512-1023  FAT16 boot sector: jump, a BPB the format fills in,
//                    media descriptor F8, file-system type "FAT16   " at 54,
//                    boot code, signature 55 AA
//
// Both boot codes only say that the card is not a system disk, wait for a
// key and hand the machine back to the BIOS (int 19h): a PC started from a
// player's card must not run whatever the sectors happen to hold.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kSector = 512;
constexpr uint16_t kLoadAddress = 0x7C00;  // where the BIOS puts a boot sector
const char* kMessage = "\r\nThis card is not a system disk.\r\nRemove it and press any key to restart.\r\n";

// 16-bit real-mode code placed at `at` in the sector: print the message
// through the video BIOS, wait for a key, reboot; halt should that return.
void PutBootCode(uint8_t* sector, size_t at) {
  const size_t msgOffset = at + 38;
  const uint16_t msg = static_cast<uint16_t>(kLoadAddress + msgOffset);
  const uint8_t code[] = {
      0xFA,                    //  0 cli
      0x31, 0xC0,              //  1 xor ax, ax
      0x8E, 0xD8,              //  3 mov ds, ax
      0x8E, 0xD0,              //  5 mov ss, ax
      0xBC, 0x00, 0x7C,        //  7 mov sp, 7C00h
      0xFB,                    // 10 sti
      0xFC,                    // 11 cld
      0xBE, static_cast<uint8_t>(msg & 0xFF), static_cast<uint8_t>(msg >> 8),  // 12 mov si, message
      0xAC,                    // 15 print: lodsb
      0x84, 0xC0,              // 16 test al, al
      0x74, 0x09,              // 18 jz wait (29)
      0xB4, 0x0E,              // 20 mov ah, 0Eh (teletype output)
      0xBB, 0x07, 0x00,        // 22 mov bx, 0007h (page 0, grey)
      0xCD, 0x10,              // 25 int 10h
      0xEB, 0xF2,              // 27 jmp print (15)
      0x30, 0xE4,              // 29 wait: xor ah, ah
      0xCD, 0x16,              // 31 int 16h (read a key)
      0xCD, 0x19,              // 33 int 19h (bootstrap again)
      0xF4,                    // 35 hang: hlt
      0xEB, 0xFD,              // 36 jmp hang (35)
  };
  static_assert(sizeof code == 38);
  std::memcpy(sector + at, code, sizeof code);
  std::memcpy(sector + msgOffset, kMessage, std::strlen(kMessage) + 1);
}

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>(v >> 8);
}

std::vector<uint8_t> Templates() {
  std::vector<uint8_t> out(2 * kSector, 0);
  uint8_t* mbr = out.data();
  PutBootCode(mbr, 0);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;

  uint8_t* pbr = out.data() + kSector;
  pbr[0] = 0xEB;  // jmp short to the boot code at 3Eh
  pbr[1] = 0x3C;
  pbr[2] = 0x90;
  std::memcpy(pbr + 3, "KESTRO  ", 8);
  // A BPB for a small volume; the format writes every field but the media.
  Put16(pbr + 11, 512);  // bytes per sector
  pbr[13] = 1;           // sectors per cluster
  Put16(pbr + 14, 1);    // reserved sectors
  pbr[16] = 2;           // FATs
  Put16(pbr + 17, 128);  // root entries
  pbr[21] = 0xF8;        // media descriptor: fixed disk
  Put16(pbr + 22, 32);   // sectors per FAT
  Put16(pbr + 24, 32);   // sectors per track
  Put16(pbr + 26, 2);    // heads
  pbr[36] = 0x80;        // drive number
  pbr[38] = 0x29;        // extended boot signature
  std::memcpy(pbr + 43, "NO NAME    ", 11);
  std::memcpy(pbr + 54, "FAT16   ", 8);
  PutBootCode(pbr, 0x3E);
  pbr[510] = 0x55;
  pbr[511] = 0xAA;
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s MBRPBR.DAT\n", argv[0]);
    return 2;
  }
  std::vector<uint8_t> data = Templates();
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
