// Reads one request a line from standard input and prints the toolkit's answer, so that tests on
// the Linux side can compare the hashing and cipher functions with independent implementations.
// Requests (all data in hexadecimal):
//   md5 TEXT              -> MD5Go without key
//   hmac TEXT KEY         -> MD5Go with key
//   des KEY DATA DIR      -> DesGo, DIR 1 encrypts, 0 decrypts; prints the data
//   kvencode KEY DATA     -> KvEncode encrypting, then the decryption of that: "CIPHER PLAIN"
// An empty hexadecimal field is written as "-".
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "services/des.h"
#include "services/hashing.h"

namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  if (hex == "-") return bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char b : bytes) {
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 15]);
  }
  return hex.empty() ? "-" : hex;
}

std::string Md5(const std::string& text, const std::string* key) {
  std::string buffer = text;
  buffer.resize(text.size() + kMd5HexRoom, '\0');
  if (!MD5Go(buffer.data(), key ? key->c_str() : nullptr)) return "failed";
  return buffer.c_str();
}

}  // namespace

int wmain() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string op, a, b, c;
    in >> op >> a >> b >> c;
    if (op == "md5") {
      std::cout << Md5(FromHex(a), nullptr) << "\n";
    } else if (op == "hmac") {
      const std::string key = FromHex(b);
      std::cout << Md5(FromHex(a), &key) << "\n";
    } else if (op == "des") {
      const std::string key = FromHex(a);
      std::string data = FromHex(b);
      DesGo(key.data(), data.data(), static_cast<int>(data.size()), std::stoi(c));
      std::cout << Hex(data) << "\n";
    } else if (op == "kvencode") {
      const std::string key = FromHex(a);
      const std::string plain = FromHex(b);
      const int n = static_cast<int>(plain.size());
      std::string buffer = plain;
      buffer.resize(2 * plain.size() + 1, '\0');
      KvEncode(key.data(), buffer.data(), n, 1);
      const std::string cipher = buffer.c_str();
      KvEncode(key.data(), buffer.data(), 2 * n, 0);
      std::cout << (cipher.empty() ? "-" : cipher) << " " << Hex(buffer.substr(0, plain.size())) << "\n";
    } else {
      std::cout << "unknown request\n";
    }
  }
  return 0;
}
