#include "platform/system_screens/store_product_view_controller.h"

#include <gtest/gtest.h>

#include "platform/toolkit/testing/harness.h"

using system_screens::StoreCatalog;
using system_screens::StoreProductViewController;

namespace {

struct Answer {
    bool loaded = false;
    std::optional<foundation::Error> error;
};

class StorePage : public ::testing::Test {
protected:
    void SetUp() override {
        StoreCatalog::shared().reset();
        StoreCatalog::shared().setProduct(1234567, {"HX Voice Tools", "HX Connect & friends"});
        h.setRoot(root);
    }
    void TearDown() override { StoreCatalog::shared().reset(); }
    // Loads and records the answer (none until the store has answered).
    void load(StoreProductViewController& page, int64_t item, std::optional<Answer>& answer) {
        page.loadProduct({item, "hxcon1"}, [&answer](bool loaded, const std::optional<foundation::Error>& error) {
            EXPECT_FALSE(answer) << "the completion runs once";
            answer = Answer{loaded, error};
        });
    }

    toolkit::testing::Harness h;
    std::shared_ptr<toolkit::ViewController> root = std::make_shared<toolkit::ViewController>();
};

}  // namespace

TEST_F(StorePage, AKnownItemLoadsAfterTheStoresDelayAndIsRecordedWithItsToken) {
    auto page = std::make_shared<StoreProductViewController>();
    std::optional<Answer> answer;
    load(*page, 1234567, answer);
    EXPECT_TRUE(page->isLoading());
    h.advance(0.4);
    EXPECT_FALSE(answer) << "the store takes half a second";
    EXPECT_TRUE(StoreCatalog::shared().requests().empty());
    h.advance(0.2);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->loaded);
    EXPECT_FALSE(answer->error);
    EXPECT_FALSE(page->isLoading());
    ASSERT_TRUE(page->product());
    EXPECT_EQ(page->product()->name, "HX Voice Tools");
    EXPECT_EQ(StoreCatalog::shared().requests(), (std::vector<StoreCatalog::Request>{{1234567, "hxcon1"}}));
    // Presented, it shows the product.
    root->present(page, false);
    h.settle();
    EXPECT_NE(h.find("HX Voice Tools"), nullptr);
    EXPECT_NE(h.find("HX Connect & friends"), nullptr);
    EXPECT_NE(h.find("GET"), nullptr);
}

TEST_F(StorePage, UnknownItemsAndAnOfflineStoreFailWithTheirReason) {
    struct Case {
        const char* what;
        int64_t item;
        std::optional<foundation::Error> offline;
        int64_t code;
    };
    const auto offline = foundation::Error::withDescription("NSURLErrorDomain", -1009, "offline");
    for (const Case& c : {Case{"unknown", 42, std::nullopt, system_screens::kStoreErrorUnknownItem},
                          Case{"offline", 1234567, offline, -1009}}) {
        SCOPED_TRACE(c.what);
        StoreCatalog::shared().setFailure(c.offline);
        StoreCatalog::shared().setDelay(2);
        auto page = std::make_shared<StoreProductViewController>();
        std::optional<Answer> answer;
        load(*page, c.item, answer);
        h.advance(1.9);
        EXPECT_FALSE(answer);
        h.advance(0.2);
        ASSERT_TRUE(answer);
        EXPECT_FALSE(answer->loaded);
        ASSERT_TRUE(answer->error);
        EXPECT_EQ(answer->error->code, c.code);
        EXPECT_FALSE(page->product());
        EXPECT_FALSE(page->isLoading());
    }
    EXPECT_EQ(StoreCatalog::shared().requests().size(), 2u);
}

TEST_F(StorePage, ASecondLoadWhileLoadingAndAPageClosedEarlyAreRefused) {
    auto page = std::make_shared<StoreProductViewController>();
    std::optional<Answer> first, second;
    load(*page, 1234567, first);
    load(*page, 1234567, second);
    ASSERT_TRUE(second) << "answered at once";
    EXPECT_FALSE(second->loaded);
    EXPECT_EQ(second->error->code, system_screens::kStoreErrorNotLoaded);
    page.reset();
    h.advance(1);
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->loaded) << "no page is left to show it";
    ASSERT_TRUE(first->error);
    EXPECT_EQ(first->error->code, system_screens::kStoreErrorNotLoaded);
    EXPECT_EQ(StoreCatalog::shared().requests().size(), 1u) << "the store still heard the request";
}

TEST_F(StorePage, DoneTellsTheDelegateOrDismissesThePage) {
    struct Delegate : system_screens::StoreProductViewControllerDelegate {
        int finished = 0;
        void productViewControllerDidFinish(StoreProductViewController& page) override {
            ++finished;
            page.dismiss(false);
        }
    };
    auto delegate = std::make_shared<Delegate>();
    auto page = std::make_shared<StoreProductViewController>();
    page->delegate = delegate;
    root->present(page, false);
    h.settle();
    ASSERT_TRUE(h.tap(*h.find("Done")));
    h.settle();
    EXPECT_EQ(delegate->finished, 1);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    // Without a delegate the page goes by itself.
    auto alone = std::make_shared<StoreProductViewController>();
    root->present(alone, false);
    h.settle();
    alone->done();
    h.settle();
    EXPECT_EQ(root->presentedViewController(), nullptr);
}
