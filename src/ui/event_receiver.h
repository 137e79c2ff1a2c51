#pragma once
#include <irrlicht.h>

namespace tessel {

// The device's event receiver: clicks, toolbar hits, keys, wheel, engine log text.
// Runs on the main thread inside the device's run().
class MyEventReceiver : public irr::IEventReceiver {
public:
    MyEventReceiver(irr::scene::ISceneNode* terrain, irr::scene::ICameraSceneNode* camera,
                    irr::scene::ISceneManager* sceneManager, irr::gui::IGUIEnvironment* gui);
    ~MyEventReceiver() override;
    bool OnEvent(const irr::SEvent& event) override;

private:
    irr::scene::ISceneNode* terrain;
    irr::scene::ICameraSceneNode* camera;
    irr::scene::ISceneManager* sceneManager;
    irr::gui::IGUIEnvironment* guiEnvironment;
    irr::u32 lastClickTime = 0;
};

}  // namespace tessel
