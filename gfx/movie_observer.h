#pragma once
// What the picture animations show, frame by frame, for whoever needs to follow them without
// reading the screen (the tests). Internal to the toolkit: not exported.
#include <windows.h>

namespace kv {

// Called on the animation's own thread right after a frame went to the window, with the
// animation's id and the memory DC that holds the frame (the animation's area at 0, 0).
using MovieFrameObserver = void (*)(int id, HDC frame);
// Null: nobody is told (the default).
void SetMovieFrameObserver(MovieFrameObserver observer);

}  // namespace kv
