#pragma once
// Digests and byte encodings on narrow (byte) strings: MD5 and HMAC-MD5, a light scrambling and
// its file form, hexadecimal text both ways, and the printable DES cipher text built from them.
// Every function works in place on a caller buffer of the room stated beside it.
#include <windows.h>

#include "util/kv_api.h"

// The MD5 engine (little-endian words, the usual padding and bit length). Final wipes the whole
// state to zeros, so nothing of the message stays behind; Init starts the next message.
class KV_CLASS CMd5A {
 public:
  static constexpr int kDigestBytes = 16;
  static constexpr int kBlockBytes = 64;

  CMd5A();
  virtual ~CMd5A();

  void Init();
  void Update(const void* data, unsigned int length);
  // Writes the 16-byte digest of everything updated since Init, then wipes the state.
  void Final(unsigned char digest[kDigestBytes]);

 private:
  void Wipe();
  void Transform(const unsigned char block[kBlockBytes]);

  unsigned int m_state[4];
  unsigned int m_count[2];  // message length in bits, low word first
  unsigned char m_buffer[kBlockBytes];
};

// Room MD5Go needs: 32 hexadecimal digits and a terminator.
constexpr int kMd5HexRoom = 33;

// MD5 of the zero-terminated text, or HMAC-MD5 under key when a key is given; the 32 upper-case
// hexadecimal digits and a terminator replace the text (33 bytes). 0 when text is null.
KV_API int MD5Go(LPSTR text, LPCSTR key);
// Byte i is XORed with (i + 8) modulo 256; applying it twice restores the bytes.
KV_API void EasyEncode(LPSTR data, int length);
// Copies source to target (created or truncated) through EasyEncode, piece by piece; byte n of the
// file is XORed with (n + 8) modulo 256. 0 when either file cannot be opened, when both name the
// same file (which is then left as it was), or when a read or a write fails on the way.
KV_API int KvEncodeFile(LPCWSTR source, LPCWSTR target);
// Replaces length bytes by their upper-case hexadecimal text and a terminator (2 * length + 1
// bytes).
KV_API void ToHex(LPSTR data, int length);
// Replaces each pair of upper-case hexadecimal digits by its byte and ends the length / 2 bytes
// with a zero byte.
KV_API void ToAsc(LPSTR hex, int length);
// Printable DES: encrypting (direction non-zero) turns length bytes into 2 * length hexadecimal
// digits and a terminator (2 * length + 1 bytes); decrypting turns length hexadecimal digits back
// into length / 2 bytes followed by a zero byte. Only whole 8-byte blocks pass through DES; the
// rest is only scrambled.
KV_API void KvEncode(LPCSTR key, LPSTR data, int length, int direction);
