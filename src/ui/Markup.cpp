#include "ui/Markup.h"

#include <algorithm>

#include "util/HSUB.h"
#include "util/Utils.h"

namespace havrek {
namespace {

char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Case-blind search (a..z only, like the rest of the texts); npos when absent.
std::size_t FindNoCase(const std::string& s, const char* tag, std::size_t from = 0) {
  const std::int64_t at = PosFrom(tag, s, static_cast<std::int64_t>(from) + 1, true);
  return at > 0 ? static_cast<std::size_t>(at - 1) : std::string::npos;
}

// The keyboard letter of a key press: the character after the first "&", or
// the first character when there is none.
char AcceleratorOf(const std::string& caption) {
  const std::size_t amp = caption.find('&');
  if (amp == std::string::npos) return caption.empty() ? '\0' : caption[0];
  return amp + 1 < caption.size() ? caption[amp + 1] : '\0';
}

}  // namespace

std::string ConvertMarkup(const std::string& text) {
  std::string s = ReplaceAll(text, "\\\\n", "\r\n");
  s = ReplaceAll(s, "\\\\t", "\t");
  s = ReplaceAllNoCase(s, "<P>", "\r\n");
  return ReplaceAllNoCase(s, "<T>", "\t");
}

MarkupText ParseMarkup(const std::string& text) {
  MarkupText result;
  std::string& s = result.plain;
  s = ConvertMarkup(text);
  // The heading of an owner-code-0 box is written as "<<b>" so that a text of
  // the caller's that starts with "<b>" keeps its literal "<".
  if (s.rfind("<<b>", 0) == 0) s.erase(0, 1);

  std::vector<BoldRange> ranges;
  // Removing a tag can join its neighbours into a new one ("<<B>B>"), so
  // every search looks at the text as it is now.
  for (std::size_t open = FindNoCase(s, "<B>"); open != std::string::npos; open = FindNoCase(s, "<B>")) {
    s.erase(open, 3);
    const std::size_t close = FindNoCase(s, "</B>");
    if (close != std::string::npos && close >= open) {
      s.erase(close, 4);
      ranges.push_back({static_cast<std::int64_t>(open), static_cast<std::int64_t>(close)});
    }
  }
  for (std::size_t close = FindNoCase(s, "</B>"); close != std::string::npos; close = FindNoCase(s, "</B>", close))
    s.erase(close, 4);

  // Ranges keep the offsets they had when found; later removals can leave
  // them past the end of the text.
  const auto size = static_cast<std::int64_t>(s.size());
  for (BoldRange r : ranges) {
    r.end = std::min(r.end, size);
    if (r.start < r.end) result.bold.push_back(r);
  }
  return result;
}

std::uint32_t EffectiveFlags(std::uint32_t flags, int charset, std::intptr_t owner) {
  if (charset == kHebrewCharset || charset == kArabicCharset) flags |= mbRight | mbRtlReading;
  if (owner == kOwnerNoClose) flags |= mbNoClose;
  return flags;
}

std::string HeadingText(const std::string& title, const std::string& text) {
  const std::string heading = Pos(title, kTitleKinds) > 0 ? UpperCase(title) : title;
  return "<<b>" + heading + "</b><P><P>" + text + "<P>";
}

std::string TitleOrKind(const std::string& title, TitleKind kind) {
  return title.empty() ? SUB::GetField(kTitleKinds, kind) : title;
}

std::vector<BoxButton> ButtonsFor(std::uint32_t flags, const std::string& buttonList) {
  struct Slot {
    int field;
    int code;
  };
  static const std::vector<Slot> sets[] = {
      {{0, idOk}},
      {{0, idOk}, {1, idCancel}},
      {{4, idAbort}, {5, idRetry}, {6, idIgnore}},
      {{2, idYes}, {3, idNo}, {1, idCancel}},
      {{2, idYes}, {3, idNo}},
      {{5, idRetry}, {1, idCancel}},
  };
  const std::uint32_t set = flags & mbButtonMask;
  const std::vector<Slot>& slots = set < std::size(sets) ? sets[set] : sets[0];
  std::vector<BoxButton> buttons;
  for (const Slot& slot : slots) buttons.push_back({SUB::GetField(buttonList, slot.field), slot.code});
  return buttons;
}

int DefaultButtonIndex(std::uint32_t flags, int count) {
  if (count <= 0) return 0;
  return static_cast<int>(((flags & mbDefaultButtonMask) >> 8) % static_cast<std::uint32_t>(count));
}

int ButtonForChar(const std::vector<BoxButton>& buttons, char typed) {
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    const std::string& caption = buttons[i].caption;
    if (caption.size() < 2) continue;
    if (caption[1] == typed || caption[1] == UpperChar(typed)) return static_cast<int>(i);
  }
  return -1;
}

int ButtonForKey(const std::vector<BoxButton>& buttons, int virtualKey) {
  if (virtualKey < 'A' || virtualKey > 'Z') return -1;
  int found = -1;
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    const char letter = AcceleratorOf(buttons[i].caption);
    if (letter != '\0' && UpperChar(letter) == static_cast<char>(virtualKey)) found = static_cast<int>(i);
  }
  return found;
}

int NextButton(int focused, int count) {
  if (count <= 0) return -1;
  return focused < 0 || focused >= count - 1 ? 0 : focused + 1;
}

int PreviousButton(int focused, int count) {
  if (count <= 0) return -1;
  return focused <= 0 || focused >= count ? count - 1 : focused - 1;
}

int LineHeight(int fontHeight, int externalLeading, const std::string& faceName) {
  // This face's ascenders touch the line above without the extra pixel.
  return fontHeight + externalLeading + (SameTextTrim(faceName, "MS PGothic") ? 1 : 0);
}

BoxSize EstimateTextSize(const std::string& plain, int lineHeight,
                         const std::function<int(const std::string& line)>& lineWidth) {
  const std::string text = plain.empty() ? std::string(" ") : plain;
  BoxSize size;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t cut = text.find("\r\n", start);
    const std::size_t end = cut == std::string::npos ? text.size() : cut;
    const std::size_t next = cut == std::string::npos ? text.size() : cut + 2;
    // The loop never reaches the empty line after a trailing CR LF: the
    // control shows none there.
    const int w = std::max(0, lineWidth(text.substr(start, end - start)));
    size.width = std::max(size.width, w + 10);
    size.height += (w / kMaxLineWidth + 1) * lineHeight;
    start = next;
  }
  size.width = std::min(size.width, kMaxLineWidth);
  return size;
}

BoxSize ControlSizeFor(const BoxSize& estimate) { return {estimate.width + 10, estimate.height}; }

int FitBoldWidth(const BoxSize& estimate, const std::function<BoxSize(int width)>& sizeAt) {
  int widest = estimate.width;
  for (int i = 0; i < kBoldWidthTries; ++i) {
    const int width = estimate.width + kBoldWidthStep * i;
    const BoxSize requested = sizeAt(width);
    if (requested.height <= estimate.height) return width;
    widest = std::max(widest, requested.width);
  }
  return widest + 10;
}

BoxSize BoxWindowSize(const BoxSize& control, const FrameMetrics& frame) {
  const int marginX = control.width < 200 ? 64 : 32;
  const int marginY = control.height < 39 ? 45 : 32;
  BoxSize box;
  box.width = std::max(kMinBoxWidth, control.width + kBandWidth + 2 * marginX + 2 * frame.sizingFrameX);
  box.height = control.height + 36 + 2 * marginY + 2 * frame.sizingFrameY + frame.caption;
  return box;
}

BoxRect ControlRect(const BoxSize& control, int clientWidth, int clientHeight) {
  BoxRect r;
  r.x = kBandWidth + (clientWidth - kBandWidth - control.width) / 2;
  r.y = (clientHeight - 36 - control.height) / 2;
  r.width = control.width;
  r.height = clientHeight - r.y - 39;
  return r;
}

BoxRect ButtonRect(int index, int count, int clientWidth, int clientHeight) {
  BoxRect r;
  r.x = clientWidth - 80 - (count - 1 - index) * kButtonWidth;
  r.y = clientHeight - 29;
  r.width = kButtonWidth;
  r.height = kButtonHeight;
  return r;
}

}  // namespace havrek
