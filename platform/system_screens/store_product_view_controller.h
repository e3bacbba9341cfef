// The store's product page shown inside the app: the page asks the store for an item by its
// identifier (with the publisher's affiliate token), and once the store answers the app presents
// it; Done tells the page's delegate, which dismisses it. The store behind it is a stand-in that
// records every request and answers it after a scripted delay on the process clock: known items
// load, unknown ones fail, and a scripted error (no connection) fails every request.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/error.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/view_controller.h"

namespace system_screens {

inline constexpr const char* kStoreErrorDomain = "HXStoreProductErrorDomain";
enum StoreErrorCode : int64_t { kStoreErrorUnknownItem = 1, kStoreErrorNotLoaded = 2 };

struct StoreProductParameters {
    int64_t itemIdentifier = 0;
    std::string affiliateToken;
};

// The store stand-in; main thread.
class StoreCatalog {
public:
    struct Product {
        std::string name;
        std::string seller;
    };
    // What the page asked the store for, in order.
    struct Request {
        int64_t itemIdentifier = 0;
        std::string affiliateToken;
        friend bool operator==(const Request&, const Request&) = default;
    };

    static StoreCatalog& shared();
    void setProduct(int64_t itemIdentifier, Product product);
    // How long the store takes to answer (0.5 s unless scripted).
    void setDelay(dispatch::Seconds delay) { delay_ = delay; }
    dispatch::Seconds delay() const { return delay_; }
    // Every request fails with this error while it is set (the device is offline).
    void setFailure(std::optional<foundation::Error> error) { failure_ = std::move(error); }
    const std::vector<Request>& requests() const { return requests_; }
    // The answer to a request, recorded; an unknown item or the scripted failure is an error.
    foundation::Result<Product> lookUp(const StoreProductParameters& parameters);
    void reset();

private:
    std::map<int64_t, Product> products_;
    dispatch::Seconds delay_ = 0.5;
    std::optional<foundation::Error> failure_;
    std::vector<Request> requests_;
};

class StoreProductViewController;

class StoreProductViewControllerDelegate {
public:
    virtual ~StoreProductViewControllerDelegate() = default;
    // Done was tapped; the presenter dismisses the page.
    virtual void productViewControllerDidFinish(StoreProductViewController& controller) = 0;
};

class StoreProductViewController : public toolkit::ViewController {
public:
    using Completion = std::function<void(bool loaded, const std::optional<foundation::Error>& error)>;

    std::string className() const override { return "StoreProductViewController"; }
    std::weak_ptr<StoreProductViewControllerDelegate> delegate;

    // Asks the store for the item; the completion runs once on the main queue when the store
    // answers. A page that is loading answers a second request with an error at once.
    void loadProduct(StoreProductParameters parameters, Completion completion);
    bool isLoading() const { return loading_; }
    const std::optional<StoreCatalog::Product>& product() const { return product_; }
    const std::optional<StoreProductParameters>& parameters() const { return parameters_; }

    // What the Done button does: the delegate hears it (without a delegate the page dismisses
    // itself).
    void done();

    void loadView() override;
    void viewDidLayoutSubviews() override;

private:
    void showProduct();
    bool loading_ = false;
    std::optional<StoreProductParameters> parameters_;
    std::optional<StoreCatalog::Product> product_;
    std::shared_ptr<toolkit::Button> doneButton_;
    std::shared_ptr<toolkit::View> icon_;
    std::shared_ptr<toolkit::Label> name_;
    std::shared_ptr<toolkit::Label> seller_;
    std::shared_ptr<toolkit::Button> get_;
};

}  // namespace system_screens
