#pragma once
#include <irrlicht.h>

#include <map>

#include "core/irr_ptr.h"

namespace tessel {

// Every collision world of one scene, and the one place that changes them. The camera collides
// with worldSelector, which is emptied and filled again every frame; every cube and every beam
// collides with its own copy of the world, taken when it was made. A cube's box selector keeps a
// plain pointer to its cube, so before a cube goes its selector leaves every one of those
// worlds. Main thread only; the worlds are engine objects, and so are the nodes named here.
class cCollisionWorlds {
  public:
    explicit cCollisionWorlds(irr::scene::ISceneManager* sceneManager);
    ~cCollisionWorlds();  // lets go of the worlds; the animators keep theirs
    cCollisionWorlds(const cCollisionWorlds&) = delete;
    cCollisionWorlds& operator=(const cCollisionWorlds&) = delete;

    // The camera's world, and its collision response (the engine's animator, handed only the
    // frames whose result could differ from standing still).
    irr::scene::IMetaTriangleSelector* worldSelector() const { return worldSelector_.get(); }
    void giveCameraResponse(irr::scene::ICameraSceneNode* camera);
    // Gives every node of a known type (octree, mesh, animated mesh, terrain, cube) a triangle
    // selector, walking the whole scene depth first.
    void createTriangleSelectors();
    // Adds every node's triangle selector to `meta`, same walk.
    void fillWorldSelector(irr::scene::IMetaTriangleSelector* meta);
    // Each frame after endScene: worldSelector emptied and filled again.
    void refreshWorldSelector();
    // A new cube or beam: the two walks, then a collision response over a new copy of the world
    // (ellipsoid 3 x 3 x 3, no gravity, translation (0, 6, 0), sliding 0.0005), which is kept as
    // one of the worlds.
    void giveStaticResponse(irr::scene::ISceneNode* node);
    // Takes `node` out of the scene: its selector leaves every world (each copy of it), its own
    // world is let go, the node is removed, and worldSelector is filled again.
    void removeFromScene(irr::scene::ISceneNode* node);

    // removeFromScene when there are collision worlds, else a plain removal.
    static void removeNode(cCollisionWorlds* worlds, irr::scene::ISceneNode* node) {
        if (worlds)
            worlds->removeFromScene(node);
        else
            node->remove();
    }

  private:
    struct SMadeSelector;
    bool selectorStillFits(irr::scene::ISceneNode* node, bool terrain);
    void rememberSelector(irr::scene::ISceneNode* node, irr::scene::ITriangleSelector* selector);
    void giveSelector(irr::scene::ISceneNode* node);

    irr::scene::ISceneManager* sceneManager_;
    IrrPtr<irr::scene::IMetaTriangleSelector> worldSelector_;
    // The copy of the world each cube and beam collides with.
    std::map<irr::scene::ISceneNode*, IrrPtr<irr::scene::IMetaTriangleSelector>> ownWorlds_;
    std::map<irr::scene::ISceneNode*, SMadeSelector> madeSelectors_;
    unsigned currentWalk_ = 0;
};

}  // namespace tessel
