#pragma once
// Icons drawn by the program: a square of 32-bit ARGB pixels, top row first.
#include <windows.h>

#include <cstdint>

#include "platform/win/Handle.h"

namespace ui {

// Pixels with alpha below 128 are transparent also for image lists that
// ignore alpha.
win::Icon IconFromPixels(int size, const uint32_t* argb);

}  // namespace ui
