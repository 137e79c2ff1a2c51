#pragma once
#include <irrlicht.h>

#include <ctime>

namespace tessel {

struct SUiState;

// The device's event receiver: clicks, toolbar hits, keys, wheel, engine log text. Reads and
// switches the run's UI state (flags, tour, messages, log), which outlives it. Runs on the main
// thread inside the device's run().
class MyEventReceiver : public irr::IEventReceiver {
  public:
    MyEventReceiver(irr::IrrlichtDevice* device, irr::scene::ISceneNode* terrain,
                    irr::scene::ICameraSceneNode* camera, irr::scene::ISceneManager* sceneManager,
                    irr::gui::IGUIEnvironment* gui, SUiState& ui);
    ~MyEventReceiver() override;
    bool OnEvent(const irr::SEvent& event) override;

  private:
    bool moveCameraAlongView(irr::f32 step);
    void setView(const irr::core::vector3df& position);
    bool onLeftButton();
    void runToolbarCommand(int button);
    bool onKeyReleased(irr::EKEY_CODE key);
    void toggleStatsGraph();
    void toggleLogging();
    void toggleHelp();
    void togglePause();
    void changeReplaySpeed(double factor);
    bool onSeekKey(const irr::SEvent::SKeyInput& key);
    void toggleTour();
    bool onFindKey(const irr::SEvent::SKeyInput& key);
    void flyToFoundHost();
    void cycleLabels();

    irr::IrrlichtDevice* device;
    irr::scene::ISceneNode* terrain;
    irr::scene::ICameraSceneNode* camera;
    irr::scene::ISceneManager* sceneManager;
    irr::gui::IGUIEnvironment* guiEnvironment;
    SUiState& ui;
    // The GUI images that the toggles add and remove again (the GUI owns them).
    irr::gui::IGUIImage* statsGridImage = nullptr;
    irr::gui::IGUIImage* helpImage = nullptr;
    irr::u32 lastClickTime = 0;
    std::time_t eventTime = 0;  // calendar time read at the start of OnEvent, names screenshots
};

}  // namespace tessel
