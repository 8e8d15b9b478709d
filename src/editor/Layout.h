#pragma once
// Fixed places of the editor window at 100 % zoom, shared by painting and input.
namespace corvane::editor {

enum ButtonId {
    kButtonProgram = 1,
    kButtonPrevious,
    kButtonNext,
    kButtonRename,
    kButtonCategory,
    kButtonFile,
    kButtonZoom,
    kButtonNews,
    kButtonInstrument,
    kButtonLoadInstrument,
    kButtonPattern,
    kButtonTab = 20,  // one per page
};

constexpr double kKeyboardLeft = 74, kKeyboardRight = 950;
constexpr double kKeyboardTop = 530, kKeyboardHeight = 102;
constexpr int kFirstKey = 24, kLastKey = 83;
constexpr double kEffectPanelTop = 80, kEffectPanelWidth = 152, kEffectPanelGap = 4;

}  // namespace corvane::editor
