// Drag and drop within the app: a drag interaction asks its delegate for the items a drag starts
// with (and for more when a touch adds to it); a drop interaction is asked whether it can handle
// a session, which operation it proposes while the session moves over it, and to perform the
// drop. Item providers hold typed bytes and load them asynchronously on the main queue.
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

class ItemProvider {
public:
    using Load = std::function<void(std::optional<foundation::Data>, std::optional<foundation::Error>)>;
    static std::shared_ptr<ItemProvider> withData(foundation::Data data, std::string type);
    static std::shared_ptr<ItemProvider> withImage(const ImagePtr& image);
    void registerData(foundation::Data data, const std::string& type);
    const std::vector<std::string>& registeredTypeIdentifiers() const { return types_; }
    bool hasItemConformingTo(const std::string& type) const;
    bool canLoadImages() const;
    // Answers on the main queue, on a later turn, as the platform's providers do.
    void loadDataRepresentation(const std::string& type, Load completion) const;
    std::string suggestedName;

private:
    std::vector<std::string> types_;
    std::vector<foundation::Data> data_;
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
