#include "scene/world.h"

#include <iterator>
#include <map>

#include "scene/irr_ptr.h"
#include "scene/scene_context.h"

namespace tessel {
using namespace irr;

scene::IMetaTriangleSelector* worldSelector = nullptr;
SSceneContext sceneContext;

namespace {

// Selectors this walk made for terrains and cubes, remembered so that a later walk can keep one
// whose triangles would come out the same instead of rebuilding it (a large terrain costs far
// more than the cube that triggered the walk). Each entry holds a reference to its selector, so
// the selector cannot be freed and its address reused while the entry exists; an entry counts
// only while the node still carries exactly that selector. Main thread only.
struct SMadeSelector {
    scene::ITriangleSelector* selector = nullptr;  // one reference held
    core::matrix4 transform;                       // terrains: the absolute transform then
    core::vector3df position, rotation, scale;     // terrains: the relative transform then
    core::aabbox3df box;                           // cubes: the local bounding box then
    unsigned seenInWalk = 0;
};

// Entries of nodes that a walk no longer meets (removed cubes) are let go after that walk.
unsigned currentWalk = 0;

// Lets go of the held references at exit; a selector only frees its own triangles then.
struct SMadeSelectors {
    std::map<scene::ISceneNode*, SMadeSelector> made;
    ~SMadeSelectors() {
        for (auto& entry : made) entry.second.selector->drop();
    }
};

std::map<scene::ISceneNode*, SMadeSelector>& madeSelectors() {
    static SMadeSelectors registry;
    return registry.made;
}

void forgetSelector(std::map<scene::ISceneNode*, SMadeSelector>::iterator it) {
    it->second.selector->drop();
    madeSelectors().erase(it);
}

// True when `node` still carries the selector a walk made for it and it would be rebuilt alike.
bool selectorStillFits(scene::ISceneNode* node, bool terrain) {
    auto& made = madeSelectors();
    auto it = made.find(node);
    if (it == made.end()) return false;
    const SMadeSelector& entry = it->second;
    bool same = node->getTriangleSelector() == entry.selector;
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
        forgetSelector(it);
        return false;
    }
    it->second.seenInWalk = currentWalk;
    return true;
}

void rememberSelector(scene::ISceneNode* node, scene::ITriangleSelector* selector) {
    auto& made = madeSelectors();
    auto it = made.find(node);
    if (it != made.end()) forgetSelector(it);
    SMadeSelector entry;
    selector->grab();
    entry.selector = selector;
    entry.transform = node->getAbsoluteTransformation();
    entry.position = node->getPosition();
    entry.rotation = node->getRotation();
    entry.scale = node->getScale();
    entry.box = node->getBoundingBox();
    entry.seenInWalk = currentWalk;
    made[node] = entry;
}

void setSelector(scene::ISceneNode* node, scene::ITriangleSelector* created) {
    if (!created) return;
    node->setTriangleSelector(created);
    created->drop();
}

void giveSelector(scene::ISceneManager* smgr, io::IFileSystem* fs, scene::ISceneNode* node) {
    switch (node->getType()) {
        case scene::ESNT_OCTREE: {
            IrrPtr<io::IAttributes> attributes(fs->createEmptyAttributes());
            if (!attributes) break;
            node->serializeAttributes(attributes.get());
            scene::IAnimatedMesh* mesh = smgr->getMesh(attributes->getAttributeAsString("Mesh"));
            if (mesh && mesh->getMesh(0, 255, -1, -1))
                setSelector(node, smgr->createOctreeTriangleSelector(mesh->getMesh(0, 255, -1, -1),
                                                                     node, 128));
            break;
        }
        case scene::ESNT_MESH: {
            scene::IMesh* mesh = static_cast<scene::IMeshSceneNode*>(node)->getMesh();
            if (mesh) setSelector(node, smgr->createTriangleSelector(mesh, node));
            break;
        }
        case scene::ESNT_ANIMATED_MESH: {
            scene::IAnimatedMesh* mesh =
                static_cast<scene::IAnimatedMeshSceneNode*>(node)->getMesh();
            if (mesh && mesh->getMesh(0, 255, -1, -1))
                setSelector(node,
                            smgr->createTriangleSelector(mesh->getMesh(0, 255, -1, -1), node));
            break;
        }
        case scene::ESNT_TERRAIN: {
            if (selectorStillFits(node, true)) break;
            scene::ITriangleSelector* created = smgr->createTerrainTriangleSelector(
                static_cast<scene::ITerrainSceneNode*>(node), 0);
            if (!created) break;
            rememberSelector(node, created);
            setSelector(node, created);
            break;
        }
        case scene::ESNT_CUBE: {
            if (selectorStillFits(node, false)) break;
            scene::ITriangleSelector* created = smgr->createTriangleSelectorFromBoundingBox(node);
            if (!created) break;
            rememberSelector(node, created);
            setSelector(node, created);
            break;
        }
        default:
            break;  // cameras, sky boxes, custom nodes, particle systems: no selector
    }
}

// Node first, then each child in child-list order, depth first.
template <typename Visit>
void walkScene(scene::ISceneNode* node, Visit& visit) {
    visit(node);
    const core::list<scene::ISceneNode*>& children = node->getChildren();
    for (auto it = children.begin(); it != children.end(); ++it) walkScene(*it, visit);
}

}  // namespace

SWorld buildWorld(IrrlichtDevice* device) {
    SWorld world;
    if (!device) return world;
    scene::ISceneManager* smgr = device->getSceneManager();
    video::IVideoDriver* driver = device->getVideoDriver();

    // Move speed is in units per millisecond here: 1.2 is 1200 units a second.
    world.camera = smgr->addCameraSceneNodeFPS(nullptr, 100.0f, 1.2f, 1, nullptr, 0, false, 0.0f);
    world.camera->setPosition(core::vector3df(0, 2500, 0));
    world.camera->setTarget(core::vector3df(5000, -3250, 5000));
    world.camera->setFarValue(20000.0f);

    world.terrain = smgr->addTerrainSceneNode("Media/terrain-flatheightmap.jpg", nullptr, -1,
                                              core::vector3df(0, 0, 0), core::vector3df(0, 0, 0),
                                              core::vector3df(1, 1, 1), video::SColor(0xFFFFFFFF),
                                              5, scene::ETPS_17, 0);
    if (world.terrain) {
        world.terrain->setPosition(core::vector3df(0, 0, 0));
        world.terrain->setScale(core::vector3df(100, 100, 100));
        world.terrain->setMaterialFlag(video::EMF_LIGHTING, false);
        world.terrain->setMaterialTexture(0, driver->getTexture("Media/grid.jpg"));
        world.terrain->setID(1);
    }

    createTriangleSelectors(smgr, device->getFileSystem());

    // The global keeps using the selector after the local reference goes; the camera's collision
    // animator holds it for the life of the scene.
    IrrPtr<scene::IMetaTriangleSelector> meta(smgr->createMetaTriangleSelector());
    worldSelector = meta.get();
    fillWorldSelector(smgr, worldSelector);

    IrrPtr<scene::ISceneNodeAnimatorCollisionResponse> collision(
        smgr->createCollisionResponseAnimator(worldSelector, world.camera, core::vector3df(3, 3, 3),
                                              core::vector3df(0, 0, 0), core::vector3df(0, 6, 0),
                                              0.0005f));
    if (collision) world.camera->addAnimator(collision.get());
    return world;
}

void addSkyBox(scene::ISceneManager* sceneManager, video::IVideoDriver* driver) {
    if (!sceneManager || !driver) return;
    video::ITexture* tile[6];
    for (video::ITexture*& t : tile) t = driver->getTexture("Media/blacktile.jpg");
    scene::ISceneNode* sky = sceneManager->addSkyBoxSceneNode(tile[0], tile[1], tile[2], tile[3],
                                                              tile[4], tile[5], nullptr, -1);
    if (sky) sky->setID(2);
}

void createTriangleSelectors(scene::ISceneManager* sceneManager, io::IFileSystem* fs) {
    if (!sceneManager || !fs) return;
    scene::ISceneNode* root = sceneManager->getRootSceneNode();
    if (!root) return;
    ++currentWalk;
    auto visit = [&](scene::ISceneNode* node) { giveSelector(sceneManager, fs, node); };
    walkScene(root, visit);
    auto& made = madeSelectors();
    for (auto it = made.begin(); it != made.end();) {
        auto next = std::next(it);
        if (it->second.seenInWalk != currentWalk) forgetSelector(it);
        it = next;
    }
}

void fillWorldSelector(scene::ISceneManager* sceneManager, scene::IMetaTriangleSelector* meta) {
    if (!sceneManager || !meta) return;
    scene::ISceneNode* root = sceneManager->getRootSceneNode();
    if (!root) return;
    auto visit = [&](scene::ISceneNode* node) {
        if (scene::ITriangleSelector* selector = node->getTriangleSelector())
            meta->addTriangleSelector(selector);
    };
    walkScene(root, visit);
}

void refreshWorldSelector(scene::ISceneManager* sceneManager) {
    if (!worldSelector) return;
    worldSelector->removeAllTriangleSelectors();
    fillWorldSelector(sceneManager, worldSelector);
}

}  // namespace tessel
