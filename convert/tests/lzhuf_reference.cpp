#include "convert/tests/lzhuf_reference.h"

#include <cstring>

namespace kestro::testing {

namespace {

const unsigned char p_len[64] = {
    0x03, 0x04, 0x04, 0x04, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x06, 0x06, 0x06, 0x06,
    0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08};

const unsigned char p_code[64] = {
    0x00, 0x20, 0x30, 0x40, 0x50, 0x58, 0x60, 0x68, 0x70, 0x78, 0x80, 0x88, 0x90, 0x94, 0x98, 0x9C,
    0xA0, 0xA4, 0xA8, 0xAC, 0xB0, 0xB4, 0xB8, 0xBC, 0xC0, 0xC2, 0xC4, 0xC6, 0xC8, 0xCA, 0xCC, 0xCE,
    0xD0, 0xD2, 0xD4, 0xD6, 0xD8, 0xDA, 0xDC, 0xDE, 0xE0, 0xE2, 0xE4, 0xE6, 0xE8, 0xEA, 0xEC, 0xEE,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};

// The decoding tables written out as in the original, not derived from the
// encoding ones.
const unsigned char d_code[256] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02,
    0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03,
    0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05,
    0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x09, 0x09, 0x09, 0x09, 0x09, 0x09, 0x09, 0x09,
    0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B,
    0x0C, 0x0C, 0x0C, 0x0C, 0x0D, 0x0D, 0x0D, 0x0D, 0x0E, 0x0E, 0x0E, 0x0E, 0x0F, 0x0F, 0x0F, 0x0F,
    0x10, 0x10, 0x10, 0x10, 0x11, 0x11, 0x11, 0x11, 0x12, 0x12, 0x12, 0x12, 0x13, 0x13, 0x13, 0x13,
    0x14, 0x14, 0x14, 0x14, 0x15, 0x15, 0x15, 0x15, 0x16, 0x16, 0x16, 0x16, 0x17, 0x17, 0x17, 0x17,
    0x18, 0x18, 0x19, 0x19, 0x1A, 0x1A, 0x1B, 0x1B, 0x1C, 0x1C, 0x1D, 0x1D, 0x1E, 0x1E, 0x1F, 0x1F,
    0x20, 0x20, 0x21, 0x21, 0x22, 0x22, 0x23, 0x23, 0x24, 0x24, 0x25, 0x25, 0x26, 0x26, 0x27, 0x27,
    0x28, 0x28, 0x29, 0x29, 0x2A, 0x2A, 0x2B, 0x2B, 0x2C, 0x2C, 0x2D, 0x2D, 0x2E, 0x2E, 0x2F, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F};

const unsigned char d_len[256] = {
    0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03,
    0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03,
    0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04,
    0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04,
    0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04,
    0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05,
    0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05,
    0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05,
    0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05,
    0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06,
    0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06,
    0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08};

constexpr int kEof = -1;

}  // namespace

ReferenceLzhuf::ReferenceLzhuf() {
  // Zero like the original's static tables.
  std::memset(text_buf, 0, sizeof text_buf);
  std::memset(lson, 0, sizeof lson);
  std::memset(rson, 0, sizeof rson);
  std::memset(dad, 0, sizeof dad);
  std::memset(freq, 0, sizeof freq);
  std::memset(prnt, 0, sizeof prnt);
  std::memset(son, 0, sizeof son);
  match_position = match_length = 0;
}

int ReferenceLzhuf::getc() {
  if (inPos_ >= in_->size()) return kEof;
  return (*in_)[inPos_++];
}

void ReferenceLzhuf::putc(int c) { out_->push_back(static_cast<uint8_t>(c)); }

void ReferenceLzhuf::InitTree() {
  int i;
  for (i = N + 1; i <= N + 256; i++) rson[i] = NIL;
  for (i = 0; i < N; i++) dad[i] = NIL;
}

void ReferenceLzhuf::InsertNode(int r) {
  int i, p, cmp;
  unsigned char* key;
  unsigned c;

  cmp = 1;
  key = &text_buf[r];
  p = N + 1 + key[0];
  rson[r] = lson[r] = NIL;
  match_length = 0;
  for (;;) {
    if (cmp >= 0) {
      if (rson[p] != NIL)
        p = rson[p];
      else {
        rson[p] = r;
        dad[r] = p;
        return;
      }
    } else {
      if (lson[p] != NIL)
        p = lson[p];
      else {
        lson[p] = r;
        dad[r] = p;
        return;
      }
    }
    for (i = 1; i < F; i++)
      if ((cmp = key[i] - text_buf[p + i]) != 0) break;
    if (i > THRESHOLD) {
      if (i > match_length) {
        match_position = ((r - p) & (N - 1)) - 1;
        if ((match_length = i) >= F) break;
      }
      if (i == match_length) {
        if ((c = static_cast<unsigned>(((r - p) & (N - 1)) - 1)) < static_cast<unsigned>(match_position)) {
          match_position = static_cast<int>(c);
        }
      }
    }
  }
  dad[r] = dad[p];
  lson[r] = lson[p];
  rson[r] = rson[p];
  dad[lson[p]] = r;
  dad[rson[p]] = r;
  if (rson[dad[p]] == p)
    rson[dad[p]] = r;
  else
    lson[dad[p]] = r;
  dad[p] = NIL;
}

void ReferenceLzhuf::DeleteNode(int p) {
  int q;

  if (dad[p] == NIL) return;
  if (rson[p] == NIL)
    q = lson[p];
  else if (lson[p] == NIL)
    q = rson[p];
  else {
    q = lson[p];
    if (rson[q] != NIL) {
      do {
        q = rson[q];
      } while (rson[q] != NIL);
      rson[dad[q]] = lson[q];
      dad[lson[q]] = dad[q];
      lson[q] = lson[p];
      dad[lson[p]] = q;
    }
    rson[q] = rson[p];
    dad[rson[p]] = q;
  }
  dad[q] = dad[p];
  if (rson[dad[p]] == p)
    rson[dad[p]] = q;
  else
    lson[dad[p]] = q;
  dad[p] = NIL;
}

int ReferenceLzhuf::GetBit() {
  int i;

  while (getlen <= 8) {
    if ((i = getc()) < 0) i = 0;
    getbuf = static_cast<uint16_t>(getbuf | (i << (8 - getlen)));
    getlen = static_cast<uint8_t>(getlen + 8);
  }
  i = static_cast<int16_t>(getbuf);
  getbuf = static_cast<uint16_t>(getbuf << 1);
  getlen--;
  return (i < 0);
}

int ReferenceLzhuf::GetByte() {
  unsigned i;

  while (getlen <= 8) {
    int c = getc();
    if (c < 0) c = 0;
    getbuf = static_cast<uint16_t>(getbuf | (c << (8 - getlen)));
    getlen = static_cast<uint8_t>(getlen + 8);
  }
  i = getbuf;
  getbuf = static_cast<uint16_t>(getbuf << 8);
  getlen = static_cast<uint8_t>(getlen - 8);
  return static_cast<int>(i >> 8);
}

void ReferenceLzhuf::Putcode(int l, unsigned c) {
  putbuf = static_cast<uint16_t>(putbuf | (c >> putlen));
  if ((putlen = static_cast<uint8_t>(putlen + l)) >= 8) {
    putc(putbuf >> 8);
    if ((putlen = static_cast<uint8_t>(putlen - 8)) >= 8) {
      putc(putbuf & 0xFF);
      putlen = static_cast<uint8_t>(putlen - 8);
      putbuf = static_cast<uint16_t>(c << (l - putlen));
    } else {
      putbuf = static_cast<uint16_t>(putbuf << 8);
    }
  }
}

void ReferenceLzhuf::StartHuff() {
  int i, j;

  for (i = 0; i < N_CHAR; i++) {
    freq[i] = 1;
    son[i] = i + T;
    prnt[i + T] = i;
  }
  i = 0;
  j = N_CHAR;
  while (j <= R) {
    freq[j] = freq[i] + freq[i + 1];
    son[j] = i;
    prnt[i] = prnt[i + 1] = j;
    i += 2;
    j++;
  }
  freq[T] = 0xffff;
  prnt[R] = 0;
}

void ReferenceLzhuf::reconst() {
  int i, j, k;
  unsigned f, l;

  j = 0;
  for (i = 0; i < T; i++) {
    if (son[i] >= T) {
      freq[j] = (freq[i] + 1) / 2;
      son[j] = son[i];
      j++;
    }
  }
  for (i = 0, j = N_CHAR; j < T; i += 2, j++) {
    k = i + 1;
    f = freq[j] = freq[i] + freq[k];
    for (k = j - 1; f < freq[k]; k--)
      ;
    k++;
    // The original counts bytes of its 2-byte elements: (j - k) * 2.
    l = static_cast<unsigned>(j - k);
    std::memmove(&freq[k + 1], &freq[k], l * sizeof freq[0]);
    freq[k] = f;
    std::memmove(&son[k + 1], &son[k], l * sizeof son[0]);
    son[k] = i;
  }
  for (i = 0; i < T; i++) {
    if ((k = son[i]) >= T) {
      prnt[k] = i;
    } else {
      prnt[k] = prnt[k + 1] = i;
    }
  }
}

void ReferenceLzhuf::update(int c) {
  int i, j, l;
  unsigned k;

  if (freq[R] == MAX_FREQ) {
    reconst();
  }
  c = prnt[c + T];
  do {
    k = ++freq[c];
    if (k > freq[l = c + 1]) {
      while (k > freq[++l])
        ;
      l--;
      freq[c] = freq[l];
      freq[l] = k;

      i = son[c];
      prnt[i] = l;
      if (i < T) prnt[i + 1] = l;

      j = son[l];
      son[l] = i;

      prnt[j] = c;
      if (j < T) prnt[j + 1] = c;
      son[c] = j;

      c = l;
    }
  } while ((c = prnt[c]) != 0);
}

void ReferenceLzhuf::EncodeChar(unsigned c) {
  uint16_t i;
  int j, k;

  i = 0;
  j = 0;
  k = prnt[c + T];
  do {
    i = static_cast<uint16_t>(i >> 1);
    if (k & 1) i = static_cast<uint16_t>(i + 0x8000);
    j++;
  } while ((k = prnt[k]) != R);
  if (j > 16) codeTooLong = true;
  symbols.push_back(static_cast<int>(c));
  Putcode(j, i);
  update(static_cast<int>(c));
}

void ReferenceLzhuf::EncodePosition(unsigned c) {
  unsigned i;

  i = c >> 6;
  Putcode(p_len[i], static_cast<unsigned>(p_code[i]) << 8);
  Putcode(6, (c & 0x3f) << 10);
}

void ReferenceLzhuf::EncodeEnd() {
  if (putlen) putc(putbuf >> 8);
}

int ReferenceLzhuf::DecodeChar() {
  unsigned c;

  c = static_cast<unsigned>(son[R]);
  while (c < T) {
    c += static_cast<unsigned>(GetBit());
    c = static_cast<unsigned>(son[c]);
  }
  c -= T;
  update(static_cast<int>(c));
  return static_cast<int>(c);
}

int ReferenceLzhuf::DecodePosition() {
  unsigned i, j, c;

  i = static_cast<unsigned>(GetByte());
  c = static_cast<unsigned>(d_code[i]) << 6;
  j = d_len[i];
  j -= 2;
  while (j--) {
    i = (i << 1) + static_cast<unsigned>(GetBit());
  }
  return static_cast<int>(c | (i & 0x3f));
}

std::vector<uint8_t> ReferenceLzhuf::Encode(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  in_ = &data;
  inPos_ = 0;
  out_ = &out;
  putbuf = 0;
  putlen = 0;
  symbols.clear();

  int i, c, len, r, s, last_match_length;
  uint32_t textsize = static_cast<uint32_t>(data.size());
  for (int b = 0; b < 4; ++b) putc(static_cast<int>((textsize >> (8 * b)) & 0xFF));
  if (textsize == 0) return out;
  StartHuff();
  InitTree();
  s = 0;
  r = N - F;
  for (i = s; i < r; i++) text_buf[i] = ' ';
  for (len = 0; len < F && (c = getc()) != kEof; len++) text_buf[r + len] = static_cast<unsigned char>(c);
  for (i = 1; i <= F; i++) InsertNode(r - i);
  InsertNode(r);
  do {
    if (match_length > len) match_length = len;
    if (match_length <= THRESHOLD) {
      match_length = 1;
      EncodeChar(text_buf[r]);
    } else {
      EncodeChar(static_cast<unsigned>(255 - THRESHOLD + match_length));
      EncodePosition(static_cast<unsigned>(match_position));
    }
    last_match_length = match_length;
    for (i = 0; i < last_match_length && (c = getc()) != kEof; i++) {
      DeleteNode(s);
      text_buf[s] = static_cast<unsigned char>(c);
      if (s < F - 1) text_buf[s + N] = static_cast<unsigned char>(c);
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      InsertNode(r);
    }
    while (i++ < last_match_length) {
      DeleteNode(s);
      s = (s + 1) & (N - 1);
      r = (r + 1) & (N - 1);
      if (--len) InsertNode(r);
    }
  } while (len > 0);
  EncodeEnd();
  return out;
}

std::vector<uint8_t> ReferenceLzhuf::Decode(const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out;
  in_ = &body;
  inPos_ = 0;
  out_ = &out;
  getbuf = 0;
  getlen = 0;

  int i, j, k, r, c;
  uint32_t count;
  uint32_t textsize = 0;
  for (int b = 0; b < 4; ++b) {
    int v = getc();
    if (v < 0) return out;
    textsize |= static_cast<uint32_t>(v) << (8 * b);
  }
  if (textsize == 0) return out;
  StartHuff();
  for (i = 0; i < N - F; i++) text_buf[i] = ' ';
  r = N - F;
  for (count = 0; count < textsize;) {
    c = DecodeChar();
    if (c < 256) {
      putc(c);
      text_buf[r++] = static_cast<unsigned char>(c);
      r &= (N - 1);
      count++;
    } else {
      i = (r - DecodePosition() - 1) & (N - 1);
      j = c - 255 + THRESHOLD;
      for (k = 0; k < j; k++) {
        c = text_buf[(i + k) & (N - 1)];
        putc(c);
        text_buf[r++] = static_cast<unsigned char>(c);
        r &= (N - 1);
        count++;
      }
    }
  }
  return out;
}

}  // namespace kestro::testing
