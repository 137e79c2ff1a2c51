#include "config/config_window.h"

#include <irrlicht.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "capture/adapter_list.h"
#include "config/config_choices.h"
#include "core/irr_ptr.h"
#include "core/wide_text.h"
#include "platform/adapter_info.h"
#include "platform/config_file.h"
#include "platform/process.h"

namespace tessel {

using namespace irr;

namespace {

enum ElementId {
    kAdapterList = 201,
    kDriverBox,
    kFullscreenBox,
    kWidthEdit,
    kHeightEdit,
    kOpaqueBox,
    kFrameLimitBox,
    kFilterEdit,
    kSaveButton,
    kCancelButton,
    kSourceBox,
    kListenEdit,
};

const s32 kWidth = 560, kHeight = 505;

std::string adapterLine(const InterfaceAddress& a) {
    std::string line = a.name + "    " + ipv4Text(a, " / ") + "    " + (a.up ? "up" : "down");
    // The first IPv6 address (global ones come first) and how many more: the row stays short.
    if (!a.ipv6.empty())
        line += "    " + a.ipv6[0].address + "/" + std::to_string(a.ipv6[0].prefixLength) +
                (a.ipv6.size() > 1 ? " +" + std::to_string(a.ipv6.size() - 1) : "");
    return line;
}

// Looks for res.dat in the current folder, beside the program, and in an installed data folder.
void mountMedia(io::IFileSystem* fs) {
    std::string dir = programDirectory();
    for (const std::string& p :
         {std::string("res.dat"), dir + "/res.dat", dir + "/../share/tessel/res.dat"})
        if (access(p.c_str(), R_OK) == 0 && fs->addFileArchive(p.c_str(), true, true, io::EFAT_ZIP))
            return;
}

class ConfigWindow : public IEventReceiver {
  public:
    ConfigWindow(IrrlichtDevice* d, bool respawn) : device(d), startTessel(respawn) {
        std::string routes = readRouteTable();
        std::string error;
        std::vector<InterfaceAddress> adapters = listCaptureAdapters(&error);
        choices = loadConfigChoices(configFilePath(), adapters, routes);
        build(error);
    }

    bool OnEvent(const SEvent& e) override {
        if (e.EventType == EET_KEY_INPUT_EVENT && !e.KeyInput.PressedDown) {
            if (e.KeyInput.Key == KEY_ESCAPE) {
                cancel();
                return true;
            }
            if (e.KeyInput.Key == KEY_RETURN) {
                save();
                return true;
            }
        }
        if (e.EventType == EET_LOG_TEXT_EVENT) return true;  // keep the terminal quiet
        if (e.EventType != EET_GUI_EVENT) return false;
        s32 id = e.GUIEvent.Caller ? e.GUIEvent.Caller->getID() : -1;
        switch (e.GUIEvent.EventType) {
            case gui::EGET_BUTTON_CLICKED:
                if (id == kSaveButton) save();
                if (id == kCancelButton) cancel();
                return true;
            case gui::EGET_LISTBOX_CHANGED:
            case gui::EGET_LISTBOX_SELECTED_AGAIN:
                choices.selectedAdapter = adapterList->getSelected();
                showRights();
                showFilterState();  // a filter compiles for one link type, not another
                return false;
            case gui::EGET_COMBO_BOX_CHANGED:
                if (id == kSourceBox) {
                    s32 index = sourceBox->getSelected();
                    choices.source = index >= 0
                                         ? static_cast<FeedKind>(sourceBox->getItemData(index))
                                         : FeedKind::None;
                    adapterList->setEnabled(choices.source == FeedKind::None);
                    showRights();
                    showFilterState();  // a feed's frames are Ethernet
                }
                return false;
            case gui::EGET_CHECKBOX_CHANGED:
                if (id == kFullscreenBox) sizeEnabled(!fullscreenBox->isChecked());
                return false;
            case gui::EGET_EDITBOX_CHANGED:
                if (id == kFilterEdit) showFilterState();
                if (id == kListenEdit) showRights();
                return false;
            case gui::EGET_EDITBOX_ENTER:
                save();
                return true;
            default:
                return false;
        }
    }

    bool finished() const { return done; }
    int status() const { return exitStatus; }

  private:
    void build(const std::string& listError) {
        gui::IGUIEnvironment* gui = device->getGUIEnvironment();
        gui::IGUISkin* skin = gui->getSkin();
        gui::IGUIFont* font = gui->getFont("Media/fonthaettenschweiler.bmp");
        if (font) skin->setFont(font);
        // Tessel's tint on every colour role, with light text so it stays readable.
        u32 alpha = choices.opaque ? 255 : 150;
        for (s32 i = 0; i < gui::EGDC_COUNT; ++i)
            skin->setColor(static_cast<gui::EGUI_DEFAULT_COLOR>(i),
                           video::SColor(alpha, 105, 155, 106));
        const video::SColor light(255, 235, 245, 235);
        for (gui::EGUI_DEFAULT_COLOR c :
             {gui::EGDC_BUTTON_TEXT, gui::EGDC_HIGH_LIGHT_TEXT, gui::EGDC_WINDOW_SYMBOL,
              gui::EGDC_ACTIVE_CAPTION, gui::EGDC_INACTIVE_CAPTION, gui::EGDC_TOOLTIP})
            skin->setColor(c, light);
        skin->setColor(gui::EGDC_GRAY_TEXT, video::SColor(255, 150, 170, 150));
        skin->setColor(gui::EGDC_HIGH_LIGHT, video::SColor(255, 40, 80, 45));
        skin->setColor(gui::EGDC_EDITABLE, video::SColor(255, 30, 50, 33));
        skin->setColor(gui::EGDC_FOCUSED_EDITABLE, video::SColor(255, 40, 70, 44));
        skin->setColor(gui::EGDC_3D_DARK_SHADOW, video::SColor(255, 20, 35, 22));
        skin->setColor(gui::EGDC_3D_SHADOW, video::SColor(255, 50, 80, 52));

        label(L"Tessel settings", 20, 12, 540, 32, true);
        label(L"Capture from:", 20, 40, 120, 58);
        sourceBox = gui->addComboBox(core::rect<s32>(125, 38, 285, 60), 0, kSourceBox);
        for (FeedKind kind : {FeedKind::None, FeedKind::Sflow, FeedKind::Netflow})
            sourceBox->addItem(
                kind == FeedKind::None ? L"Adapter" : toWideCut(feedName(kind)).c_str(),
                static_cast<u32>(kind));
        sourceBox->setSelected(sourceBox->getIndexForItemData(static_cast<u32>(choices.source)));
        label(L"Listen on:", 300, 40, 370, 58);
        listenEdit = gui->addEditBox(toWideCut(choices.listen).c_str(),
                                     core::rect<s32>(375, 38, 540, 60), true, 0, kListenEdit);
        adapterList = gui->addListBox(core::rect<s32>(20, 66, 540, 190), 0, kAdapterList, true);
        for (const InterfaceAddress& a : choices.adapters)
            adapterList->addItem(toWideCut(adapterLine(a)).c_str());
        adapterList->setSelected(choices.selectedAdapter);
        adapterList->setEnabled(choices.source == FeedKind::None);
        rights = label(L"", 20, 196, 540, 246);
        if (!listError.empty())
            rights->setText(toWideCut("Cannot list adapters: " + listError).c_str());

        label(L"Video driver:", 20, 258, 140, 278);
        driverBox = gui->addComboBox(core::rect<s32>(150, 256, 340, 278), 0, kDriverBox);
        driverBox->addItem(L"OpenGL", 2);
        driverBox->addItem(L"Software", 3);
        driverBox->addItem(L"Burning's Video", 4);
        driverBox->setSelected(driverBox->getIndexForItemData(choices.driver));

        label(L"Frame rate:", 360, 258, 440, 278);
        frameLimitBox = gui->addComboBox(core::rect<s32>(440, 256, 540, 278), 0, kFrameLimitBox);
        bool listed = false;
        for (int fps : kFrameLimitChoices) {
            frameLimitBox->addItem(frameLimitText(fps).c_str(), static_cast<u32>(fps));
            listed = listed || fps == choices.maxFps;
        }
        // A limit written by hand or by a flag stays what it is.
        if (!listed)
            frameLimitBox->addItem(frameLimitText(choices.maxFps).c_str(),
                                   static_cast<u32>(choices.maxFps));
        frameLimitBox->setSelected(frameLimitBox->getIndexForItemData(choices.maxFps));

        fullscreenBox = gui->addCheckBox(choices.fullscreen, core::rect<s32>(20, 290, 340, 310), 0,
                                         kFullscreenBox, L"Full screen (800 x 600)");
        label(L"Window size:", 20, 322, 140, 342);
        widthEdit = gui->addEditBox(toWideCut(choices.width).c_str(),
                                    core::rect<s32>(150, 320, 220, 342), true, 0, kWidthEdit);
        label(L"x", 228, 322, 240, 342);
        heightEdit = gui->addEditBox(toWideCut(choices.height).c_str(),
                                     core::rect<s32>(246, 320, 316, 342), true, 0, kHeightEdit);
        sizeEnabled(!choices.fullscreen);
        opaqueBox = gui->addCheckBox(choices.opaque, core::rect<s32>(20, 354, 340, 374), 0,
                                     kOpaqueBox, L"Opaque GUI (translucent when off)");
        label(L"Capture filter:", 20, 388, 140, 408);
        filterEdit = gui->addEditBox(toWideCut(choices.filter).c_str(),
                                     core::rect<s32>(150, 386, 540, 408), true, 0, kFilterEdit);
        filterState = label(L"", 20, 412, 540, 430);
        message = label(L"", 20, 436, 540, 456);
        saveButton = gui->addButton(core::rect<s32>(250, 465, 420, 493), 0, kSaveButton,
                                    startTessel ? L"Save and start Tessel" : L"Save");
        gui->addButton(core::rect<s32>(430, 465, 540, 493), 0, kCancelButton, L"Cancel");
        gui->setFocus(adapterList);
        showRights();
        showFilterState();
    }

    static std::wstring frameLimitText(int fps) {
        return fps == 0 ? L"Unlimited" : std::to_wstring(fps) + L" FPS";
    }

    gui::IGUIStaticText* label(const wchar_t* text, s32 x0, s32 y0, s32 x1, s32 y1,
                               bool title = false) {
        gui::IGUIStaticText* t = device->getGUIEnvironment()->addStaticText(
            text, core::rect<s32>(x0, y0, x1, y1), false, true);
        t->setOverrideColor(title ? video::SColor(255, 150, 210, 150)
                                  : video::SColor(255, 225, 235, 225));
        return t;
    }

    void sizeEnabled(bool on) {
        widthEdit->setEnabled(on);
        heightEdit->setEnabled(on);
    }

    void showRights() {
        choices.listen = narrowText(listenEdit->getText());
        if (choices.source != FeedKind::None) {
            showListenState();
            return;
        }
        if (choices.selectedAdapter < 0) {
            rights->setText(L"Choose the adapter to capture on.");
            return;
        }
        const std::string& nic = choices.adapters[choices.selectedAdapter].name;
        std::string problem = captureRightsProblem(nic);
        rights->setText(
            toWideCut(problem.empty() ? "Tessel can capture on " + nic + "." : problem).c_str());
    }

    // With a feed: where it will listen, or why it cannot; no capture rights are needed.
    void showListenState() {
        const std::string name = feedName(choices.source);
        std::string text = listenProblem(choices.source, choices.listen);
        ListenAddress where;
        if (!text.empty() ||
            !parseListenAddress(choices.listen, defaultPortOf(choices.source), &where, &text))
            text = "Cannot listen for " + name + ": " + text;
        else
            text = "Tessel will listen for " + name + " on UDP port " + std::to_string(where.port) +
                   (where.address.empty() ? " on every address" : " of " + where.address) +
                   ". Point the exporters there; no capture rights are needed.";
        rights->setText(toWideCut(text).c_str());
    }

    // Says at once whether the filter compiles for the chosen adapter; Save waits until it does.
    void showFilterState() {
        choices.filter = narrowText(filterEdit->getText());
        std::string problem;
        if (choices.source != FeedKind::None)
            problem = filterProblem(choices.source, "", choices.filter);
        else if (choices.selectedAdapter >= 0)
            problem = filterProblem(choices.source, choices.adapters[choices.selectedAdapter].name,
                                    choices.filter);
        filterState->setText(toWideCut(choices.filter.empty() ? "Empty: Tessel captures everything."
                                       : problem.empty()      ? "The filter compiles."
                                                              : "Does not compile: " + problem)
                                 .c_str());
        saveButton->setEnabled(problem.empty());
    }

    void save() {
        choices.selectedAdapter = adapterList->getSelected();
        choices.filter = narrowText(filterEdit->getText());
        choices.listen = narrowText(listenEdit->getText());
        choices.fullscreen = fullscreenBox->isChecked();
        choices.opaque = opaqueBox->isChecked();
        choices.width = narrowText(widthEdit->getText());
        choices.height = narrowText(heightEdit->getText());
        s32 driverIndex = driverBox->getSelected();
        choices.driver =
            driverIndex >= 0 ? static_cast<int>(driverBox->getItemData(driverIndex)) : 2;
        s32 limitIndex = frameLimitBox->getSelected();
        choices.maxFps =
            limitIndex >= 0 ? static_cast<int>(frameLimitBox->getItemData(limitIndex)) : 0;
        std::map<std::string, std::string> values;
        std::string error;
        if (!choicesToValues(choices, &values, &error)) {
            message->setText(toWideCut(error).c_str());
            return;
        }
        std::string path = configFilePath();
        if (!writeConfigValues(path, values, &error)) {
            message->setText(toWideCut("Cannot save: " + error).c_str());
            return;
        }
        std::printf("Settings written to %s\n", path.c_str());
        if (startTessel) {
            char cwd[4096];
            std::string here = getcwd(cwd, sizeof(cwd)) ? cwd : "";
            if (!spawnDetached(tesselProgramPath(), {}, here))
                std::fprintf(stderr, "tessel-config: cannot start %s\n",
                             tesselProgramPath().c_str());
        }
        done = true;
        exitStatus = 0;
    }

    void cancel() {
        done = true;
        exitStatus = 0;
    }

    IrrlichtDevice* device;
    bool startTessel;
    ConfigChoices choices;
    gui::IGUIListBox* adapterList = nullptr;
    gui::IGUIStaticText* rights = nullptr;
    gui::IGUIStaticText* message = nullptr;
    gui::IGUIComboBox* driverBox = nullptr;
    gui::IGUIComboBox* frameLimitBox = nullptr;
    gui::IGUICheckBox* fullscreenBox = nullptr;
    gui::IGUICheckBox* opaqueBox = nullptr;
    gui::IGUIEditBox* widthEdit = nullptr;
    gui::IGUIEditBox* heightEdit = nullptr;
    gui::IGUIEditBox* filterEdit = nullptr;
    gui::IGUIComboBox* sourceBox = nullptr;
    gui::IGUIEditBox* listenEdit = nullptr;
    gui::IGUIStaticText* filterState = nullptr;
    gui::IGUIButton* saveButton = nullptr;
    bool done = false;
    int exitStatus = 0;
};

}  // namespace

std::string tesselProgramPath() {
    const char* overridden = std::getenv("TESSEL_PROGRAM");
    if (overridden && *overridden) return overridden;
    return programDirectory() + "/tessel";
}

int runConfigWindow(bool startTesselAfterSave) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        std::fprintf(stderr,
                     "tessel-config: no X display for the settings window; set them with flags "
                     "instead (tessel-config --help).\n");
        return 1;
    }
    SIrrlichtCreationParameters p;
    // Burning's Video needs nothing but X, so the settings open even where OpenGL is broken.
    p.DriverType = video::EDT_BURNINGSVIDEO;
    p.WindowSize = core::dimension2d<u32>(kWidth, kHeight);
    p.LoggingLevel = ELL_ERROR;
    IrrPtr<IrrlichtDevice> engine(createDeviceEx(p));
    IrrlichtDevice* device = engine.get();
    if (!device) {
        std::fprintf(stderr, "tessel-config: cannot open the settings window.\n");
        return 1;
    }
    device->setWindowCaption(L"Tessel settings");
    mountMedia(device->getFileSystem());
    ConfigWindow* window = new ConfigWindow(device, startTesselAfterSave);
    device->setEventReceiver(window);
    video::IVideoDriver* driver = device->getVideoDriver();
    while (device->run() && !window->finished()) {
        driver->beginScene(true, true, video::SColor(255, 14, 24, 16));
        device->getGUIEnvironment()->drawAll();
        driver->endScene();
        // A settings window need not spin a core.
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    int status = window->status();
    device->setEventReceiver(nullptr);
    engine.reset();
    delete window;
    return status;
}

}  // namespace tessel
