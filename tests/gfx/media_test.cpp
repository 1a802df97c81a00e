#include "gfx/media.h"

#include <gtest/gtest.h>

#include <mmsystem.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/support/test_support.h"

namespace {

// A mono 16-bit 8 kHz PCM tone of the given length, as a WAVE file.
void WriteTone(const std::wstring& path, int milliseconds) {
  const uint32_t samples = 8 * milliseconds, head[] = {0x46464952, 36 + samples * 2, 0x45564157, 0x20746D66, 16,
                                                       0x00010001, 8000, 16000, 0x00100002, 0x61746164, samples * 2};
  std::string data(reinterpret_cast<const char*>(head), sizeof(head));
  for (uint32_t i = 0; i < samples; ++i) data.append((i % 40) < 20 ? "\x70\x17" : "\x90\xE8", 2);  // +-6000
  kvtest::WriteText(path, data);
}

std::wstring Mci(const std::wstring& command, MCIERROR* error = nullptr) {
  wchar_t answer[200] = {};
  const MCIERROR e = ::mciSendStringW(command.c_str(), answer, 200, nullptr);
  if (error) *error = e;
  return e ? L"" : answer;
}

TEST(Sound, PlayWavStartsAFileAsynchronously) {
  const std::wstring dir = kvtest::FreshDir(L"media_wav");
  WriteTone(dir + L"tone.wav", 300);
  const DWORD start = ::GetTickCount();
  EXPECT_NE(FALSE, PlayWav((dir + L"tone.wav").c_str(), 0));
  EXPECT_LT(::GetTickCount() - start, 250u) << "the call waited for the sound";
  EXPECT_NE(FALSE, PlayWav(nullptr, 0));  // a null sound stops whatever plays
}

// One test for the whole MCI sequence: the alias stays open for the rest of the process.
TEST(Mp3, OpensTheAliasOnceAndDrivesIt) {
  const std::wstring dir = kvtest::FreshDir(L"media_mci");
  WriteTone(dir + L"first.wav", 2000);
  WriteTone(dir + L"second.wav", 500);
  MCIERROR error = 0;
  Mci(L"status mymusic mode", &error);
  ASSERT_NE(0u, error) << "the alias is open before PlayMP3";
  PlayMP3((dir + L"first.wav").c_str(), 0);
  const std::wstring mode = Mci(L"status mymusic mode", &error);
  if (error) {
    std::printf("SKIPPED: this system has no MCI device for WAVE files\n");
    GTEST_SKIP();
  }
  EXPECT_EQ(L"2000", Mci(L"status mymusic length"));
  PlayMP3((dir + L"second.wav").c_str(), 1);  // cannot open the alias again: it holds the first file
  EXPECT_EQ(L"2000", Mci(L"status mymusic length"));
  if (::waveOutGetNumDevs() == 0) {
    std::printf("SKIPPED: no wave output device, so playing, pausing and resuming cannot be "
                "observed; checked that the alias opened the first file only\n");
    StopMP3(L"mymusic");
    EXPECT_EQ(L"stopped", Mci(L"status mymusic mode"));
    Mci(L"close mymusic");  // Wine's sound teardown at exit has crashed with the device still open
    GTEST_SKIP();
  }
  EXPECT_EQ(L"playing", mode);
  PauseMP3(L"mymusic");
  EXPECT_EQ(L"paused", Mci(L"status mymusic mode"));
  ResumeMP3(L"mymusic");
  EXPECT_EQ(L"playing", Mci(L"status mymusic mode"));
  StopMP3(L"mymusic");
  EXPECT_EQ(L"stopped", Mci(L"status mymusic mode"));
  Mci(L"close mymusic");
}

}  // namespace
