#include "services/hashing.h"

#include <io.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "services/des.h"
#include "services/services_texts.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr int kHmacBlock = CMd5A::kBlockBytes;
constexpr unsigned char kInnerPad = 0x36;
constexpr unsigned char kOuterPad = 0x5C;
// 1024 is a multiple of 256, so scrambling each piece from its own position 0 scrambles the whole
// file as one run.
constexpr int kFilePiece = 1024;

constexpr unsigned int kInitialState[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};

// Per-step shift amounts and sine-derived constants of the four rounds.
constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
constexpr unsigned int kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr unsigned int RotateLeft(unsigned int x, int n) { return (x << n) | (x >> (32 - n)); }

using Digest = std::array<unsigned char, CMd5A::kDigestBytes>;

Digest Md5Of(const void* a, size_t a_length, const void* b = nullptr, size_t b_length = 0) {
  CMd5A md5;
  md5.Update(a, static_cast<unsigned int>(a_length));
  if (b) md5.Update(b, static_cast<unsigned int>(b_length));
  Digest digest;
  md5.Final(digest.data());
  return digest;
}

// HMAC over MD5: MD5(key ^ opad || MD5(key ^ ipad || text)), with a key longer than a block
// replaced by its digest first.
Digest HmacMd5(const char* text, const char* key) {
  unsigned char block_key[kHmacBlock] = {};
  const size_t key_length = std::strlen(key);
  if (key_length > static_cast<size_t>(kHmacBlock)) {
    const Digest short_key = Md5Of(key, key_length);
    std::memcpy(block_key, short_key.data(), short_key.size());
  } else {
    std::memcpy(block_key, key, key_length);
  }
  unsigned char inner[kHmacBlock];
  unsigned char outer[kHmacBlock];
  for (int i = 0; i < kHmacBlock; ++i) {
    inner[i] = block_key[i] ^ kInnerPad;
    outer[i] = block_key[i] ^ kOuterPad;
  }
  const Digest inner_digest = Md5Of(inner, sizeof(inner), text, std::strlen(text));
  return Md5Of(outer, sizeof(outer), inner_digest.data(), inner_digest.size());
}

int HexValue(char c) {
  // Upper-case digits only, as the encoder writes them.
  return c >= 'A' ? c - 'A' + 10 : c - '0';
}

}  // namespace

CMd5A::CMd5A() { Init(); }

CMd5A::~CMd5A() { Wipe(); }

void CMd5A::Wipe() {
  SecureZeroMemory(m_state, sizeof(m_state));
  SecureZeroMemory(m_count, sizeof(m_count));
  SecureZeroMemory(m_buffer, sizeof(m_buffer));
}

void CMd5A::Init() {
  std::memcpy(m_state, kInitialState, sizeof(m_state));
  m_count[0] = m_count[1] = 0;
  std::memset(m_buffer, 0, sizeof(m_buffer));
}

void CMd5A::Update(const void* data, unsigned int length) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  unsigned int used = (m_count[0] >> 3) & (kBlockBytes - 1);
  const unsigned int bits_low = length << 3;
  m_count[0] += bits_low;
  if (m_count[0] < bits_low) ++m_count[1];
  m_count[1] += length >> 29;

  unsigned int i = 0;
  const unsigned int free_bytes = kBlockBytes - used;
  if (length >= free_bytes) {
    std::memcpy(m_buffer + used, bytes, free_bytes);
    Transform(m_buffer);
    for (i = free_bytes; i + kBlockBytes <= length; i += kBlockBytes) Transform(bytes + i);
    used = 0;
  }
  std::memcpy(m_buffer + used, bytes + i, length - i);
}

void CMd5A::Final(unsigned char digest[kDigestBytes]) {
  unsigned char length_bytes[8];
  for (int i = 0; i < 8; ++i)
    length_bytes[i] = static_cast<unsigned char>(m_count[i / 4] >> (8 * (i % 4)));
  // 0x80, then zeros up to 56 bytes modulo 64, then the bit length.
  const unsigned int used = (m_count[0] >> 3) & (kBlockBytes - 1);
  const unsigned int pad_length = used < 56 ? 56 - used : 120 - used;
  unsigned char padding[kBlockBytes] = {0x80};
  Update(padding, pad_length);
  Update(length_bytes, 8);
  for (int i = 0; i < kDigestBytes; ++i)
    digest[i] = static_cast<unsigned char>(m_state[i / 4] >> (8 * (i % 4)));
  Wipe();
}

void CMd5A::Transform(const unsigned char block[kBlockBytes]) {
  unsigned int x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = static_cast<unsigned int>(block[4 * i]) |
           (static_cast<unsigned int>(block[4 * i + 1]) << 8) |
           (static_cast<unsigned int>(block[4 * i + 2]) << 16) |
           (static_cast<unsigned int>(block[4 * i + 3]) << 24);
  }
  unsigned int a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
  for (int step = 0; step < 64; ++step) {
    unsigned int f;
    int word;
    switch (step / 16) {
      case 0:
        f = (b & c) | (~b & d);
        word = step;
        break;
      case 1:
        f = (d & b) | (~d & c);
        word = (5 * step + 1) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        word = (3 * step + 5) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        word = (7 * step) % 16;
        break;
    }
    const unsigned int next = b + RotateLeft(a + f + kSine[step] + x[word], kShift[step]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  m_state[0] += a;
  m_state[1] += b;
  m_state[2] += c;
  m_state[3] += d;
  SecureZeroMemory(x, sizeof(x));
}

int MD5Go(LPSTR text, LPCSTR key) {
  if (!text) return 0;
  const Digest digest = key ? HmacMd5(text, key) : Md5Of(text, std::strlen(text));
  for (size_t i = 0; i < digest.size(); ++i) {
    text[2 * i] = kHexDigits[digest[i] >> 4];
    text[2 * i + 1] = kHexDigits[digest[i] & 0x0F];
  }
  text[2 * digest.size()] = '\0';
  return 1;
}

void EasyEncode(LPSTR data, int length) {
  if (!data) return;
  for (int i = 0; i < length; ++i)
    data[i] = static_cast<char>(data[i] ^ static_cast<char>((i + 8) & 0xFF));
}

int KvEncodeFile(LPCWSTR source, LPCWSTR target) {
  if (!source || !target) return 0;
  kv::UniqueStdioFile in(_wfopen(source, kv::services::kReadBinaryMode));
  if (!in) return 0;
  // Opening the target empties it before a byte of the source is read: the same file under any
  // other spelling is refused first.
  if (kv::IsSameFile(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(in.get()))), target)) return 0;
  kv::UniqueStdioFile out(_wfopen(target, kv::services::kWriteBinaryMode));
  if (!out) return 0;
  char piece[kFilePiece];
  size_t got = 0;
  while ((got = std::fread(piece, 1, sizeof(piece), in.get())) > 0) {
    EasyEncode(piece, static_cast<int>(got));
    if (std::fwrite(piece, 1, got, out.get()) != got) return 0;
  }
  if (std::ferror(in.get())) return 0;
  return kv::CloseWritten(out) ? 1 : 0;
}

void ToHex(LPSTR data, int length) {
  if (!data || length < 0) return;
  // Back to front, so each byte is read before its two digits overwrite it.
  data[2 * length] = '\0';
  for (int i = length - 1; i >= 0; --i) {
    const auto byte = static_cast<unsigned char>(data[i]);
    data[2 * i + 1] = kHexDigits[byte & 0x0F];
    data[2 * i] = kHexDigits[byte >> 4];
  }
}

void ToAsc(LPSTR hex, int length) {
  if (!hex || length < 0) return;
  const int bytes = length / 2;
  for (int i = 0; i < bytes; ++i)
    hex[i] = static_cast<char>((HexValue(hex[2 * i]) << 4) | HexValue(hex[2 * i + 1]));
  hex[bytes] = '\0';
}

void KvEncode(LPCSTR key, LPSTR data, int length, int direction) {
  if (!key || !data || length < 0) return;
  if (direction) {
    DesGo(key, data, length, 1);
    EasyEncode(data, length);
    ToHex(data, length);
    return;
  }
  ToAsc(data, length);
  EasyEncode(data, length / 2);
  DesGo(key, data, length / 2, 0);
  data[length / 2] = '\0';
}
