#pragma once
// What the folder's tests share: the services, how long only a hang takes, sized files, and answers compressed with a
// desktop gzip and zlib, so that inflation is checked against another compressor: a short gzip member, a zlib stream,
// 5000 letters A, 90 random letters and digits (longer than the reports' 49 bytes) and a stream needing a dictionary.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <future>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "services/chinese_text.h"
#include "services/crash_dump.h"
#include "services/des.h"
#include "services/hashing.h"
#include "services/http_client.h"
#include "services/logger.h"
#include "services/registry.h"
#include "services/rw_lock.h"
#include "services/thread.h"
#include "services/xml_reader.h"
#include "services/zlib_codec.h"
#include "tests/support/kvtest.h"
#include "util/handles.h"
#include "util/system.h"

namespace kvservices {
inline constexpr DWORD kHang = 10000;  // the machine is shared: only a hang takes this long

// A file of that many bytes, sparse where the file system allows it.
inline bool Sized(const std::wstring& path, long long bytes) {
  kv::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  LARGE_INTEGER end = {};
  end.QuadPart = bytes;
  return file && ::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get());
}

inline const std::string kHello =
    kvtest::FromHex("1F8B0800000000000203CB48CDC9C95748AFCA2C5028CF2FCA49D151C82028A20800A63FCCC935000000");
inline const std::string kHelloText = "hello gzip world, hello gzip world, hello gzip world!";
inline const std::string kZlib = kvtest::FromHex("789CCB48CDC9C957A8CAC94C52282E294A4DCC05003ADB0692");
inline const std::string kManyA =
    kvtest::FromHex("1F8B0800000000000203EDC13101000000C2A06CEB5FCA147E4001000000006F03BE7B1A1388130000");
inline const std::string kRandom = kvtest::FromHex(
    "1F8B080000000000020305C1011280101000C02F9998D2734E0CBA63281CBDBEDDCA8791C56298AA2CED0B64F1D04217B7180172467C7BD299"
    "D26A660ABC"
    "AB1B0D866BDC5427A5C856C39F39C55CB05D944291BCF351A59F3F24F016D95A000000");
inline const std::string kRandomText =
    "qw7b3pdkhx4py8gpan0rlykei2iiaannkksum8nlmytbx0kjqevtavetwt4ul44ldqbwzb90xya2clmhp3w6w7q3gx";
inline const std::string kDictionary = kvtest::FromHex("78F9062C0215CB00110A60120019910449");
}  // namespace kvservices
