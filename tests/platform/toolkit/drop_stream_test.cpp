// Streamed drops on the virtual clock: item providers whose data arrives in chunks over time,
// the progress of one load and of a session's loads, and cancellation, which answers every
// waiting completion once with what had arrived.
#include <gtest/gtest.h>

#include "platform/toolkit/drag_drop.h"
#include "platform/toolkit/testing/harness.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;
using Log = std::vector<std::string>;

namespace {

foundation::Data bytes(size_t n, uint8_t fill) { return foundation::Data(n, fill); }

struct Outcome {
    int answers = 0;
    std::optional<foundation::Data> data;
    std::optional<int64_t> errorCode;
};

ItemProvider::Load record(Outcome& o) {
    return [&o](std::optional<foundation::Data> data, std::optional<foundation::Error> error) {
        ++o.answers;
        o.data = std::move(data);
        if (error) o.errorCode = error->code;
    };
}

}  // namespace

TEST(ToolkitDropStream, ChunksArriveOnTheClockAndCancelAnswersOnce) {
    // Times are seconds since the load began; 1,000 bytes in 4 chunks over 2 seconds.
    struct Step {
        double at;
        bool cancel;  // cancel just before reaching `at`
        int64_t completed;
        bool finished;
        int answers;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::optional<int64_t> errorCode;
        bool gotData;
    };
    const std::vector<Case> cases = {
        {"runs to the end",
         {{0, false, 0, false, 0},
          {0.4, false, 0, false, 0},
          {0.5, false, 250, false, 0},
          {1.5, false, 750, false, 0},
          {2.0, false, 1000, true, 1},
          {5.0, false, 1000, true, 1}},
         std::nullopt,
         true},
        {"cancelled half way",
         {{1.0, false, 500, false, 0}, {1.0, true, 500, true, 1}, {3.0, false, 500, true, 1}},
         ItemProvider::kErrorCancelled,
         false},
        {"cancelled after the end changes nothing",
         {{2.0, false, 1000, true, 1}, {2.5, true, 1000, true, 1}},
         std::nullopt,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        auto provider = std::make_shared<ItemProvider>();
        provider->registerStreamedData(bytes(1000, 7), "public.jpeg", 2.0, 4);
        Outcome o;
        auto progress = provider->loadDataRepresentation("public.image", record(o));
        EXPECT_EQ(progress->totalUnitCount, 1000);
        double now = 0;
        for (const Step& s : c.steps) {
            if (s.at > now) h.advance(s.at - now);
            now = s.at;
            if (s.cancel) {
                progress->cancel();
                EXPECT_EQ(o.answers, 0 + (progress->completedUnitCount() == 1000 ? 1 : 0))
                    << "cancel() never answers inside the call";
            }
            h.settle();
            EXPECT_EQ(progress->completedUnitCount(), s.completed) << "at " << s.at;
            EXPECT_EQ(progress->isFinished(), s.finished) << "at " << s.at;
            EXPECT_EQ(o.answers, s.answers) << "at " << s.at;
        }
        EXPECT_EQ(o.errorCode, c.errorCode);
        EXPECT_EQ(o.data.has_value(), c.gotData);
        if (c.gotData) {
            EXPECT_EQ(*o.data, bytes(1000, 7));
        }
    }
}

TEST(ToolkitDropStream, ImmediateDataStillAnswersOnALaterTurn) {
    Harness h;
    auto provider = ItemProvider::withData(bytes(3, 1), "public.png");
    Outcome o, missing;
    auto progress = provider->loadDataRepresentation("public.png", record(o));
    provider->loadDataRepresentation("public.utf8-plain-text", record(missing));
    EXPECT_EQ(o.answers, 0);
    EXPECT_DOUBLE_EQ(progress->fractionCompleted(), 0);
    h.settle();
    EXPECT_EQ(o.answers, 1);
    EXPECT_DOUBLE_EQ(progress->fractionCompleted(), 1);
    EXPECT_EQ(missing.errorCode, ItemProvider::kErrorNoRepresentation);

    // Cancelled before its turn: the data never comes.
    Outcome late;
    auto cancelled = provider->loadDataRepresentation("public.png", record(late));
    cancelled->cancel();
    h.settle();
    EXPECT_EQ(late.answers, 1);
    EXPECT_EQ(late.errorCode, ItemProvider::kErrorCancelled);
    EXPECT_FALSE(late.data);
}

namespace {

// A text conversation's drop target: takes sessions that can load images and appends every
// loaded picture when the loads have answered.
struct PictureDrop : DropInteractionDelegate {
    std::vector<foundation::Data> images;
    LoadProgressPtr progress;
    int completions = 0;
    bool canHandle(DropInteraction&, DragSession& s) override { return s.canLoadImages(); }
    DropOperation sessionDidUpdate(DropInteraction&, DragSession&) override { return DropOperation::Copy; }
    void performDrop(DropInteraction&, DragSession& s) override {
        progress = s.loadObjects("public.image", [this](std::vector<foundation::Data> loaded) {
            ++completions;
            images.insert(images.end(), loaded.begin(), loaded.end());
        });
    }
};

struct DropScreen {
    Harness h;
    std::shared_ptr<ViewController> root = std::make_shared<ViewController>();
    std::shared_ptr<PictureDrop> target = std::make_shared<PictureDrop>();
    std::shared_ptr<DragSession> session = std::make_shared<DragSession>();
    DropScreen() {
        h.setRoot(root);
        root->view()->addInteraction(std::make_shared<DropInteraction>(target));
        auto quick = ItemProvider::withData(bytes(10, 1), "public.png");
        auto slow = std::make_shared<ItemProvider>();
        slow->registerStreamedData(bytes(400, 2), "com.compuserve.gif", 1.0, 2);
        auto text = ItemProvider::withData(bytes(5, 3), "public.utf8-plain-text");
        for (auto& p : {slow, text, quick}) session->items.push_back(std::make_shared<DragItem>(p));
    }
};

}  // namespace

TEST(ToolkitDropStream, ADroppedSessionAnswersOnceWhenItsLastImageArrives) {
    DropScreen s;
    EXPECT_EQ(s.h.drop(*s.session, {100, 300}), DropOperation::Copy);
    ASSERT_TRUE(s.target->progress);
    EXPECT_EQ(s.session->progress(), s.target->progress);
    EXPECT_TRUE(s.target->images.empty()) << "nothing arrives within the drop itself";
    EXPECT_DOUBLE_EQ(s.target->progress->fractionCompleted(), 0.5) << "the quick picture is in, the slow one not";
    s.h.advance(0.5);
    EXPECT_DOUBLE_EQ(s.target->progress->fractionCompleted(), 0.75);
    EXPECT_EQ(s.target->completions, 0);
    s.h.advance(0.5);
    EXPECT_TRUE(s.target->progress->isFinished());
    EXPECT_EQ(s.target->completions, 1);
    // Item order, text left out.
    EXPECT_EQ(s.target->images, (std::vector<foundation::Data>{bytes(400, 2), bytes(10, 1)}));
}

TEST(ToolkitDropStream, CancellingTheSessionKeepsWhatHadArrived) {
    DropScreen s;
    s.h.drop(*s.session, {100, 300});
    s.h.advance(0.5);
    s.target->progress->cancel();
    EXPECT_TRUE(s.target->progress->isCancelled());
    s.h.settle();
    EXPECT_EQ(s.target->completions, 1);
    EXPECT_EQ(s.target->images, (std::vector<foundation::Data>{bytes(10, 1)}));
    s.h.advance(2);
    EXPECT_EQ(s.target->completions, 1) << "a cancelled load delivers nothing later";

    // A session with nothing of the type answers too, with nothing.
    auto text = std::make_shared<DragSession>();
    text->items = {std::make_shared<DragItem>(ItemProvider::withData(bytes(1, 0), "public.utf8-plain-text"))};
    int answered = 0;
    text->loadObjects("public.image", [&](std::vector<foundation::Data> got) {
        ++answered;
        EXPECT_TRUE(got.empty());
    });
    s.h.settle();
    EXPECT_EQ(answered, 1);
}
