#include "installer/patience.h"

#include <algorithm>

bool Patience::Pause(DWORD& pause) {
  if (left_ms_ == 0) return false;
  const DWORD wait = std::min(pause, left_ms_);
  Sleep(wait);
  left_ms_ -= wait;
  pause = std::min(2 * pause, kLongestPauseMilliseconds);
  return true;
}
