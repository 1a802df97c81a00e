#include "gfx/media.h"

#include <mmsystem.h>

#include <string>

#include "gfx/fill_in.h"
#include "gfx/gfx_texts.h"

namespace {

namespace texts = kv::gfx;

constexpr UINT kMciReturnRoom = 200;

// The answers are not examined: the device's state is the caller's to ask for.
void SendMci(const std::wstring& command) {
  wchar_t answer[kMciReturnRoom] = {};
  ::mciSendStringW(command.c_str(), answer, kMciReturnRoom, nullptr);
}

}  // namespace

BOOL PlayWav(LPCWSTR sound, int fromResource) {
  if (fromResource)
    return ::PlaySoundW(sound, ::GetModuleHandleW(nullptr), SND_RESOURCE | SND_ASYNC);
  return ::PlaySoundW(sound, nullptr, SND_FILENAME | SND_ASYNC);
}

void PlayMP3(LPCWSTR path, int repeat) {
  // The path goes in unquoted, as callers have always passed it.
  SendMci(kv::FillIn(texts::kMciOpenFormat, path ? path : L""));
  SendMci(std::wstring(repeat ? texts::kMciPlayRepeat : texts::kMciPlay));
}

void PauseMP3(LPCWSTR device) {
  SendMci(kv::FillIn(texts::kMciPauseFormat, device ? device : L""));
}

void ResumeMP3(LPCWSTR device) {
  SendMci(kv::FillIn(texts::kMciResumeFormat, device ? device : L""));
}

void StopMP3(LPCWSTR device) { SendMci(kv::FillIn(texts::kMciStopFormat, device ? device : L"")); }
