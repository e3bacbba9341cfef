// Replies of the conversation operations (mark read, spam, block, archive, delete for ever) for a
// stored conversation, with arbitrary bodies. Nothing crashes; a mark reply answers the
// completion that waits for it exactly once, whatever it holds, and the other replies leave it
// alone.
// Layout: byte 0 picks the operation and its tag, the rest is the reply body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>

#include "fuzz/service/app_fuzz_support.h"
#include "platform/store/context.h"
#include "platform/store/managed_object.h"
#include "service/request_machinery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static fuzzsupport::AppUnderFuzz fuzz;
    static const bool stored = [] {
        auto context = fuzz.app->managedObjectContext();
        if (!context) return false;
        auto conversation = context->insertNewObject("HX_Conversation");
        if (!conversation.ok()) return false;
        (void)(*conversation)->setValue("conversationID", "t.+15550100");
        (void)(*conversation)->setValue("type", 10);
        return context->save().ok();
    }();
    (void)stored;
    const std::string page = HXWebClientOf(*fuzz.app).endpoints.servicePageBase();
    struct Operation {
        HXReplyRow row;
        std::string tag;
    };
    const Operation operations[] = {
        {HXReplyRow::Mark, page + "inbox/mark/_SMS_1_t.+15550100"},
        {HXReplyRow::Mark, page + "inbox/mark/_VM_0_t.+15550100"},
        {HXReplyRow::MarkSpam, "markSpamStatus_SMS_1_t.+15550100"},
        {HXReplyRow::Block, page + "inbox/block/_t.+15550100"},
        {HXReplyRow::ArchiveMessages, page + "inbox/archiveMessages/_t.+15550100"},
        {HXReplyRow::DeleteForever, page + "inbox/deleteForeverMessages/_t.+15550100"},
    };
    const Operation& operation = operations[data[0] % std::size(operations)];
    HXRoutedReply reply;
    reply.tag = operation.tag;
    reply.data = std::make_shared<foundation::Data>(data + 1, data + size);
    reply.text.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    reply.statusCode = 200;
    int answered = 0;
    fuzz.app->setCompletionHandler([&answered] { ++answered; }, operation.tag);
    fuzz.app->conversationReply(operation.row, reply);
    fuzz.clock->runUntilIdle();
    const bool mark = operation.row == HXReplyRow::Mark;
    if (answered != (mark ? 1 : 0)) std::abort();
    if (!mark) {
        if (!fuzz.app->takeCompletionHandler(operation.tag)) std::abort();
    }
    fuzz.settle();
    if (answered != (mark ? 1 : 0)) std::abort();
    return 0;
}
