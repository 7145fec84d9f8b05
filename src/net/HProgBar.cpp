#include "net/HProgBar.h"

#include "util/UtilsWaitWin.h"

namespace havrek {

// Serving the queue without the customary 1 ms nap: a download notifies
// hundreds of times, and the naps would add up to seconds.
void TProgBar::SetProgress(int position, int maximum) {
  YieldX(0);
  if (sink_) sink_(0, 0, maximum, position, 1, std::string());
  YieldX(0);
}

void TProgBar::SetText(const std::string& text) {
  YieldX(0);
  if (sink_) sink_(1, 0, 0, 0, 0, text);
  YieldX(0);
}

}  // namespace havrek
