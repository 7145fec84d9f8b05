// Auto-inform: the information page an author publishes instead of an
// update, fetched, checked against the build and shown in a window of its own
// (class "HRichEditBox": the page in a read-only rich-edit control and, when
// the .info file names a link, a band with a button that opens it).
// The page file and the window's arithmetic are portable; the window itself
// is Win32 only.
#pragma once

#include <cstdint>
#include <string>

namespace havrek {

inline constexpr char kInformPageClass[] = "HRichEditBox";

// ---- The page file ----
// The text shown: everything after the fourth "|" of the file (restored
// first when it is stored scrambled); empty when there are fewer "|".
std::string InformPageText(const std::string& fileText);

// ---- Geometry (pixels) ----
inline constexpr int kInformBandHeight = 43;
inline constexpr int kInformEditX = 3;
inline constexpr int kInformButtonWidth = 160;
inline constexpr int kInformButtonHeight = 25;
inline constexpr int kInformPageFontHeight = 15;

struct InformRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};
// The outer window of width x height centred on a screen; halves truncate
// toward zero, so a window larger than the screen gets a negative corner.
InformRect InformWindowRect(int screenWidth, int screenHeight, int width, int height);
// In a client area of cw x ch: the page text, shorter by the band when there
// is a link, and the button centred in the band.
InformRect InformEditRect(int cw, int ch, bool hasLink);
InformRect InformButtonRect(int cw, int ch);
// The band's dark top line; the button-face fill starts one pixel below.
int InformBandLineY(int ch);

// ---- Fonts ----
// The face of the page text: the author's FontName, except that the
// default "Tahoma" (or none) reads better as "Verdana" at the page's size.
std::string InformPageFace(const std::string& fontName);

// ---- The link ----
// Only a web address (http:// or https:// with a host) is handed to the
// shell: the link comes from a .info file fetched over plain HTTP, and the
// shell would just as well start a local program, a share or a file: URL.
bool IsWebLink(const std::string& link);

// Fetches the page the .info file names and shows it; true if a page was
// shown or its link was opened. The same page is then not offered again.
bool PerformAutoInform();

// Shows a page (owner: the owning window's handle, 0 for none); returns when
// the window is closed. With an empty text, only the link is opened. True if
// the page was shown or the link opened; false with neither, while another
// page is up, or when the link is no web address and there is no text.
bool ShowInformPage(std::intptr_t owner, const std::string& title, const std::string& buttonCaption,
                    const std::string& pageText, const std::string& link, int width, int height,
                    const std::string& faceName, int points, int charset);

}  // namespace havrek
