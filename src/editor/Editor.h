#pragma once
// The plug-in's editor window: knobs, switches and menus bound to parameter slots, the
// on-screen keyboard, program, category and file menus, the file browser, MIDI learn, the
// modulation matrix, the arpeggiator lanes and the effect rack panels.
//
// Threads: the EditorLink notifications (parameterChanged, programChanged, ...) may come
// from any thread, the audio thread included; they only store into atomics. Everything
// else runs on the host's user interface thread, inside effEditOpen/Idle/Close.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "editor/Lists.h"
#include "editor/NativeWindow.h"
#include "patch/Slots.h"
#include "shell/EditorLink.h"

namespace corvane {
class VstSynth;
}

namespace corvane::net {
class NewsBoard;
class NewsLine;
}  // namespace corvane::net

namespace corvane::editor {

enum class Kind { knob, toggle, menu, slider, laneStep, wheel };

struct Control {
    Kind kind = Kind::knob;
    int slot = -1;
    double x = 0, y = 0, w = 0, h = 0;  // at 100 % zoom; effect panel controls are relative
    std::string label;
    int page = 0;
    int panel = -1;  // effect number for controls on an effect panel
    int lane = 0;    // arpeggiator lane of a lane step: 0 notes, 1 second lane
};

struct Section {
    int page = 0;
    double x = 0, y = 0, w = 0, h = 0;
    std::string title;
};

struct Button {
    int id = 0;
    double x = 0, y = 0, w = 0, h = 0;
};

class ADEditor final : public EditorLink, private WindowClient {
  public:
    static constexpr int kWidth = 960;
    static constexpr int kHeight = 640;
    static constexpr int kPages = 5;

    // The news line reads `newsBoard` (the process's board unless given) and, when this is
    // the first editor on that board, fetches `newsUrl` (the built-in address when empty).
    explicit ADEditor(VstSynth& synth, net::NewsBoard* newsBoard = nullptr,
                      std::string newsUrl = {});
    ~ADEditor() override;

    // EditorLink
    bool open(void* parentWindow) override;
    void close() override;
    void idle() override;
    bool isOpen() const override { return window_ != nullptr; }
    bool getRect(vst::ERect** rect) override;
    void hostWheel(int x, int y, float distance) override;
    void parameterChanged(int slot, float value) override;
    void programChanged() override;
    void programNameChanged() override;
    void noteReported(int key, bool on) override;
    void keyboardChanged() override;

    // For tests and the screenshot tool: where a slot's control sits on its page (window
    // pixels at the current zoom); false when the slot has no control.
    bool controlCenter(int slot, int* page, int* x, int* y) const;

  private:
    // WindowClient
    void paint(Canvas& c) override;
    void mouseDown(const MouseEvent& e) override;
    void mouseUp(const MouseEvent& e) override;
    void mouseMove(const MouseEvent& e) override;
    void wheel(const MouseEvent& e, double steps) override;
    void keyDown(Key key, const char* text, unsigned modifiers) override;
    void fileDropped(const char* path) override;
    void mouseLeft() override;

    // layout (EditorLayout.cpp)
    void buildLayout();
    void add(Kind kind, int slot, double x, double y, const char* label, int page, int panel = -1);
    double panelX(int effect) const;
    void controlRect(const Control& c, double* x, double* y, double* w, double* h) const;
    int controlAt(double x, double y) const;  // index into controls_, -1 for none
    int buttonAt(double x, double y) const;

    // values and gestures (Editor.cpp)
    float value(int slot) const;
    void beginEdit(int slot);
    void performEdit(int slot, float v);
    void endEdit(int slot);
    void setByGesture(int slot, float v);
    std::string displayText(int slot, float v) const;
    void reloadFromPatch();
    void applyStoredEffectOrder();
    void moveEffect(int effect, int toPosition);
    void setZoom(int zoom);
    void setPage(int page);
    double zoomFactor() const;
    int page() const;
    void selectProgram(int program);
    void setCategory(int category);
    void loadInstrument(const std::string& path);

    // painting (EditorPaint.cpp)
    void paintHeader(Canvas& c);
    void paintSections(Canvas& c);
    void paintControl(Canvas& c, const Control& k, bool focused);
    void paintKeyboard(Canvas& c);
    void paintEffectPanels(Canvas& c);
    void paintLanes(Canvas& c);
    void paintPopup(Canvas& c);
    void paintBrowser(Canvas& c);
    void paintTooltip(Canvas& c);
    void paintTextEdit(Canvas& c);

    // menus and the browser (EditorMenus.cpp)
    struct Popup {
        std::vector<std::string> items;
        std::vector<bool> enabled;
        int highlighted = -1;
        double x = 0, y = 0, itemW = 0, itemH = 18;
        int rows = 1;
        std::function<void(int)> chosen;
    };
    void openPopup(double x, double y, std::vector<std::string> items,
                   std::function<void(int)> chosen, std::vector<bool> enabled = {});
    int popupItemAt(double x, double y) const;
    void openControlMenu(int control);
    void openLearnMenu(int control);
    void openProgramMenu(int page = -1);  // -1: the page with the current program
    void openCategoryMenu();
    void openFileMenu();
    void openPatternMenu();
    void handleButton(int id, const MouseEvent& e);

    enum class BrowseFor { instrument, loadPatch, savePatch, loadBank, saveBank };
    struct Browser {
        BrowseFor purpose = BrowseFor::instrument;
        std::string folder;
        std::vector<std::string> entries;  // folders end in "/"
        int scroll = 0;
        int selected = -1;
        std::string typed;  // the path field
        int filter = 0;     // 0 this purpose's types, 1 every file
    };
    void openBrowser(BrowseFor purpose);
    void readFolder(const std::string& folder);
    void browserClick(double x, double y, bool doubleClick);
    void browserKey(Key key, const char* text);
    void browserAccept(const std::string& chosen);
    bool browserWants(const std::string& name) const;

    // keyboard (EditorInput.cpp)
    int keyAt(double x, double y, int* velocity) const;
    void adjust(int control, double steps, unsigned modifiers);
    void setLaneFromPointer(double x, double y);
    void releaseClickedKey();
    void releaseBend();

    VstSynth& synth_;
    std::unique_ptr<NativeWindow> window_;
    vst::ERect rect_{};

    // Written from any thread; read on the user interface thread.
    std::atomic<float> values_[kNumSlots];
    std::atomic<uint64_t> dirtySlots_[(kNumSlots + 63) / 64];
    std::atomic<bool> programDirty_{false};
    std::atomic<bool> nameDirty_{false};
    std::atomic<bool> keysDirty_{false};
    std::atomic<uint8_t> noteShown_[128];

    // User interface thread only.
    std::vector<Control> controls_;
    std::vector<Button> buttons_;
    std::vector<Section> sections_;
    uint8_t keyMap_[60] = {};
    int dragControl_ = -1;
    double dragStartX_ = 0, dragStartY_ = 0;
    float dragStartValue_ = 0;
    bool dragFine_ = false;
    int dragEffect_ = -1;  // effect panel being moved
    double dragEffectX_ = 0;
    int focused_ = -1;
    int hovered_ = -1;
    double mouseX_ = 0, mouseY_ = 0;
    int lastClickControl_ = -2;
    uint32_t lastClickTime_ = 0;
    int clickedKey_ = -1;
    std::unique_ptr<Popup> popup_;
    std::unique_ptr<Browser> browser_;
    std::string lastFolder_;
    bool editingName_ = false;
    std::string nameEdit_;
    std::string instrumentName_ = "---";
    int laneDrag_ = -1;    // lane being painted across
    int shownLearn_ = -1;  // the slot waiting for MIDI learn when last painted
    int bendDrag_ = -1;    // the pitch wheel held: the control's index

    // The news button: one line per window opening (it starts the board's one fetch).
    net::NewsBoard& newsBoard_;
    std::string newsUrl_;
    std::unique_ptr<net::NewsLine> news_;
    bool newsShown_ = false;
};

// The factory the plug-in library registers (see setEditorFactory).
EditorLink* makeEditor(VstSynth& synth);

}  // namespace corvane::editor
