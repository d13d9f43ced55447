// Console tool that drives a running Fernup dialog for the demo script:
//   fernup-driver wait STATE   wait (60 s at most) until the buttons show STATE
//                              (Update, Exit, Readme, Browse: letter or "-")
//   fernup-driver wait-offer   wait until the fetched definition was accepted
//                              and Update is offered; fails as soon as the
//                              fetch has ended without an offer
//   fernup-driver wait-done    wait until the update has ended; fails unless
//                              it reported success
//   fernup-driver press-update | lines | close
// A failing wait prints the buttons and the message list, so that whoever
// runs the demo sees what the program said.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/common/DialogDriver.h"

namespace {

constexpr DWORD kVerdictTimeoutMs = 60000;
constexpr DWORD kUpdateTimeoutMs = 600000;
constexpr char kOfferLine[] = "新しい修正ファイルがあります。";
constexpr char kDoneLine[] = "アップデートが正常に完了しました。";
constexpr char kFailedLine[] = "アップデートに失敗しました。";

bool HasLine(HWND dialog, const char* text)
{
    std::vector<std::string> lines = DialogDriver::Lines(dialog);
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

void PrintState(HWND dialog)
{
    std::fprintf(stderr, "fernup-driver: buttons are %s; the messages:\n",
                 DialogDriver::Buttons(dialog).c_str());
    for (const std::string& line : DialogDriver::Lines(dialog))
        std::fprintf(stderr, "  %s\n", line.c_str());
}

// While the fetch runs every button is off; it has ended without an offer once
// Exit is on and Update is not.
bool WaitForOffer(HWND dialog)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < kVerdictTimeoutMs) {
        bool exitOn = DialogDriver::IsEnabled(dialog, DialogDriver::kExit);
        bool updateOn = DialogDriver::IsEnabled(dialog, DialogDriver::kUpdate);
        if (exitOn && updateOn && HasLine(dialog, kOfferLine))
            return true;
        if (exitOn && !updateOn)
            return false;
        Sleep(100);
    }
    return false;
}

bool WaitForDone(HWND dialog)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < kUpdateTimeoutMs) {
        if (HasLine(dialog, kFailedLine))
            return false;
        if (HasLine(dialog, kDoneLine))
            return true;
        Sleep(200);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    HWND dialog = DialogDriver::FindDialogByTitle(30000);
    if (dialog == nullptr) {
        std::fprintf(stderr, "fernup-driver: no Fernup dialog found\n");
        return 1;
    }
    if (std::strcmp(argv[1], "wait") == 0 && argc == 3) {
        if (!DialogDriver::WaitForButtons(dialog, argv[2], 60000)) {
            PrintState(dialog);
            return 1;
        }
    } else if (std::strcmp(argv[1], "wait-offer") == 0) {
        if (!WaitForOffer(dialog)) {
            std::fprintf(stderr, "fernup-driver: no update was offered\n");
            PrintState(dialog);
            return 1;
        }
    } else if (std::strcmp(argv[1], "wait-done") == 0) {
        if (!WaitForDone(dialog)) {
            std::fprintf(stderr, "fernup-driver: the update did not succeed\n");
            PrintState(dialog);
            return 1;
        }
    } else if (std::strcmp(argv[1], "press-update") == 0) {
        DialogDriver::Press(dialog, DialogDriver::kUpdate);
    } else if (std::strcmp(argv[1], "lines") == 0) {
        for (const std::string& line : DialogDriver::Lines(dialog))
            std::printf("%s\n", line.c_str());
    } else if (std::strcmp(argv[1], "close") == 0) {
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    } else {
        return 2;
    }
    return 0;
}
