#include "scene/collision_worlds.h"

#include <iterator>

#include "core/irr_ptr.h"
#include "scene/static_collision.h"

namespace tessel {
using namespace irr;

// Selectors a walk made for terrains and cubes, remembered so that a later walk can keep one
// whose triangles would come out the same instead of rebuilding it (a large terrain costs far
// more than the cube that triggered the walk). Each entry holds a reference to its selector, so
// the selector cannot be freed and its address reused while the entry exists; an entry counts
// only while the node still carries exactly that selector. Entries of nodes that a walk no
// longer meets (removed cubes) are let go after that walk.
struct cCollisionWorlds::SMadeSelector {
    IrrPtr<scene::ITriangleSelector> selector;
    core::matrix4 transform;                    // terrains: the absolute transform then
    core::vector3df position, rotation, scale;  // terrains: the relative transform then
    core::aabbox3df box;                        // cubes: the local bounding box then
    unsigned seenInWalk = 0;
};

namespace {

void setSelector(scene::ISceneNode* node, IrrPtr<scene::ITriangleSelector> created) {
    if (created) node->setTriangleSelector(created.get());
}

// Node first, then each child in child-list order, depth first.
template <typename Visit>
void walkScene(scene::ISceneNode* node, Visit& visit) {
    visit(node);
    const core::list<scene::ISceneNode*>& children = node->getChildren();
    for (auto it = children.begin(); it != children.end(); ++it) walkScene(*it, visit);
}

}  // namespace

cCollisionWorlds::cCollisionWorlds(scene::ISceneManager* sceneManager)
    : sceneManager_(sceneManager), worldSelector_(sceneManager->createMetaTriangleSelector()) {}

cCollisionWorlds::~cCollisionWorlds() = default;

// True when `node` still carries the selector a walk made for it and it would be rebuilt alike.
bool cCollisionWorlds::selectorStillFits(scene::ISceneNode* node, bool terrain) {
    auto it = madeSelectors_.find(node);
    if (it == madeSelectors_.end()) return false;
    const SMadeSelector& entry = it->second;
    bool same = node->getTriangleSelector() == entry.selector.get();
    if (same && terrain) {
        // Terrain triangles are baked in world coordinates when the selector is made.
        same = node->getAbsoluteTransformation() == entry.transform &&
               node->getPosition() == entry.position && node->getRotation() == entry.rotation &&
               node->getScale() == entry.scale;
    } else if (same) {
        // A box selector takes the node's transform when queried; only the box itself counts.
        same = node->getBoundingBox() == entry.box;
    }
    if (!same) {
        madeSelectors_.erase(it);
        return false;
    }
    it->second.seenInWalk = currentWalk_;
    return true;
}

void cCollisionWorlds::rememberSelector(scene::ISceneNode* node,
                                        scene::ITriangleSelector* selector) {
    SMadeSelector entry;
    entry.selector = grab(selector);
    entry.transform = node->getAbsoluteTransformation();
    entry.position = node->getPosition();
    entry.rotation = node->getRotation();
    entry.scale = node->getScale();
    entry.box = node->getBoundingBox();
    entry.seenInWalk = currentWalk_;
    madeSelectors_[node] = std::move(entry);
}

void cCollisionWorlds::giveSelector(scene::ISceneNode* node) {
    scene::ISceneManager* smgr = sceneManager_;
    switch (node->getType()) {
        case scene::ESNT_OCTREE: {
            IrrPtr<io::IAttributes> attributes(smgr->getFileSystem()->createEmptyAttributes());
            if (!attributes) break;
            node->serializeAttributes(attributes.get());
            scene::IAnimatedMesh* mesh = smgr->getMesh(attributes->getAttributeAsString("Mesh"));
            if (mesh && mesh->getMesh(0, 255, -1, -1))
                setSelector(node,
                            IrrPtr<scene::ITriangleSelector>(smgr->createOctreeTriangleSelector(
                                mesh->getMesh(0, 255, -1, -1), node, 128)));
            break;
        }
        case scene::ESNT_MESH: {
            scene::IMesh* mesh = static_cast<scene::IMeshSceneNode*>(node)->getMesh();
            if (mesh)
                setSelector(node, IrrPtr<scene::ITriangleSelector>(
                                      smgr->createTriangleSelector(mesh, node)));
            break;
        }
        case scene::ESNT_ANIMATED_MESH: {
            scene::IAnimatedMesh* mesh =
                static_cast<scene::IAnimatedMeshSceneNode*>(node)->getMesh();
            if (mesh && mesh->getMesh(0, 255, -1, -1))
                setSelector(node, IrrPtr<scene::ITriangleSelector>(smgr->createTriangleSelector(
                                      mesh->getMesh(0, 255, -1, -1), node)));
            break;
        }
        case scene::ESNT_TERRAIN: {
            if (selectorStillFits(node, true)) break;
            IrrPtr<scene::ITriangleSelector> created(smgr->createTerrainTriangleSelector(
                static_cast<scene::ITerrainSceneNode*>(node), 0));
            if (!created) break;
            rememberSelector(node, created.get());
            setSelector(node, std::move(created));
            break;
        }
        case scene::ESNT_CUBE: {
            if (selectorStillFits(node, false)) break;
            IrrPtr<scene::ITriangleSelector> created(
                smgr->createTriangleSelectorFromBoundingBox(node));
            if (!created) break;
            rememberSelector(node, created.get());
            setSelector(node, std::move(created));
            break;
        }
        default:
            break;  // cameras, sky boxes, custom nodes, particle systems: no selector
    }
}

void cCollisionWorlds::createTriangleSelectors() {
    scene::ISceneNode* root = sceneManager_->getRootSceneNode();
    if (!root) return;
    ++currentWalk_;
    auto visit = [&](scene::ISceneNode* node) { giveSelector(node); };
    walkScene(root, visit);
    for (auto it = madeSelectors_.begin(); it != madeSelectors_.end();) {
        auto next = std::next(it);
        if (it->second.seenInWalk != currentWalk_) madeSelectors_.erase(it);
        it = next;
    }
}

void cCollisionWorlds::fillWorldSelector(scene::IMetaTriangleSelector* meta) {
    scene::ISceneNode* root = sceneManager_->getRootSceneNode();
    if (!root || !meta) return;
    auto visit = [&](scene::ISceneNode* node) {
        if (scene::ITriangleSelector* selector = node->getTriangleSelector())
            meta->addTriangleSelector(selector);
    };
    walkScene(root, visit);
}

void cCollisionWorlds::refreshWorldSelector() {
    worldSelector_->removeAllTriangleSelectors();
    fillWorldSelector(worldSelector_.get());
}

void cCollisionWorlds::giveCameraResponse(scene::ICameraSceneNode* camera) {
    // Wrapped: the camera mostly stands still, and its query against a world of every cube is
    // the costliest part of a busy frame's animation.
    IrrPtr<scene::ISceneNodeAnimatorCollisionResponse> collision(createStaticCollisionResponse(
        sceneManager_, worldSelector_.get(), camera, core::vector3df(3, 3, 3),
        core::vector3df(0, 0, 0), core::vector3df(0, 6, 0), 0.0005f,
        ECollisionStart::kForwardFirst));
    if (collision) camera->addAnimator(collision.get());
}

void cCollisionWorlds::giveStaticResponse(scene::ISceneNode* node) {
    createTriangleSelectors();
    IrrPtr<scene::IMetaTriangleSelector> own(sceneManager_->createMetaTriangleSelector());
    fillWorldSelector(own.get());
    // Cubes and beams stand still: the wrapper queries the world only if one is moved.
    IrrPtr<scene::ISceneNodeAnimatorCollisionResponse> collision(
        createStaticCollisionResponse(sceneManager_, own.get(), node, core::vector3df(3, 3, 3),
                                      core::vector3df(0, 0, 0), core::vector3df(0, 6, 0), 0.0005f));
    if (!collision) return;
    node->addAnimator(collision.get());
    ownWorlds_[node] = std::move(own);
}

void cCollisionWorlds::removeFromScene(scene::ISceneNode* node) {
    if (scene::ITriangleSelector* selector = node->getTriangleSelector()) {
        // A world refilled without being emptied holds a selector more than once.
        while (worldSelector_->removeTriangleSelector(selector)) {
        }
        for (auto& entry : ownWorlds_)
            while (entry.second->removeTriangleSelector(selector)) {
            }
    }
    ownWorlds_.erase(node);
    node->remove();
    fillWorldSelector(worldSelector_.get());
}

}  // namespace tessel
