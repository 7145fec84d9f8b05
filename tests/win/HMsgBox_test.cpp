#include "ui/HMsgBox.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <richedit.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "ui/UiKitWin.h"
#include "util/UtilsWaitWin.h"
#include "util/UtilsWin.h"
#include "util/WinHandle.h"
#include "BuildTree.h"

namespace havrek {
namespace {

// Every box of these tests closes by itself after this long, so that a
// keyboard fault fails the test instead of hanging it.
constexpr std::uint32_t kSafetyMs = 15000;

struct BoxParts {
  HWND box = nullptr;
  HWND edit = nullptr;
  std::vector<HWND> buttons;  // creation order: left to right
};

BOOL CALLBACK CollectPart(HWND child, LPARAM param) {
  auto* parts = reinterpret_cast<BoxParts*>(param);
  char cls[64] = {};
  GetClassNameA(child, cls, sizeof cls);
  if (lstrcmpiA(cls, "RICHEDIT") == 0) parts->edit = child;
  if (lstrcmpiA(cls, "BUTTON") == 0) parts->buttons.push_back(child);
  return TRUE;
}

BoxParts PartsOf(HWND box) {
  BoxParts parts;
  parts.box = box;
  EnumChildWindows(box, CollectPart, reinterpret_cast<LPARAM>(&parts));
  return parts;
}

std::function<void(const BoxParts&)> g_probe;
bool g_probed = false;

// Thread timers are served by the box's own loop, which it enters only once
// it is complete.
void CALLBACK ProbeTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  const HWND box = FindWindowA(kMsgBoxClass, nullptr);
  if (!box || GetWindowThreadProcessId(box, nullptr) != GetCurrentThreadId() || g_probed) return;
  KillTimer(nullptr, timer);
  g_probed = true;
  g_probe(PartsOf(box));
}

// Shows a box through show and runs probe on it once it is up.
template <class Show>
auto WithProbe(std::function<void(const BoxParts&)> probe, Show show) {
  g_probe = std::move(probe);
  g_probed = false;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, ProbeTimer);
  const std::int64_t start = TickMs();
  auto result = show();
  KillTimer(nullptr, timer);
  EXPECT_TRUE(g_probed) << "the box never came up";
  EXPECT_LT(TickMs() - start, kSafetyMs) << "the box ended by its safety time-out, not by the probe";
  return result;
}

std::string TextOf(HWND window) {
  const int n = GetWindowTextLengthA(window);
  std::string text(n + 1, '\0');
  text.resize(GetWindowTextA(window, text.data(), n + 1));
  return text;
}

bool IsBold(HWND edit, LONG start, LONG end) {
  CHARRANGE range = {start, end};
  SendMessageA(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
  CHARFORMATA format = {};
  format.cbSize = sizeof format;
  SendMessageA(edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  return (format.dwMask & CFM_BOLD) && (format.dwEffects & CFE_BOLD);
}

void PostKey(HWND box, WPARAM key) { PostMessageA(box, WM_KEYDOWN, key, 1); }

TEST(HMsgBox, OwnerCodeZeroShowsTheTitleAsABoldHeading) {
  std::string caption, text;
  bool headingBold = false, bodyBold = true;
  const int result = WithProbe(
      [&](const BoxParts& p) {
        caption = TextOf(p.box);
        text = TextOf(p.edit);
        headingBold = IsBold(p.edit, 0, 5);
        bodyBold = IsBold(p.edit, 9, 13);
        PostKey(p.box, 'O');
      },
      [] { return MarkupBox(kOwnerHeading, "Disk full", "Error", kSafetyMs, mbIconStop, 0, kDefaultButtonList); });
  EXPECT_EQ(result, idOk);
  EXPECT_EQ(caption, "Error");
  EXPECT_EQ(text, "ERROR\r\n\r\nDisk full\r\n");
  EXPECT_TRUE(headingBold);
  EXPECT_FALSE(bodyBold);

  WithProbe([&](const BoxParts& p) { text = TextOf(p.edit), PostKey(p.box, 'O'); },
            [] { return MarkupBox(kOwnerPlain, "Disk full", "Error", kSafetyMs, mbIconStop, 0, kDefaultButtonList); });
  EXPECT_EQ(text, "Disk full");
}

TEST(HMsgBox, KeyboardChoosesButtons) {
  struct Step {
    UINT message;
    WPARAM key;
  };
  const Step altF4 = {WM_SYSKEYDOWN, VK_F4};
  struct Case {
    const char* name;
    std::uint32_t flags;
    std::vector<Step> steps;
    int expected;
  } cases[] = {
      {"letter key", mbYesNo, {{WM_KEYDOWN, 'N'}}, idNo},
      {"typed character", mbYesNoCancel, {{WM_CHAR, 'c'}}, idCancel},
      {"enter on the default", mbYesNo | 0x100, {{WM_KEYDOWN, VK_RETURN}}, idNo},
      {"tab wraps from the last", mbYesNoCancel | 0x200, {{WM_KEYDOWN, VK_TAB}, {WM_KEYDOWN, VK_RETURN}}, idYes},
      {"left wraps from the first", mbYesNoCancel, {{WM_KEYDOWN, VK_LEFT}, {WM_KEYDOWN, VK_RETURN}}, idCancel},
      {"right and down", mbAbortRetryIgnore,
       {{WM_KEYDOWN, VK_RIGHT}, {WM_KEYDOWN, VK_DOWN}, {WM_KEYDOWN, VK_RETURN}}, idIgnore},
      {"up", mbRetryCancel | 0x100, {{WM_KEYDOWN, VK_UP}, {WM_KEYDOWN, VK_RETURN}}, idRetry},
      {"escape means nothing", mbOkCancel, {{WM_KEYDOWN, VK_ESCAPE}, {WM_KEYDOWN, 'C'}}, idCancel},
      {"unknown letter means nothing", mbOkCancel, {{WM_KEYDOWN, 'Q'}, {WM_CHAR, 'o'}}, idOk},
      {"alt+f4", mbYesNo, {altF4}, idNone},
      {"window menu close", mbYesNo, {{WM_SYSCOMMAND, SC_CLOSE}}, idNone},
  };
  for (const auto& c : cases) {
    const int result = WithProbe(
        [&](const BoxParts& p) {
          for (const Step& s : c.steps) {
            // Context bit 29 tells that Alt is down.
            const LPARAM lParam = s.message == WM_SYSCOMMAND ? 0 : s.message == WM_SYSKEYDOWN ? (1 | 1 << 29) : 1;
            PostMessageA(p.box, s.message, s.key, lParam);
          }
        },
        [&] { return MarkupBox(kOwnerPlain, "Choose", "Keys", kSafetyMs, c.flags, 0, kDefaultButtonList); });
    EXPECT_EQ(result, c.expected) << c.name;
  }
}

TEST(HMsgBox, DefaultButtonHasTheFocusAndTheLook) {
  int focused = -1;
  std::vector<bool> isDefault;
  WithProbe(
      [&](const BoxParts& p) {
        for (size_t i = 0; i < p.buttons.size(); ++i) {
          if (GetFocus() == p.buttons[i]) focused = static_cast<int>(i);
          isDefault.push_back((GetWindowLongA(p.buttons[i], GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON);
        }
        PostKey(p.box, 'Y');
      },
      [] { return MarkupBox(kOwnerPlain, "x", "t", kSafetyMs, mbYesNoCancel | 0x200, 0, kDefaultButtonList); });
  EXPECT_EQ(focused, 2);
  EXPECT_EQ(isDefault, (std::vector<bool>{false, false, true}));
}

TEST(HMsgBox, ButtonClickAndLanguageCaptions) {
  std::vector<std::string> captions;
  const int result = WithProbe(
      [&](const BoxParts& p) {
        for (HWND b : p.buttons) captions.push_back(TextOf(b));
        PostMessageA(p.buttons[1], BM_CLICK, 0, 0);
      },
      [] { return MarkupBox(kOwnerPlain, "x", "t", kSafetyMs, mbYesNo, 0, "|&Ja|&Abbrechen|&Ja|&Nein|"); });
  EXPECT_EQ(result, idNo);
  EXPECT_EQ(captions, (std::vector<std::string>{"&Ja", "&Nein"}));
}

TEST(HMsgBox, WrappersAnswerWithTheirButtons) {
  const auto press = [](WPARAM key) { return [key](const BoxParts& p) { PostKey(p.box, key); }; };
  EXPECT_TRUE(WithProbe(press('Y'), [] { return ConfirmBox(kOwnerPlain, "Go on?", "", kSafetyMs); }));
  EXPECT_FALSE(WithProbe(press('N'), [] { return ConfirmBox(kOwnerPlain, "Go on?", "", kSafetyMs); }));
  EXPECT_TRUE(WithProbe(press('O'), [] { return OkCancelBox(kOwnerPlain, "Go on?"); }));
  EXPECT_FALSE(WithProbe(press('C'), [] { return OkCancelBox(kOwnerPlain, "Go on?"); }));
  // Alt+F4 on a Yes/No box answers no.
  EXPECT_FALSE(WithProbe([](const BoxParts& p) { PostMessageA(p.box, WM_SYSKEYDOWN, VK_F4, 1 | 1 << 29); },
                         [] { return ConfirmBox(kOwnerPlain, "Go on?", "", kSafetyMs); }));

  std::string caption;
  WithProbe([&](const BoxParts& p) { caption = TextOf(p.box), PostKey(p.box, 'O'); },
            [] { return ErrorBox(kOwnerPlain, "x"), 0; });
  EXPECT_EQ(caption, "Error");
  WithProbe([&](const BoxParts& p) { caption = TextOf(p.box), PostKey(p.box, 'O'); },
            [] { return WarningBox(kOwnerPlain, "x", "", kSafetyMs), 0; });
  EXPECT_EQ(caption, "Attention");
}

TEST(HMsgBox, TimeOutPressesTheFirstButton) {
  const std::int64_t start = TickMs();
  // The default is No; the time-out still answers with the first button.
  EXPECT_EQ(MarkupBox(kOwnerPlain, "x", "t", 300, mbYesNo | 0x100, 0, kDefaultButtonList), idYes);
  EXPECT_GE(TickMs() - start, 300);
}

TEST(HMsgBox, OwnerCodeTwoRefusesTheCloseCommand) {
  UINT menuState = 0;
  const int result = WithProbe(
      [&](const BoxParts& p) {
        menuState = GetMenuState(GetSystemMenu(p.box, FALSE), SC_CLOSE, MF_BYCOMMAND);
        PostMessageA(p.box, WM_SYSCOMMAND, SC_CLOSE, 0);
        PostMessageA(p.box, WM_SYSKEYDOWN, VK_F4, 1 | 1 << 29);
        PostKey(p.box, 'C');
      },
      [] { return MarkupBox(kOwnerNoClose, "x", "t", kSafetyMs, mbOkCancel, 0, kDefaultButtonList); });
  EXPECT_EQ(result, idCancel);
  EXPECT_TRUE(menuState & MF_GRAYED);
}

TEST(HMsgBox, HebrewAndArabicTextRunsRightToLeft) {
  struct Case {
    int charset;
    bool rtl;
  } cases[] = {{kHebrewCharset, true}, {kArabicCharset, true}, {0, false}, {186, false}};
  for (const auto& c : cases) {
    LONG exStyle = 0, style = 0;
    WORD alignment = 0;
    WithProbe(
        [&](const BoxParts& p) {
          exStyle = GetWindowLongA(p.edit, GWL_EXSTYLE);
          style = GetWindowLongA(p.edit, GWL_STYLE);
          PARAFORMAT para = {};
          para.cbSize = sizeof para;
          SendMessageA(p.edit, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&para));
          alignment = para.wAlignment;
          PostKey(p.box, 'O');
        },
        [&] { return MarkupBox(kOwnerPlain, "line one<P>line two", "t", kSafetyMs, mbOk, c.charset, kDefaultButtonList); });
    EXPECT_EQ((exStyle & WS_EX_RTLREADING) != 0, c.rtl) << c.charset;
    EXPECT_EQ((style & ES_RIGHT) != 0, c.rtl) << c.charset;
    EXPECT_EQ(alignment == PFA_RIGHT, c.rtl) << c.charset;
  }
}

struct Placement {
  RECT window = {}, client = {}, edit = {};
  std::vector<RECT> buttons;
};

Placement PlacementOf(const BoxParts& p) {
  Placement at;
  GetWindowRect(p.box, &at.window);
  GetClientRect(p.box, &at.client);
  GetWindowRect(p.edit, &at.edit);
  MapWindowPoints(nullptr, p.box, reinterpret_cast<POINT*>(&at.edit), 2);
  for (HWND b : p.buttons) {
    RECT r;
    GetWindowRect(b, &r);
    MapWindowPoints(nullptr, p.box, reinterpret_cast<POINT*>(&r), 2);
    at.buttons.push_back(r);
  }
  return at;
}

TEST(HMsgBox, ShortTextGivesTheMinimumWidthCentredRightOfTheBand) {
  Placement at;
  WithProbe([&](const BoxParts& p) { at = PlacementOf(p), PostKey(p.box, 'Y'); },
            [] { return MarkupBox(kOwnerPlain, "Short.", "t", kSafetyMs, mbYesNoCancel, 0, kDefaultButtonList); });
  EXPECT_EQ(at.window.right - at.window.left, kMinBoxWidth);
  const int cw = at.client.right, ch = at.client.bottom;
  const int w = at.edit.right - at.edit.left;
  EXPECT_EQ(at.edit.left, kBandWidth + (cw - kBandWidth - w) / 2);
  EXPECT_EQ(at.edit.bottom, ch - 39);
  ASSERT_EQ(at.buttons.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(at.buttons[i].left, cw - 80 - (2 - i) * kButtonWidth) << i;
    EXPECT_EQ(at.buttons[i].top, ch - 29) << i;
    EXPECT_EQ(at.buttons[i].right - at.buttons[i].left, kButtonWidth) << i;
    EXPECT_EQ(at.buttons[i].bottom - at.buttons[i].top, kButtonHeight) << i;
  }
}

TEST(HMsgBox, LongLinesAreCappedAndEveryLineIsVisible) {
  const std::string longLine(300, 'w');
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"one long line", longLine},
      {"bold runs", "<b>Bold words</b> in a longer line that goes on <b>and on</b> for a while<P>" + longLine},
  };
  for (const auto& c : cases) {
    Placement at;
    POINTL last = {};
    int lines = 0;
    WithProbe(
        [&](const BoxParts& p) {
          at = PlacementOf(p);
          const LRESULT n = SendMessageA(p.edit, WM_GETTEXTLENGTH, 0, 0);
          SendMessageA(p.edit, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&last), n - 1);
          lines = static_cast<int>(SendMessageA(p.edit, EM_GETLINECOUNT, 0, 0));
          PostKey(p.box, 'O');
        },
        [&] { return MarkupBox(kOwnerPlain, c.text, "t", kSafetyMs, mbOk, 0, kDefaultButtonList); });
    const int w = at.edit.right - at.edit.left;
    EXPECT_GE(w, kMaxLineWidth) << c.name;
    EXPECT_LE(w, kMaxLineWidth + 10 + 10 * kBoldWidthTries + 10) << c.name;
    EXPECT_GT(lines, 1) << c.name;
    EXPECT_LT(last.y, at.edit.bottom - at.edit.top) << c.name;
  }
}

TEST(HMsgBox, ActiveWindowIsDisabledWhileTheBoxIsUp) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "HMsgBoxTestOwner";
  RegisterClassA(&wc);
  const HWND owner = CreateWindowExA(0, wc.lpszClassName, "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                     nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(owner, nullptr);
  SetActiveWindow(owner);
  bool enabledDuring = true;
  HWND boxOwner = nullptr;
  WithProbe(
      [&](const BoxParts& p) {
        enabledDuring = IsWindowEnabled(owner);
        boxOwner = GetWindow(p.box, GW_OWNER);
        PostKey(p.box, 'O');
      },
      [] { return MarkupBox(kOwnerPlain, "x", "t", kSafetyMs, mbOk, 0, kDefaultButtonList); });
  EXPECT_FALSE(enabledDuring);
  EXPECT_EQ(boxOwner, owner);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(GetActiveWindow(), owner);

  // A handle that is no window any more still shows the box, without owner.
  DestroyWindow(owner);
  const auto stale = reinterpret_cast<std::intptr_t>(owner);
  EXPECT_EQ(WithProbe([&](const BoxParts& p) { boxOwner = GetWindow(p.box, GW_OWNER), PostKey(p.box, 'O'); },
                      [&] { return MarkupBox(stale, "x", "t", kSafetyMs, mbOk, 0, kDefaultButtonList); }),
            idOk);
  EXPECT_EQ(boxOwner, nullptr);
  UnregisterClassA(wc.lpszClassName, wc.hInstance);
}

TEST(HMsgBox, AnswersAutoPlayAndRefusesASecondBox) {
  LRESULT autoPlay = 0;
  int second = -1;
  WithProbe(
      [&](const BoxParts& p) {
        autoPlay = SendMessageA(p.box, RegisterWindowMessageA("QueryCancelAutoPlay"), 0, 0);
        second = MarkupBox(kOwnerPlain, "again", "t", 0, mbOk, 0, kDefaultButtonList);
        PostKey(p.box, 'O');
      },
      [] { return MarkupBox(kOwnerPlain, "x", "t", kSafetyMs, mbOk, 0, kDefaultButtonList); });
  EXPECT_EQ(autoPlay, 1);
  EXPECT_EQ(second, idNone);
}

TEST(HMsgBox, QuitRequestEndsTheBoxAndReachesTheOuterLoop) {
  const int result = WithProbe([](const BoxParts&) { PostQuitMessage(5); },
                               [] { return MarkupBox(kOwnerPlain, "x", "t", kSafetyMs, mbOk, 0, kDefaultButtonList); });
  EXPECT_EQ(result, idNone);
  EXPECT_EQ(FindWindowA(kMsgBoxClass, nullptr), nullptr);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 5u);
}

TEST(HMsgBox, FontSettingsReachTheBox) {
  LOGFONTA font = {};
  const auto probe = [&](const BoxParts& p) {
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(p.buttons[0], WM_GETFONT, 0, 0)), sizeof font, &font);
    PostKey(p.box, 'O');
  };
  const auto show = [] { return MarkupBox(kOwnerPlain, "x", "t", kSafetyMs, mbOk, 0, kDefaultButtonList); };
  SetMsgBoxFont("Arial", 12, 0);
  WithProbe(probe, show);
  EXPECT_STREQ(font.lfFaceName, "Arial");
  EXPECT_EQ(font.lfHeight, -PointsToPixels(12));
  SetMsgBoxFont("Tahoma", 0, 1);  // 0 keeps the size
  WithProbe(probe, show);
  EXPECT_STREQ(font.lfFaceName, "Tahoma");
  EXPECT_EQ(font.lfHeight, -PointsToPixels(12));
  SetMsgBoxFont("Tahoma", 8, 1);
}

// ---- The UI driver fixture, as the end-to-end scenarios use it ----

using test::FixturePath;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

TEST(UiDriver, RecordsEachBoxAndPressesItsButton) {
  const std::string report = TempDir(true) + "havrek_ui_driver.txt";
  DeleteFileA(report.c_str());
  DeleteFileA((report + ".ready").c_str());
  const KernelHandle process = test::StartFixture("ui_driver.exe", "\"" + report + "\" /timeout=30 tab+enter key:n close");
  ASSERT_TRUE(process);
  for (int i = 0; i < 400 && GetFileAttributesA((report + ".ready").c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);

  EXPECT_EQ(MarkupBox(kOwnerHeading, "Insert <b>disk 2</b>", "Attention", kSafetyMs, mbYesNoCancel | 0x200, 0, kDefaultButtonList),
            idYes);
  EXPECT_EQ(MarkupBox(kOwnerPlain, "x", "Second", kSafetyMs, mbYesNo, kHebrewCharset, kDefaultButtonList), idNo);
  EXPECT_EQ(MarkupBox(kOwnerPlain, "y", "Third", kSafetyMs, mbOkCancel, 0, kDefaultButtonList), idNone);

  ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 0u);
  const std::string lines = ReadAll(report);
  const std::string first = lines.substr(0, lines.find('\n'));
  EXPECT_NE(first.find("\"class\": \"HMsgBox\", \"caption\": \"Attention\""), std::string::npos) << first;
  EXPECT_NE(first.find("\"text\": \"ATTENTION\\u000d\\u000a\\u000d\\u000aInsert disk 2\\u000d\\u000a\""),
            std::string::npos)
      << first;
  EXPECT_NE(first.find("\"buttons\": [\"&Yes\", \"&No\", \"&Cancel\"], \"focus\": 2"), std::string::npos) << first;
  EXPECT_NE(first.find("\"width\": 360"), std::string::npos) << first;
  EXPECT_NE(first.find("\"closed\": true"), std::string::npos) << first;
  EXPECT_NE(lines.find("\"index\": 2, \"class\": \"HMsgBox\", \"caption\": \"Second\""), std::string::npos) << lines;
  EXPECT_NE(lines.find("\"rtl\": true, \"right\": true, \"action\": \"key:n\""), std::string::npos) << lines;
  EXPECT_NE(lines.find("\"index\": 3"), std::string::npos) << lines;
  DeleteFileA(report.c_str());
  DeleteFileA((report + ".ready").c_str());
}

}  // namespace
}  // namespace havrek
