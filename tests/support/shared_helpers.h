#pragma once
// Small helpers several test programs share: whole files as bytes, file names by pattern,
// hexadecimal texts, polling, work on a second thread, programs run from folders of their own.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <fstream>
#include <functional>
#include <atomic>
#include <iterator>
#include <thread>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace kvtest {

// The running test's name, for folders and keys of its own.
inline std::wstring TestName() {
  const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  return std::wstring(name, name + std::strlen(name));
}

// The whole file; empty when it cannot be read.
inline std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Names of the files matching pattern (a path ending in wildcards), in the order found.
inline std::vector<std::wstring> FileNames(const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found = {};
  HANDLE find = ::FindFirstFileW(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.push_back(found.cFileName);
  while (::FindNextFileW(find, &found));
  ::FindClose(find);
  return names;
}

// "0AFF" to the bytes 0A FF (pairs of hexadecimal digits, either case).
inline std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// Bytes as upper-case hexadecimal digits.
inline std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char b : bytes) {
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 15]);
  }
  return hex;
}

// Polls done every 5 ms until it holds (true) or ms have passed (false).
inline bool WaitUntil(const std::function<bool()>& done, DWORD ms) {
  const DWORD start = ::GetTickCount();
  while (!done()) {
    if (::GetTickCount() - start > ms) return false;
    ::Sleep(5);
  }
  return true;
}

// Runs body on a thread of its own, joined at the end of the Worker's life.
struct Worker {
  std::atomic<bool> done{false};
  std::thread thread;
  template <typename F>
  explicit Worker(F body) : thread([this, body] { body(); done = true; }) {}
  ~Worker() { thread.join(); }
  bool FinishedWithin(DWORD ms) { return WaitUntil([this] { return done.load(); }, ms); }
};

// A fresh folder C:\kvtest\<name>\ holding copies of the given files of the bin folder.
inline std::wstring FolderWith(const std::wstring& name, std::initializer_list<const wchar_t*> files) {
  const std::wstring dir = FreshDir(name);
  for (const wchar_t* file : files) EXPECT_TRUE(CopyProgram(file, dir + file)) << Utf8(file);
  return dir;
}

// Runs dir's program with args in dir; a time-out or a non-zero exit fails the test.
inline ProcessResult RunIn(const std::wstring& dir, const std::wstring& program, const std::wstring& args) {
  const ProcessResult run = Run(L"\"" + dir + program + L"\" " + args, dir);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(0u, run.exit_code) << run.output;
  return run;
}

}  // namespace kvtest
