#include "agent/StubInformDlg.h"

#include <cctype>

#include "util/Utils.h"
#include "util/UtilsSystem.h"

namespace havrek {

std::string InformPageText(const std::string& fileText) {
  const std::string text = fileText.starts_with(kScrambleMarker) ? ScrambleText(fileText, false, false) : fileText;
  std::size_t at = 0;
  for (int bar = 0; bar < 4; ++bar) {
    at = text.find('|', at);
    if (at == std::string::npos) return std::string();
    ++at;
  }
  return text.substr(at);
}

InformRect InformWindowRect(int screenWidth, int screenHeight, int width, int height) {
  return {(screenWidth - width) / 2, (screenHeight - height) / 2, width, height};
}

InformRect InformEditRect(int cw, int ch, bool hasLink) {
  return {kInformEditX, 0, cw - kInformEditX, hasLink ? ch - kInformBandHeight : ch};
}

InformRect InformButtonRect(int cw, int ch) {
  const int y = (kInformBandHeight - kInformButtonHeight) / 2 + ch - kInformBandHeight + 1;
  return {(cw - kInformButtonWidth) / 2, y, kInformButtonWidth, kInformButtonHeight};
}

int InformBandLineY(int ch) { return ch - kInformBandHeight; }

std::string InformPageFace(const std::string& fontName) {
  return fontName.empty() || fontName == "Tahoma" ? std::string("Verdana") : fontName;
}

bool IsWebLink(const std::string& link) {
  std::size_t rest = 0;
  for (const char* scheme : {"http://", "https://"}) {
    const std::string s = scheme;
    if (link.size() > s.size() && SameText(link.substr(0, s.size()), s)) rest = s.size();
  }
  if (rest == 0) return false;
  // No host ("http:///x", "http://\\server") and no control characters or
  // blanks, which no address holds and the shell would parse on its own.
  const unsigned char host = static_cast<unsigned char>(link[rest]);
  if (host == '/' || host == '\\') return false;
  for (char c : link)
    if (static_cast<unsigned char>(c) <= ' ' || c == '"') return false;
  return true;
}

}  // namespace havrek
