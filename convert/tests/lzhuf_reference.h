// A plain transcription of the published LZHUF.C (Yoshizaki 1988, Okumura's
// translation 1989) with the package parameters N = 4096, F = 29,
// THRESHOLD = 2, kept only to check the real coder against it. It follows
// the original line by line, with its 16-bit code and bit buffers, its
// linear search in update() and getc()/putc() on memory instead of files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestro::testing {

class ReferenceLzhuf {
 public:
  ReferenceLzhuf();

  // Body of a package: 4-byte size and the bit stream.
  std::vector<uint8_t> Encode(const std::vector<uint8_t>& data);
  std::vector<uint8_t> Decode(const std::vector<uint8_t>& body);

  // The original keeps codes in 16 bits; set when a longer one was needed
  // (its output is then not decodable).
  bool codeTooLong = false;
  // Every symbol Encode sent, in order (literals 0-255, match lengths above).
  std::vector<int> symbols;

 private:
  static constexpr int N = 4096;
  static constexpr int F = 29;
  static constexpr int THRESHOLD = 2;
  static constexpr int NIL = N;
  static constexpr int N_CHAR = 256 - THRESHOLD + F;
  static constexpr int T = N_CHAR * 2 - 1;
  static constexpr int R = T - 1;
  static constexpr unsigned MAX_FREQ = 0x8000;

  void InitTree();
  void InsertNode(int r);
  void DeleteNode(int p);
  int GetBit();
  int GetByte();
  void Putcode(int l, unsigned c);
  void StartHuff();
  void reconst();
  void update(int c);
  void EncodeChar(unsigned c);
  void EncodePosition(unsigned c);
  void EncodeEnd();
  int DecodeChar();
  int DecodePosition();
  int getc();
  void putc(int c);

  unsigned char text_buf[N + F - 1];
  int match_position, match_length, lson[N + 1], rson[N + 257], dad[N + 1];
  unsigned freq[T + 1];
  int prnt[T + N_CHAR];
  int son[T];
  uint16_t getbuf = 0;
  uint8_t getlen = 0;
  uint16_t putbuf = 0;
  uint8_t putlen = 0;

  const std::vector<uint8_t>* in_ = nullptr;
  size_t inPos_ = 0;
  std::vector<uint8_t>* out_ = nullptr;
};

}  // namespace kestro::testing
