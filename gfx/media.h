#pragma once
// Sounds and MP3 playback through the system's sound and MCI services.
#include <windows.h>

#include "util/kv_api.h"

// Plays a WAVE sound asynchronously: a resource of the executable when fromResource is non-zero,
// otherwise a file. Returns what PlaySoundW returned.
KV_API BOOL PlayWav(LPCWSTR sound, int fromResource);
// Opens path under the MCI alias "mymusic" and plays it, over and over when repeat is non-zero.
// The alias is never closed, so only the first call of a process can open it.
KV_API void PlayMP3(LPCWSTR path, int repeat);
// Pause, resume and stop an MCI device by alias ("mymusic" for the one PlayMP3 opened).
KV_API void PauseMP3(LPCWSTR device);
KV_API void ResumeMP3(LPCWSTR device);
KV_API void StopMP3(LPCWSTR device);
