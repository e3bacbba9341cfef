#include "platform/toolkit/drag_drop.h"

#include <algorithm>

#include "platform/dispatch/run_loop.h"
#include "platform/toolkit/main_thread.h"

namespace toolkit {

namespace {
bool isImageType(const std::string& t) { return t == "public.png" || t == "public.jpeg" || t == "com.compuserve.gif"; }
}  // namespace

std::shared_ptr<ItemProvider> ItemProvider::withData(foundation::Data data, std::string type) {
    auto p = std::make_shared<ItemProvider>();
    p->registerData(std::move(data), type);
    return p;
}

std::shared_ptr<ItemProvider> ItemProvider::withImage(const ImagePtr& image) {
    auto p = std::make_shared<ItemProvider>();
    if (!image) return p;
    if (!image->format().empty() && isImageType(image->format())) {
        p->registerData(image->encoded(), image->format());
    } else if (auto png = image->archivedData(); png.ok()) {
        p->registerData(png.value(), "public.png");
    }
    return p;
}

void ItemProvider::registerData(foundation::Data data, const std::string& type) {
    types_.push_back(type);
    data_.push_back(std::move(data));
}

bool ItemProvider::hasItemConformingTo(const std::string& type) const {
    if (type == "public.image") return canLoadImages();
    return std::find(types_.begin(), types_.end(), type) != types_.end();
}

bool ItemProvider::canLoadImages() const { return std::any_of(types_.begin(), types_.end(), isImageType); }

void ItemProvider::loadDataRepresentation(const std::string& type, Load completion) const {
    std::optional<foundation::Data> found;
    for (size_t i = 0; i < types_.size(); ++i)
        if (types_[i] == type || (type == "public.image" && isImageType(types_[i]))) {
            found = data_[i];
            break;
        }
    dispatch::RunLoop::main().performAtNextTurn([found, type, completion = std::move(completion)] {
        if (found)
            completion(found, std::nullopt);
        else
            completion(std::nullopt, foundation::Error::withDescription("toolkit.ItemProvider", 1,
                                                                        "no representation of type " + type));
    });
}

Point DragSession::locationInView(const View* view) const {
    return view ? view->convertPointFrom(locationInWindow, nullptr) : locationInWindow;
}

bool DragSession::canLoadImages() const {
    return std::any_of(items.begin(), items.end(),
                       [](const DragItemPtr& i) { return i->itemProvider && i->itemProvider->canLoadImages(); });
}

std::shared_ptr<DragSession> DragInteraction::beginDrag(Point pointInView) {
    TK_MAIN_THREAD("DragInteraction::beginDrag");
    auto d = delegate.lock();
    if (!enabled || !d || !view()) return nullptr;
    auto session = std::make_shared<DragSession>();
    session->locationInWindow = view()->convertPointTo(pointInView, nullptr);
    session->items = d->itemsForBeginning(*this, *session);
    if (session->items.empty()) return nullptr;
    return session;
}

size_t DragInteraction::addToSession(DragSession& session, Point pointInView) {
    auto d = delegate.lock();
    if (!enabled || !d || !view()) return 0;
    auto more = d->itemsForAddingTo(*this, session, pointInView);
    session.items.insert(session.items.end(), more.begin(), more.end());
    return more.size();
}

DropOperation dropSession(View& root, DragSession& session, Point windowPoint) {
    TK_MAIN_THREAD("dropSession");
    session.locationInWindow = windowPoint;
    View* hit = root.hitTest(root.convertPointFrom(windowPoint, nullptr), nullptr);
    for (View* v = hit; v; v = v->superview())
        for (auto& i : v->interactions()) {
            auto drop = std::dynamic_pointer_cast<DropInteraction>(i);
            if (!drop) continue;
            auto d = drop->delegate.lock();
            if (!d || !d->canHandle(*drop, session)) return DropOperation::Cancel;
            DropOperation op = d->sessionDidUpdate(*drop, session);
            if (op == DropOperation::Copy || op == DropOperation::Move)
                d->performDrop(*drop, session);
            else
                d->sessionDidExit(*drop, session);
            return op;
        }
    return DropOperation::Cancel;
}

}  // namespace toolkit
