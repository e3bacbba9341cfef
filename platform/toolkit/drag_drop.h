// Drag and drop within the app: a drag interaction asks its delegate for the items a drag starts
// with (and for more when a touch adds to it); a drop interaction is asked whether it can handle
// a session, which operation it proposes while the session moves over it, and to perform the
// drop. Item providers hold typed bytes and load them asynchronously on the main queue, at once
// or streamed over time with progress and cancellation.
#pragma once

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/toolkit/view.h"

namespace toolkit {

// The progress of a load: units completed out of a total, finished or cancelled. A progress
// with children (a session loading several items) counts each child as one equal share.
class LoadProgress {
public:
    int64_t totalUnitCount = 1;
    int64_t completedUnitCount() const { return completed_; }
    double fractionCompleted() const;
    bool isFinished() const;
    bool isCancelled() const { return cancelled_; }
    // Stops the load (and every child's); its completion then answers a cancellation error.
    // Nothing happens once it has finished.
    void cancel();
    void addChild(std::shared_ptr<LoadProgress> child) { children_.push_back(std::move(child)); }

    // Set by whoever does the loading.
    void setCompletedUnitCount(int64_t n) { completed_ = n; }
    std::function<void()> cancellationHandler;

private:
    int64_t completed_ = 0;
    bool cancelled_ = false;
    std::vector<std::shared_ptr<LoadProgress>> children_;
};
using LoadProgressPtr = std::shared_ptr<LoadProgress>;

class ItemProvider {
public:
    using Load = std::function<void(std::optional<foundation::Data>, std::optional<foundation::Error>)>;
    static std::shared_ptr<ItemProvider> withData(foundation::Data data, std::string type);
    static std::shared_ptr<ItemProvider> withImage(const ImagePtr& image);
    void registerData(foundation::Data data, const std::string& type);
    // Data that arrives in chunks spread evenly over seconds of the process clock (a file still
    // coming from elsewhere); the load's progress counts the bytes delivered.
    void registerStreamedData(foundation::Data data, const std::string& type, double seconds, int chunks = 4);
    const std::vector<std::string>& registeredTypeIdentifiers() const { return types_; }
    bool hasItemConformingTo(const std::string& type) const;
    bool canLoadImages() const;
    // Answers on the main queue, never before the next turn, as the platform's providers do;
    // "public.image" takes the first image type. The progress can cancel the load.
    LoadProgressPtr loadDataRepresentation(const std::string& type, Load completion) const;
    std::string suggestedName;

    static constexpr const char* kErrorDomain = "toolkit.ItemProvider";
    static constexpr int64_t kErrorNoRepresentation = 1;
    static constexpr int64_t kErrorCancelled = 2;

private:
    struct Representation {
        std::string type;
        foundation::Data data;
        double seconds = 0;
        int chunks = 1;
    };
    std::vector<std::string> types_;
    std::vector<Representation> representations_;
};
using ItemProviderPtr = std::shared_ptr<ItemProvider>;

class DragItem {
public:
    explicit DragItem(ItemProviderPtr provider) : itemProvider(std::move(provider)) {}
    ItemProviderPtr itemProvider;
    std::any localObject;
    std::function<std::shared_ptr<View>()> previewProvider;
};
using DragItemPtr = std::shared_ptr<DragItem>;

class DragSession {
public:
    std::vector<DragItemPtr> items;
    // Where the touch is, in a view's coordinates.
    Point locationInView(const View* view) const;
    Point locationInWindow;
    bool canLoadImages() const;
    // Loads every item that has the type ("public.image": any image) at once; the completion
    // runs once, after the last load has answered, with the data that arrived in item order
    // (nothing from failed or cancelled loads). The session's progress covers these loads.
    LoadProgressPtr loadObjects(const std::string& type, std::function<void(std::vector<foundation::Data>)> completion);
    // The progress of the session's loads, none before the first.
    const LoadProgressPtr& progress() const { return progress_; }

private:
    LoadProgressPtr progress_;
};

class DragInteraction;
class DragInteractionDelegate {
public:
    virtual ~DragInteractionDelegate() = default;
    virtual std::vector<DragItemPtr> itemsForBeginning(DragInteraction&, DragSession&) = 0;
    virtual std::vector<DragItemPtr> itemsForAddingTo(DragInteraction&, DragSession&, Point point) {
        (void)point;
        return {};
    }
};

class DragInteraction : public Interaction {
public:
    explicit DragInteraction(std::weak_ptr<DragInteractionDelegate> d) : delegate(std::move(d)) {}
    std::weak_ptr<DragInteractionDelegate> delegate;
    bool enabled = true;
    // A drag lifting at a point in the view: the session, or none when the delegate gives no items.
    std::shared_ptr<DragSession> beginDrag(Point pointInView);
    // Another touch on a running session.
    size_t addToSession(DragSession& session, Point pointInView);
};

enum class DropOperation { Cancel, Forbidden, Copy, Move };

class DropInteraction;
class DropInteractionDelegate {
public:
    virtual ~DropInteractionDelegate() = default;
    virtual bool canHandle(DropInteraction&, DragSession&) { return true; }
    virtual DropOperation sessionDidUpdate(DropInteraction&, DragSession&) { return DropOperation::Cancel; }
    virtual void performDrop(DropInteraction&, DragSession&) {}
    virtual void sessionDidExit(DropInteraction&, DragSession&) {}
};

class DropInteraction : public Interaction {
public:
    explicit DropInteraction(std::weak_ptr<DropInteractionDelegate> d) : delegate(std::move(d)) {}
    std::weak_ptr<DropInteractionDelegate> delegate;
};

// Moves a session over the view at a window point and lets go: the nearest drop interaction up
// the hit view's chain is asked; the drop is performed only for a copy or move proposal. Returns
// the operation that happened.
DropOperation dropSession(View& root, DragSession& session, Point windowPoint);

}  // namespace toolkit
