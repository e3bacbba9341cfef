#include "platform/system_screens/store_product_view_controller.h"

#include <algorithm>

#include "platform/toolkit/layer.h"

namespace system_screens {

using toolkit::Color;
using toolkit::Font;
using toolkit::Rect;

namespace {
constexpr double kMargin = 20, kBarHeight = 56, kIconSide = 118, kGetWidth = 74, kGetHeight = 28;
}  // namespace

StoreCatalog& StoreCatalog::shared() {
    static StoreCatalog catalog;
    return catalog;
}

void StoreCatalog::setProduct(int64_t itemIdentifier, Product product) {
    products_[itemIdentifier] = std::move(product);
}

foundation::Result<StoreCatalog::Product> StoreCatalog::lookUp(const StoreProductParameters& parameters) {
    requests_.push_back({parameters.itemIdentifier, parameters.affiliateToken});
    if (failure_) return *failure_;
    auto it = products_.find(parameters.itemIdentifier);
    if (it == products_.end())
        return foundation::Error::withDescription(kStoreErrorDomain, kStoreErrorUnknownItem,
                                                  "The item " + std::to_string(parameters.itemIdentifier) +
                                                      " is not in the store.");
    return it->second;
}

void StoreCatalog::reset() { *this = StoreCatalog(); }

void StoreProductViewController::loadProduct(StoreProductParameters parameters, Completion completion) {
    if (loading_) {
        if (completion)
            completion(false, foundation::Error::withDescription(kStoreErrorDomain, kStoreErrorNotLoaded,
                                                                 "The page is already loading an item."));
        return;
    }
    loading_ = true;
    parameters_ = parameters;
    std::weak_ptr<toolkit::Responder> weak = weak_from_this();
    dispatch::Queue::main()->after(StoreCatalog::shared().delay(), [weak, parameters, completion] {
        auto strong = std::static_pointer_cast<StoreProductViewController>(weak.lock());
        // The store answers even when the page is gone; only a live page shows the product.
        auto answer = StoreCatalog::shared().lookUp(parameters);
        if (strong) {
            strong->loading_ = false;
            if (answer.ok()) strong->product_ = *answer;
            strong->showProduct();
        }
        if (!completion) return;
        if (!answer.ok()) return completion(false, answer.error());
        if (!strong)
            return completion(false, foundation::Error::withDescription(kStoreErrorDomain, kStoreErrorNotLoaded,
                                                                        "The page closed before the store answered."));
        completion(true, std::nullopt);
    });
}

void StoreProductViewController::done() {
    if (auto d = delegate.lock()) {
        d->productViewControllerDidFinish(*this);
        return;
    }
    if (presentingViewController()) dismiss(true);
}

void StoreProductViewController::loadView() {
    auto root = std::make_shared<toolkit::View>(toolkit::Device::current().screen().bounds());
    root->setBackgroundColor(Color::systemBackground());
    root->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    setView(root);
    doneButton_ = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
    doneButton_->setTitle("Done", toolkit::kStateNormal);
    doneButton_->titleLabel()->setFont(Font::boldSystem(17));
    doneButton_->addAction([this](toolkit::Control&, const toolkit::Event*) { done(); }, toolkit::kTouchUpInside);
    icon_ = std::make_shared<toolkit::View>();
    icon_->layer().cornerRadius = 26;
    icon_->setClipsToBounds(true);
    auto gradient = std::make_shared<toolkit::GradientLayer>();
    gradient->colors = {Color::systemGray4(), Color::systemGray2()};
    icon_->layer().gradientSublayers.push_back(gradient);
    name_ = std::make_shared<toolkit::Label>();
    name_->setFont(Font::boldSystem(22));
    name_->setNumberOfLines(2);
    seller_ = std::make_shared<toolkit::Label>();
    seller_->setFont(Font::system(15));
    seller_->setTextColor(Color::secondaryLabel());
    get_ = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
    get_->setTitle("GET", toolkit::kStateNormal);
    get_->titleLabel()->setFont(Font::boldSystem(15));
    get_->setBackgroundColor(Color::systemGray6());
    get_->layer().cornerRadius = kGetHeight / 2;
    for (const auto& v :
         std::initializer_list<std::shared_ptr<toolkit::View>>{doneButton_, icon_, name_, seller_, get_})
        root->addSubview(v);
    showProduct();
}

void StoreProductViewController::showProduct() {
    if (!viewIfLoaded()) return;
    name_->setText(product_ ? product_->name : std::string());
    seller_->setText(product_ ? product_->seller : std::string());
    icon_->setHidden(!product_);
    get_->setHidden(!product_);
    view()->setNeedsLayout();
}

void StoreProductViewController::viewDidLayoutSubviews() {
    const Rect b = view()->bounds();
    const toolkit::EdgeInsets safe = view()->safeAreaInsets();
    const double top = b.minY() + safe.top;
    const toolkit::Size doneSize = doneButton_->sizeThatFits({});
    doneButton_->setFrame(
        Rect(b.maxX() - safe.right - kMargin - doneSize.width, top + (kBarHeight - 44) / 2, doneSize.width, 44));
    const double y = top + kBarHeight;
    const double x = b.minX() + safe.left + kMargin;
    icon_->setFrame(Rect(x, y, kIconSide, kIconSide));
    const double textX = x + kIconSide + 16;
    const double textWidth = std::max(0.0, b.maxX() - safe.right - kMargin - textX);
    const double nameHeight = name_->sizeThatFits({textWidth, 0}).height;
    name_->setFrame(Rect(textX, y, textWidth, nameHeight));
    seller_->setFrame(Rect(textX, y + nameHeight + 2, textWidth, seller_->sizeThatFits({textWidth, 0}).height));
    get_->setFrame(Rect(textX, y + kIconSide - kGetHeight, kGetWidth, kGetHeight));
}

}  // namespace system_screens
