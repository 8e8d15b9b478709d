// Popup menus (control lists, MIDI learn, programs, categories, files, patterns) and the
// file browser, all drawn inside the editor window.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "editor/Editor.h"
#include "editor/Layout.h"
#include "patch/BuiltinPatches.h"
#include "platform/Paths.h"
#include "shell/VstSynth.h"

namespace corvane::editor {

namespace {
constexpr double kBrowserX = 120, kBrowserY = 74, kBrowserW = 720, kBrowserH = 448;
constexpr double kListTop = 170, kRowH = 18;
constexpr int kListRows = 16;

std::string lowerCase(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool inside(double x, double y, double bx, double by, double bw, double bh) {
    return x >= bx && x < bx + bw && y >= by && y < by + bh;
}

std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

constexpr int kPopupRows = 26;
constexpr double kPopupRowH = 18;
constexpr int kProgramPageSize = 64;

// How wide a popup's column is for these items, and how many columns they fill.
double popupItemWidth(const std::vector<std::string>& items) {
    size_t longest = 4;
    for (const std::string& s : items)
        longest = std::max(longest, s.size());
    return 24 + 7.2 * static_cast<double>(longest);
}

int popupColumns(size_t items) {
    return items == 0 ? 1 : static_cast<int>((items + kPopupRows - 1) / kPopupRows);
}

std::string parentOf(const std::string& folder) {
    std::string f = folder;
    while (f.size() > 1 && f.back() == '/')
        f.pop_back();
    const size_t cut = f.rfind('/');
    if (cut == std::string::npos || cut == 0) return "/";
    return f.substr(0, cut + 1);
}
}  // namespace

void ADEditor::openPopup(double x, double y, std::vector<std::string> items,
                         std::function<void(int)> chosen, std::vector<bool> enabled) {
    auto p = std::make_unique<Popup>();
    p->itemH = kPopupRowH;
    p->rows =
        static_cast<int>(items.size()) > kPopupRows ? kPopupRows : static_cast<int>(items.size());
    if (p->rows < 1) p->rows = 1;
    const int columns = popupColumns(items.size());
    // Every column stays inside the window (long items are cut off), so every item can be
    // reached.
    p->itemW = std::min(popupItemWidth(items), (kWidth - 8.0) / columns);
    const double w = p->itemW * columns, h = p->itemH * p->rows;
    if (x + w > kWidth - 4) x = kWidth - 4 - w;
    if (y + h > kHeight - 4) y = kHeight - 4 - h;
    p->x = x < 4 ? 4 : x;
    p->y = y < 4 ? 4 : y;
    p->items = std::move(items);
    p->enabled = std::move(enabled);
    p->chosen = std::move(chosen);
    popup_ = std::move(p);
    if (window_) window_->invalidate();
}

int ADEditor::popupItemAt(double x, double y) const {
    if (!popup_) return -1;
    const Popup& p = *popup_;
    if (x < p.x || y < p.y) return -1;
    const int column = static_cast<int>((x - p.x) / p.itemW);
    const int row = static_cast<int>((y - p.y) / p.itemH);
    if (row >= p.rows) return -1;
    const int i = column * p.rows + row;
    return i < static_cast<int>(p.items.size()) ? i : -1;
}

void ADEditor::openControlMenu(int control) {
    const Control& k = controls_[control];
    const std::vector<ListEntry> entries = listEntriesOf(k.slot);
    if (entries.empty()) return;
    double x, y, w, h;
    controlRect(k, &x, &y, &w, &h);
    std::vector<std::string> items;
    for (const ListEntry& e : entries)
        items.push_back(e.label);
    const int slot = k.slot;
    openPopup(x, y + h, std::move(items),
              [this, slot, entries](int i) { setByGesture(slot, entries[i].value); });
    popup_->highlighted = entryIndexOf(entries, value(slot));
}

void ADEditor::openLearnMenu(int control) {
    const Control& k = controls_[control];
    const int slot = k.slot;
    const int cc = slot < kStoredSlots ? synth_.ccOfParam[slot] : 255;
    char info[48];
    if (cc == 255)
        std::snprintf(info, sizeof info, "No controller");
    else
        std::snprintf(info, sizeof info, "Controller %d", cc);
    double x, y, w, h;
    controlRect(k, &x, &y, &w, &h);
    openPopup(mouseX_, mouseY_, {"MIDI Learn", "MIDI Forget", info},
              [this, slot](int i) {
                  if (i == 0) synth_.learn(slot);
                  if (i == 1) synth_.forget(slot);
              },
              {true, cc != 255, false});
}

// The programs of the category filter. When their full names do not fit the window side by
// side, the menu shows them in pages of 64 (the page with the current program first) with
// an entry that turns to the other page.
void ADEditor::openProgramMenu(int page) {
    const int filter = synth_.editorViewState[1];
    std::vector<std::string> names;
    std::vector<int> programs;
    for (int i = 0; i < kNumPrograms; ++i) {
        const float cat = synth_.engine.patches[i].slots[322];
        if (filter >= 0 && filter < kCategoryCount && static_cast<int>(cat + 0.1f) != filter + 1)
            continue;
        char t[48];
        std::snprintf(t, sizeof t, "%03d %s", i + 1, synth_.engine.patches[i].name);
        names.push_back(t);
        programs.push_back(i);
    }
    if (names.empty()) {
        openPopup(10, 36, {"(no program in this category)"}, nullptr, {false});
        return;
    }
    const int n = static_cast<int>(names.size());
    const bool paged = popupColumns(names.size()) * popupItemWidth(names) > kWidth - 8;
    const int pages = paged ? (n + kProgramPageSize - 1) / kProgramPageSize : 1;
    if (page < 0) {
        page = 0;
        for (int i = 0; i < n; ++i)
            if (programs[i] == synth_.engine.currentProgram) page = i / kProgramPageSize;
    }
    page = pages > 1 ? (page < 0 ? 0 : (page >= pages ? pages - 1 : page)) : 0;
    const int first = pages > 1 ? page * kProgramPageSize : 0;
    const int last = pages > 1 ? std::min(n, first + kProgramPageSize) : n;  // one past

    std::vector<std::string> items(names.begin() + first, names.begin() + last);
    std::vector<int> targets(programs.begin() + first, programs.begin() + last);
    // Entries that turn the page carry -1 - (the page they show).
    auto pageEntry = [&](int to, const char* before, const char* after) {
        const int from = to * kProgramPageSize;
        const int through = std::min(n, from + kProgramPageSize) - 1;
        char t[64];
        std::snprintf(t, sizeof t, "%sPrograms %03d-%03d%s", before, programs[from] + 1,
                      programs[through] + 1, after);
        items.push_back(t);
        targets.push_back(-1 - to);
    };
    if (page > 0) pageEntry(page - 1, "<< ", "");
    if (page + 1 < pages) pageEntry(page + 1, "", " >>");
    openPopup(10, 36, std::move(items), [this, targets](int i) {
        if (targets[i] >= 0)
            selectProgram(targets[i]);
        else
            openProgramMenu(-1 - targets[i]);
    });
}

void ADEditor::openCategoryMenu() {
    std::vector<std::string> items{"Category: None"};
    for (int i = 0; i < kCategoryCount; ++i)
        items.push_back(kCategoryNames[i]);
    openPopup(396, 36, std::move(items), [this](int i) { setCategory(i); });
}

void ADEditor::openFileMenu() {
    openPopup(610, 36,
              {"Load SFZ/REX...", "Load Patch...", "Save Patch...", "Load Bank...", "Save Bank..."},
              [this](int i) {
                  static const BrowseFor purposes[5] = {BrowseFor::instrument, BrowseFor::loadPatch,
                                                        BrowseFor::savePatch, BrowseFor::loadBank,
                                                        BrowseFor::saveBank};
                  openBrowser(purposes[i]);
              });
}

void ADEditor::openPatternMenu() {
    std::vector<std::string> items;
    for (int k = 0; k < kArpPresetCount; ++k)
        items.push_back(arpPreset(k).name);
    openPopup(250, 140, std::move(items), [this](int k) {
        synth_.applyArpPattern(k);
        if (window_) window_->invalidate();
    });
}

// ---- the file browser -------------------------------------------------------------------

void ADEditor::openBrowser(BrowseFor purpose) {
    popup_.reset();
    browser_ = std::make_unique<Browser>();
    browser_->purpose = purpose;
    std::string start = lastFolder_;
    if (start.empty() || !platform::isDirectory(start)) start = platform::homeFolder();
    readFolder(withSlash(start));
    if (window_) window_->invalidate();
}

void ADEditor::readFolder(const std::string& folder) {
    Browser& b = *browser_;
    b.folder = withSlash(folder);
    b.entries.clear();
    for (std::string& name : platform::listFolder(b.folder))
        if (name.back() == '/' || b.filter == 1 || browserWants(name)) b.entries.push_back(name);
    b.scroll = 0;
    b.selected = -1;
    b.typed = b.folder;
}

bool ADEditor::browserWants(const std::string& name) const {
    const std::string n = lowerCase(name);
    switch (browser_->purpose) {
        case BrowseFor::instrument:
            return n.find(".sfz") != std::string::npos || n.find(".rex") != std::string::npos ||
                   n.find(".rx2") != std::string::npos || n.find(".rcy") != std::string::npos;
        case BrowseFor::loadPatch:
        case BrowseFor::savePatch:
            return n.find(".fxp") != std::string::npos;
        case BrowseFor::loadBank:
        case BrowseFor::saveBank:
            return n.find(".fxb") != std::string::npos;
    }
    return false;
}

void ADEditor::browserClick(double x, double y, bool doubleClick) {
    Browser& b = *browser_;
    if (inside(x, y, kBrowserX + 10, kBrowserY + 26, 70, 26)) {
        readFolder(parentOf(b.folder));
    } else if (inside(x, y, kBrowserX + 86, kBrowserY + 26, 70, 26)) {
        readFolder(platform::homeFolder());
    } else if (inside(x, y, kBrowserX + 162, kBrowserY + 26, 220, 26)) {
        b.filter = 1 - b.filter;
        readFolder(b.folder);
    } else if (inside(x, y, kBrowserX + kBrowserW - 170, kBrowserY + kBrowserH - 36, 76, 26)) {
        browser_.reset();
    } else if (inside(x, y, kBrowserX + kBrowserW - 86, kBrowserY + kBrowserH - 36, 76, 26)) {
        browserAccept(b.typed);
    } else if (inside(x, y, kBrowserX + 10, kListTop, kBrowserW - 20, kListRows * kRowH)) {
        const int i = b.scroll + static_cast<int>((y - kListTop) / kRowH);
        if (i < 0 || i >= static_cast<int>(b.entries.size())) return;
        const std::string name = b.entries[i];
        if (doubleClick && i == b.selected) {
            if (name.back() == '/')
                readFolder(b.folder + name);
            else
                browserAccept(b.folder + name);
            return;
        }
        b.selected = i;
        b.typed = b.folder + name;
    }
    if (window_) window_->invalidate();
}

void ADEditor::browserKey(Key key, const char* text) {
    Browser& b = *browser_;
    switch (key) {
        case Key::escape:
            browser_.reset();
            break;
        case Key::enter:
            browserAccept(b.typed);
            break;
        case Key::backspace:
            if (!b.typed.empty()) b.typed.pop_back();
            break;
        case Key::character:
            // A path typed from its root replaces the folder the field starts with.
            if (text[0] == '/' && b.typed == b.folder)
                b.typed = text;
            else
                b.typed += text;
            break;
        case Key::down:
        case Key::up: {
            const int n = static_cast<int>(b.entries.size());
            if (n == 0) break;
            b.selected += key == Key::down ? 1 : -1;
            b.selected = b.selected < 0 ? 0 : (b.selected >= n ? n - 1 : b.selected);
            if (b.selected < b.scroll) b.scroll = b.selected;
            if (b.selected >= b.scroll + kListRows) b.scroll = b.selected - kListRows + 1;
            b.typed = b.folder + b.entries[b.selected];
            break;
        }
        default:
            break;
    }
    if (window_) window_->invalidate();
}

// The typed or chosen path: a folder is opened, a file is used for the browser's purpose.
void ADEditor::browserAccept(const std::string& chosen) {
    if (chosen.empty()) return;
    std::string path = chosen;
    if (path[0] != '/') path = browser_->folder + path;
    if (platform::isDirectory(path)) {
        readFolder(path);
        if (window_) window_->invalidate();
        return;
    }
    const BrowseFor purpose = browser_->purpose;
    const std::string lower = lowerCase(path);
    // Patch and bank files are only read or written under their own extension; a name
    // typed without one gets it.
    if (purpose == BrowseFor::savePatch && lower.find(".fxp") == std::string::npos) path += ".fxp";
    if (purpose == BrowseFor::saveBank && lower.find(".fxb") == std::string::npos) path += ".fxb";
    const bool loading = purpose == BrowseFor::loadPatch || purpose == BrowseFor::loadBank ||
                         purpose == BrowseFor::instrument;
    if (loading && !platform::pathExists(path)) return;  // nothing to open: stay
    const size_t cut = path.rfind('/');
    lastFolder_ = cut == std::string::npos ? browser_->folder : path.substr(0, cut + 1);
    browser_.reset();
    switch (purpose) {
        case BrowseFor::instrument:
            loadInstrument(path);
            break;
        case BrowseFor::loadPatch:
            if (lower.find(".fxp") != std::string::npos) synth_.loadProgramFile(path.c_str());
            break;
        case BrowseFor::savePatch:
            synth_.saveProgramFile(path.c_str());
            break;
        case BrowseFor::loadBank:
            if (lower.find(".fxb") != std::string::npos) synth_.loadBankFile(path.c_str());
            break;
        case BrowseFor::saveBank:
            synth_.saveBankFile(path.c_str());
            break;
    }
    reloadFromPatch();
    if (window_) window_->invalidate();
}

void ADEditor::paintBrowser(Canvas& c) {
    const Browser& b = *browser_;
    static const char* const titles[5] = {"Load SFZ/REX...", "Load Patch...", "Save Patch...",
                                          "Load Bank...", "Save Bank..."};
    const Color text{0.88, 0.89, 0.90}, dim{0.58, 0.60, 0.63}, fieldColor{0.10, 0.11, 0.12},
        accent{0.96, 0.62, 0.18};
    c.setColor({0, 0, 0, 0.55});
    c.fillRect(0, 0, kWidth, kHeight);
    c.setColor({0.19, 0.205, 0.225});
    c.fillRoundRect(kBrowserX, kBrowserY, kBrowserW, kBrowserH, 8);
    c.setColor(text);
    c.text(kBrowserX + 12, kBrowserY + 18, titles[static_cast<int>(b.purpose)], 13, Align::left,
           true);
    auto button = [&](double x, double y, double w, const char* label) {
        c.setColor(fieldColor);
        c.fillRoundRect(x, y, w, 26, 4);
        c.setColor(text);
        c.text(x + w / 2, y + 18, label, 12, Align::center);
    };
    button(kBrowserX + 10, kBrowserY + 26, 70, "Parent");
    button(kBrowserX + 86, kBrowserY + 26, 70, "Home");
    const char* filterName = "SFZ/REX files (*.sfz, *.rex, *.rx2, *.rcy)";
    if (b.purpose == BrowseFor::loadPatch || b.purpose == BrowseFor::savePatch)
        filterName = "Cubase Program (.fxp)";
    if (b.purpose == BrowseFor::loadBank || b.purpose == BrowseFor::saveBank)
        filterName = "Cubase Bank (.fxb)";
    button(kBrowserX + 162, kBrowserY + 26, 220, b.filter == 1 ? "All files" : filterName);
    c.setColor(fieldColor);
    c.fillRect(kBrowserX + 10, kBrowserY + 60, kBrowserW - 20, 28);
    c.setColor(text);
    c.clip(kBrowserX + 12, kBrowserY + 60, kBrowserW - 24, 28);
    c.text(kBrowserX + 16, kBrowserY + 79, (b.typed + "|").c_str(), 12);
    c.resetClip();
    c.setColor(fieldColor);
    c.fillRect(kBrowserX + 10, kListTop, kBrowserW - 20, kListRows * kRowH);
    for (int r = 0; r < kListRows; ++r) {
        const int i = b.scroll + r;
        if (i >= static_cast<int>(b.entries.size())) break;
        const double y = kListTop + r * kRowH;
        if (i == b.selected) {
            c.setColor(accent);
            c.fillRect(kBrowserX + 10, y, kBrowserW - 20, kRowH);
            c.setColor({0.1, 0.1, 0.1});
        } else {
            c.setColor(b.entries[i].back() == '/' ? dim : text);
        }
        c.text(kBrowserX + 18, y + 13, b.entries[i].c_str(), 12);
    }
    const bool saving = b.purpose == BrowseFor::savePatch || b.purpose == BrowseFor::saveBank;
    button(kBrowserX + kBrowserW - 170, kBrowserY + kBrowserH - 36, 76, "Cancel");
    button(kBrowserX + kBrowserW - 86, kBrowserY + kBrowserH - 36, 76, saving ? "Save" : "Open");
}

}  // namespace corvane::editor
