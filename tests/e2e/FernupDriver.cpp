// Console tool that drives a running Fernup dialog for the demo script:
//   fernup-driver wait STATE   wait (60 s at most) until the buttons show STATE
//                              (Update, Exit, Readme, Browse: letter or "-")
//   fernup-driver press-update | lines | close
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "tests/e2e/DialogDriver.h"

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
            std::fprintf(stderr, "fernup-driver: buttons are %s, not %s\n",
                         DialogDriver::Buttons(dialog).c_str(), argv[2]);
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
