#pragma once
// Whole files as bytes, for tests that check what was written byte for byte.
#include <objidl.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kvtest {

using Bytes = std::vector<unsigned char>;

inline Bytes ReadBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::wstring& path, const Bytes& data) {
  std::ofstream(std::filesystem::path(path), std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// What is left to read in a stream, from where it stands.
inline std::string ReadRest(IStream* stream) {
  std::string out;
  char buffer[4096];
  for (ULONG got = 0; SUCCEEDED(stream->Read(buffer, sizeof(buffer), &got)) && got;) out.append(buffer, got);
  return out;
}

}  // namespace kvtest
