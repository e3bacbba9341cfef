#include "platform/toolkit/drag_drop.h"

#include <algorithm>

#include "platform/dispatch/run_loop.h"
#include "platform/toolkit/main_thread.h"

namespace toolkit {

namespace {
bool isDraggedImageType(const std::string& t) {
    return t == "public.png" || t == "public.jpeg" || t == "com.compuserve.gif";
}
}  // namespace

std::shared_ptr<ItemProvider> ItemProvider::withData(foundation::Data data, std::string type) {
    auto p = std::make_shared<ItemProvider>();
    p->registerData(std::move(data), type);
    return p;
}

std::shared_ptr<ItemProvider> ItemProvider::withImage(const ImagePtr& image) {
    auto p = std::make_shared<ItemProvider>();
    if (!image) return p;
    if (!image->format().empty() && isDraggedImageType(image->format())) {
        p->registerData(image->encoded(), image->format());
    } else if (auto png = image->archivedData(); png.ok()) {
        p->registerData(png.value(), "public.png");
    }
    return p;
}

double LoadProgress::fractionCompleted() const {
    if (!children_.empty()) {
        double sum = 0;
        for (auto& c : children_) sum += c->fractionCompleted();
        return sum / static_cast<double>(children_.size());
    }
    if (totalUnitCount <= 0) return completed_ > 0 ? 1 : 0;
    return std::clamp(static_cast<double>(completed_) / static_cast<double>(totalUnitCount), 0.0, 1.0);
}

bool LoadProgress::isFinished() const {
    if (!children_.empty())
        return std::all_of(children_.begin(), children_.end(), [](auto& c) { return c->isFinished(); });
    return cancelled_ || completed_ >= totalUnitCount;
}

void LoadProgress::cancel() {
    TK_MAIN_THREAD("LoadProgress::cancel");
    if (isFinished()) return;
    cancelled_ = true;
    for (auto& c : children_) c->cancel();
    if (auto handler = std::move(cancellationHandler)) handler();
}

void ItemProvider::registerData(foundation::Data data, const std::string& type) {
    types_.push_back(type);
    representations_.push_back({type, std::move(data), 0, 1});
}

void ItemProvider::registerStreamedData(foundation::Data data, const std::string& type, double seconds, int chunks) {
    types_.push_back(type);
    representations_.push_back({type, std::move(data), std::max(0.0, seconds), std::max(1, chunks)});
}

bool ItemProvider::hasItemConformingTo(const std::string& type) const {
    if (type == "public.image") return canLoadImages();
    return std::find(types_.begin(), types_.end(), type) != types_.end();
}

bool ItemProvider::canLoadImages() const { return std::any_of(types_.begin(), types_.end(), isDraggedImageType); }

namespace {
// One load in flight: delivers chunks on a timer until the data is complete or it is cancelled;
// the completion runs exactly once.
struct StreamedLoad : std::enable_shared_from_this<StreamedLoad> {
    foundation::Data data;
    int chunks = 1;
    int delivered = 0;
    LoadProgressPtr progress;
    ItemProvider::Load completion;
    // The run loop owns the timer; its closure owns the load.
    std::weak_ptr<dispatch::Timer> timer;

    void stop() {
        if (auto t = timer.lock()) t->invalidate();
    }

    void finish(std::optional<foundation::Error> error) {
        if (!completion) return;
        stop();
        auto done = std::move(completion);
        completion = nullptr;
        if (error)
            done(std::nullopt, std::move(error));
        else
            done(std::move(data), std::nullopt);
    }
    void deliverChunk() {
        ++delivered;
        int64_t size = static_cast<int64_t>(data.size());
        progress->setCompletedUnitCount(delivered >= chunks ? size : size * delivered / chunks);
        if (delivered >= chunks) finish(std::nullopt);
    }
};
}  // namespace

LoadProgressPtr ItemProvider::loadDataRepresentation(const std::string& type, Load completion) const {
    TK_MAIN_THREAD("ItemProvider::loadDataRepresentation");
    auto load = std::make_shared<StreamedLoad>();
    load->progress = std::make_shared<LoadProgress>();
    load->completion = std::move(completion);
    const Representation* found = nullptr;
    for (auto& r : representations_)
        if (r.type == type || (type == "public.image" && isDraggedImageType(r.type))) {
            found = &r;
            break;
        }
    if (!found) {
        load->progress->totalUnitCount = 0;
        dispatch::RunLoop::main().performAtNextTurn([load, type] {
            load->progress->setCompletedUnitCount(1);
            load->finish(foundation::Error::withDescription(kErrorDomain, kErrorNoRepresentation,
                                                            "no representation of type " + type));
        });
        return load->progress;
    }
    load->data = found->data;
    load->chunks = found->chunks;
    load->progress->totalUnitCount = static_cast<int64_t>(found->data.size());
    std::weak_ptr<StreamedLoad> weak = load;
    load->progress->cancellationHandler = [weak] {
        // The completion answers on a later turn, never inside the caller's cancel().
        if (auto l = weak.lock()) {
            l->stop();
            dispatch::RunLoop::main().performAtNextTurn([l] {
                l->finish(foundation::Error::withDescription(kErrorDomain, kErrorCancelled, "the load was cancelled"));
            });
        }
    };
    if (found->seconds <= 0) {
        load->chunks = 1;
        dispatch::RunLoop::main().performAtNextTurn([load] {
            if (!load->progress->isCancelled()) load->deliverChunk();
        });
        return load->progress;
    }
    load->timer = dispatch::Timer::scheduled(found->seconds / found->chunks, true,
                                             [load](dispatch::Timer&) { load->deliverChunk(); });
    return load->progress;
}

Point DragSession::locationInView(const View* view) const {
    return view ? view->convertPointFrom(locationInWindow, nullptr) : locationInWindow;
}

bool DragSession::canLoadImages() const {
    return std::any_of(items.begin(), items.end(),
                       [](const DragItemPtr& i) { return i->itemProvider && i->itemProvider->canLoadImages(); });
}

LoadProgressPtr DragSession::loadObjects(const std::string& type,
                                         std::function<void(std::vector<foundation::Data>)> completion) {
    TK_MAIN_THREAD("DragSession::loadObjects");
    auto all = std::make_shared<LoadProgress>();
    std::vector<ItemProviderPtr> providers;
    for (auto& i : items)
        if (i->itemProvider && i->itemProvider->hasItemConformingTo(type)) providers.push_back(i->itemProvider);
    struct Gather {
        std::vector<std::optional<foundation::Data>> results;
        size_t waiting = 0;
        std::function<void(std::vector<foundation::Data>)> completion;
        void answer() {
            std::vector<foundation::Data> out;
            for (auto& r : results)
                if (r) out.push_back(std::move(*r));
            if (auto done = std::move(completion)) done(std::move(out));
        }
    };
    auto gather = std::make_shared<Gather>();
    gather->results.resize(providers.size());
    gather->waiting = providers.size();
    gather->completion = std::move(completion);
    if (providers.empty()) dispatch::RunLoop::main().performAtNextTurn([gather] { gather->answer(); });
    for (size_t i = 0; i < providers.size(); ++i)
        all->addChild(providers[i]->loadDataRepresentation(
            type, [gather, i](std::optional<foundation::Data> data, std::optional<foundation::Error>) {
                gather->results[i] = std::move(data);
                if (--gather->waiting == 0) gather->answer();
            }));
    progress_ = all;
    return all;
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
