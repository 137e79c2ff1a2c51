#pragma once
#include <irrlicht.h>

#include "core/irr_ptr.h"

namespace tessel {

// The one node of type T (its `kType`) among the children of the scene's root, made there when
// there is none yet; the root holds it. Null without a scene.
template <class T>
T* rootChildOf(irr::scene::ISceneManager* sceneManager) {
    if (!sceneManager) return nullptr;
    irr::scene::ISceneNode* root = sceneManager->getRootSceneNode();
    for (irr::scene::ISceneNode* child : root->getChildren())
        if (child->getType() == T::kType) return static_cast<T*>(child);
    // The root holds it once this reference goes.
    IrrPtr<T> made(new T(root, sceneManager));
    return made.get();
}

}  // namespace tessel
