#include <atomic>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "crashreporter/mach_exception_port_set.h"
#include "crashreporter/mach_exception_server.h"
#include "platform/kernel/mach_ports.h"
#include "tests/crashreporter/crash_fixtures.h"
#include "tests/crashreporter/report_test_support.h"

using namespace kernel;

namespace {

uint32_t u32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// A request in the server's layout with `count` 64-bit codes, announcing `announced` of them.
std::vector<uint8_t> request(uint32_t count, uint32_t announced, mach_port_t dest, int32_t id = 2405) {
    std::vector<uint8_t> bytes(68 + count * 8, 0);
    mach_msg_header_t header{MACH_MSGH_BITS(MACH_MSG_TYPE_COPY_SEND, MACH_MSG_TYPE_MAKE_SEND_ONCE),
                             static_cast<uint32_t>(bytes.size()),
                             dest,
                             MACH_PORT_NULL,
                             MACH_PORT_NULL,
                             id};
    std::memcpy(bytes.data(), &header, sizeof header);
    const uint32_t thread = 0x1234, task = 0x0F, type = EXC_BAD_ACCESS;
    std::memcpy(&bytes[28], &thread, 4);
    std::memcpy(&bytes[40], &task, 4);
    std::memcpy(&bytes[60], &type, 4);
    std::memcpy(&bytes[64], &announced, 4);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t code = 0x1111111100000000ull + i + 1;
        std::memcpy(&bytes[68 + i * 8], &code, 8);
    }
    return bytes;
}

mach_port_t newPort() {
    mach_port_t port = MACH_PORT_NULL;
    EXPECT_EQ(mach_port_allocate(mach_task_self(), MACH_PORT_RIGHT_RECEIVE, &port), KERN_SUCCESS);
    return port;
}

void destroyPort(mach_port_t port) { mach_port_mod_refs(mach_task_self(), port, MACH_PORT_RIGHT_RECEIVE, -1); }

// Receives one message on `port` within a second; false on time-out.
bool receiveOne(mach_port_t port, std::vector<uint8_t>* out, uint32_t limit = 512) {
    out->assign(limit, 0);
    auto* header = reinterpret_cast<mach_msg_header_t*>(out->data());
    if (mach_msg(header, MACH_RCV_MSG | MACH_RCV_TIMEOUT, 0, limit, port, 1000, MACH_PORT_NULL) != MACH_MSG_SUCCESS)
        return false;
    out->resize(header->msgh_size);
    return true;
}

}  // namespace

// --- Exception to signal ----------------------------------------------------------------------

TEST(MachExceptionSignal, TableRowsInTheHostsNumbering) {
    struct Row {
        exception_type_t type;
        int64_t code0;
        int signo;
        int code;
    };
    const Row rows[] = {
        {EXC_BAD_ACCESS, KERN_INVALID_ADDRESS, SIGSEGV, SEGV_MAPERR},
        {EXC_BAD_ACCESS, KERN_PROTECTION_FAILURE, SIGBUS, BUS_ADRERR},
        {EXC_BAD_INSTRUCTION, 1, SIGILL, 0},
        {EXC_ARITHMETIC, 1, SIGFPE, 0},
        {EXC_SOFTWARE, 0x10000, SIGSYS, 0},
        {EXC_SOFTWARE, 0x10001, SIGPIPE, 0},
        {EXC_SOFTWARE, 0x10002, SIGABRT, 0},
        {EXC_SOFTWARE, 0x10003, SIGKILL, 0},
        {EXC_SOFTWARE, 0x10004, SIGABRT, 0},
        {EXC_BREAKPOINT, 1, SIGTRAP, TRAP_BRKPT},
    };
    for (const Row& row : rows) {
        const int64_t codes[2] = {row.code0, 0x7000};
        zvcrash_mapped_signal out{};
        ASSERT_TRUE(zvcrash_exception_to_signal(row.type, codes, 2, kHostCpuType, &out)) << row.type;
        EXPECT_EQ(out.signo, row.signo) << row.type << " " << row.code0;
        EXPECT_EQ(out.code, row.code) << row.type;
        EXPECT_EQ(out.address, 0x7000u);
    }
    // Linux has SIGBUS 7 and SIGSYS 31, not the table's 10 and 12: the host's numbers are used.
    EXPECT_EQ(SIGBUS, 7);
}

TEST(MachExceptionSignal, UnmappedExceptions) {
    const int64_t codes[2] = {1, 0};
    zvcrash_mapped_signal out{};
    EXPECT_FALSE(zvcrash_exception_to_signal(EXC_GUARD, codes, 2, kHostCpuType, &out));
    EXPECT_FALSE(zvcrash_exception_to_signal(EXC_RESOURCE, codes, 2, kHostCpuType, &out));
    EXPECT_FALSE(zvcrash_exception_to_signal(0, codes, 2, kHostCpuType, &out));
    EXPECT_FALSE(zvcrash_exception_to_signal(EXC_BAD_ACCESS, codes, 1, kHostCpuType, &out));
}

// --- Message codec ----------------------------------------------------------------------------

TEST(MachExceptionCodec, RequestSizesAndCounts) {
    zvcrash_exception_request parsed{};
    // 75 bytes is refused; 76 (one code) is a request.
    auto shortOne = request(1, 1, 0x200);
    reinterpret_cast<mach_msg_header_t*>(shortOne.data())->msgh_size = 75;
    EXPECT_EQ(zvcrash_exception_request_parse(shortOne.data(), 4096, &parsed),
              zvcrash_exception_request_result::TooShort);
    auto one = request(1, 1, 0x200);
    ASSERT_EQ(one.size(), 76u);
    ASSERT_EQ(zvcrash_exception_request_parse(one.data(), 4096, &parsed), zvcrash_exception_request_result::Request);
    EXPECT_EQ(parsed.thread, 0x1234u);
    EXPECT_EQ(parsed.task, 0x0Fu);
    EXPECT_EQ(parsed.exception, EXC_BAD_ACCESS);
    EXPECT_EQ(parsed.code_count, 1u);
    // Counts are checked against the buffer: (4096 - 76) / 8 = 502 fit, 503 don't, and a count
    // whose byte size wraps in 32 bits doesn't slip through.
    auto many = request(1, 502, 0x200);
    EXPECT_EQ(zvcrash_exception_request_parse(many.data(), 4096, &parsed), zvcrash_exception_request_result::Request);
    auto tooMany = request(1, 503, 0x200);
    EXPECT_EQ(zvcrash_exception_request_parse(tooMany.data(), 4096, &parsed),
              zvcrash_exception_request_result::Oversized);
    auto wraps = request(1, 0x20000000, 0x200);
    EXPECT_EQ(zvcrash_exception_request_parse(wraps.data(), 4096, &parsed),
              zvcrash_exception_request_result::Oversized);
    // A buffer too small for a header isn't read beyond its end.
    EXPECT_EQ(zvcrash_exception_request_parse(one.data(), 10, &parsed), zvcrash_exception_request_result::TooShort);
    auto zero = request(1, 0, 0x200);
    EXPECT_EQ(zvcrash_exception_request_parse(zero.data(), 4096, &parsed), zvcrash_exception_request_result::Request);
}

TEST(MachExceptionCodec, AReplyIdWrapsInItsThirtyTwoBits) {
    for (const auto& [request, reply] : std::vector<std::pair<int32_t, uint32_t>>{
             {2405, 2505u}, {INT32_MAX - 20, 0x80000000u + 79u}, {INT32_MAX, 0x80000000u + 99u}, {-100, 0u}}) {
        SCOPED_TRACE(request);
        mach_msg_header_t req{};
        req.msgh_id = request;
        uint8_t out[kZVCrashExceptionReplySize];
        zvcrash_exception_reply_build(req, KERN_SUCCESS, out);
        EXPECT_EQ(u32(out + 20), reply);
    }
}

TEST(MachExceptionCodec, ReplyAndTerminationBytes) {
    mach_msg_header_t req{0x80001513, 84, 0x345, 0x200, 0, 2405};
    uint8_t reply[36];
    zvcrash_exception_reply_build(req, KERN_FAILURE, reply);
    EXPECT_EQ(u32(reply), 0x13u);  // the request's remote disposition only
    EXPECT_EQ(u32(reply + 4), 36u);
    EXPECT_EQ(u32(reply + 8), 0x345u);
    EXPECT_EQ(u32(reply + 12), 0u);
    EXPECT_EQ(u32(reply + 16), 0u);
    EXPECT_EQ(u32(reply + 20), 2505u);
    EXPECT_EQ(std::memcmp(reply + 24, &NDR_record, 8), 0);
    EXPECT_EQ(u32(reply + 32), 5u);
    uint8_t stop[24];
    zvcrash_termination_message_build(0x777, stop);
    EXPECT_EQ(u32(stop), 0x1513u);
    EXPECT_EQ(u32(stop + 4), 24u);
    EXPECT_EQ(u32(stop + 8), 0x777u);
    EXPECT_EQ(u32(stop + 12), 0u);
    EXPECT_EQ(u32(stop + 20), 0xDEADBEEFu);
}

// --- Ports --------------------------------------------------------------------------------------

TEST(MachPorts, PortSetReceivesInArrivalOrderAndKeepsOversizedMessages) {
    const mach_port_t a = newPort(), b = newPort();
    mach_port_t set = MACH_PORT_NULL;
    ASSERT_EQ(mach_port_allocate(mach_task_self(), MACH_PORT_RIGHT_PORT_SET, &set), KERN_SUCCESS);
    ASSERT_EQ(mach_port_move_member(mach_task_self(), a, set), KERN_SUCCESS);
    ASSERT_EQ(mach_port_move_member(mach_task_self(), b, set), KERN_SUCCESS);
    mach_msg_header_t m1{0, 24, b, 0, 0, 1}, m2{0, 24, a, 0, 0, 2};
    ASSERT_EQ(mach_msg(&m1, MACH_SEND_MSG, 24, 0, 0, 0, 0), MACH_MSG_SUCCESS);
    ASSERT_EQ(mach_msg(&m2, MACH_SEND_MSG, 24, 0, 0, 0, 0), MACH_MSG_SUCCESS);
    std::vector<uint8_t> big(200, 0xAB);
    mach_msg_header_t h3{0, 200, a, 0, 0, 3};
    std::memcpy(big.data(), &h3, sizeof h3);
    ASSERT_EQ(mach_msg(reinterpret_cast<mach_msg_header_t*>(big.data()), MACH_SEND_MSG, 200, 0, 0, 0, 0),
              MACH_MSG_SUCCESS);
    std::vector<uint8_t> got;
    ASSERT_TRUE(receiveOne(set, &got));
    EXPECT_EQ(reinterpret_cast<mach_msg_header_t*>(got.data())->msgh_id, 1);
    EXPECT_EQ(reinterpret_cast<mach_msg_header_t*>(got.data())->msgh_local_port, b);
    ASSERT_TRUE(receiveOne(set, &got));
    EXPECT_EQ(reinterpret_cast<mach_msg_header_t*>(got.data())->msgh_id, 2);
    // Too large for 64 bytes: kept, and its size announced.
    alignas(8) uint8_t small[64];
    auto* header = reinterpret_cast<mach_msg_header_t*>(small);
    EXPECT_EQ(mach_msg(header, MACH_RCV_MSG | MACH_RCV_LARGE, 0, sizeof small, set, 0, 0), MACH_RCV_TOO_LARGE);
    EXPECT_EQ(header->msgh_size, 200u);
    ASSERT_TRUE(receiveOne(set, &got, 256));
    EXPECT_EQ(got.size(), 200u);
    EXPECT_EQ(got[199], 0xAB);
    EXPECT_EQ(mach_msg(header, MACH_RCV_MSG | MACH_RCV_TIMEOUT, 0, sizeof small, set, 10, 0), MACH_RCV_TIMED_OUT);
    destroyPort(a);
    destroyPort(b);
    mach_port_mod_refs(mach_task_self(), set, MACH_PORT_RIGHT_PORT_SET, -1);
    // A destroyed port refuses messages.
    EXPECT_EQ(mach_msg(&m1, MACH_SEND_MSG, 24, 0, 0, 0, 0), MACH_SEND_INVALID_DEST);
}

TEST(MachPorts, DroppingTheLastSendRightNotifies) {
    const mach_port_t port = newPort(), notify = newPort();
    ASSERT_EQ(mach_port_request_notification(mach_task_self(), port, MACH_NOTIFY_NO_SENDERS, 1, notify,
                                             MACH_MSG_TYPE_MAKE_SEND_ONCE, nullptr),
              KERN_SUCCESS);
    ASSERT_EQ(mach_port_insert_right(mach_task_self(), port, port, MACH_MSG_TYPE_MAKE_SEND), KERN_SUCCESS);
    ASSERT_EQ(mach_port_mod_refs(mach_task_self(), port, MACH_PORT_RIGHT_SEND, 1), KERN_SUCCESS);
    ASSERT_EQ(mach_port_mod_refs(mach_task_self(), port, MACH_PORT_RIGHT_SEND, -1), KERN_SUCCESS);
    std::vector<uint8_t> got;
    alignas(8) uint8_t buffer[64];
    EXPECT_EQ(
        mach_msg(reinterpret_cast<mach_msg_header_t*>(buffer), MACH_RCV_MSG | MACH_RCV_TIMEOUT, 0, 64, notify, 10, 0),
        MACH_RCV_TIMED_OUT);
    ASSERT_EQ(mach_port_mod_refs(mach_task_self(), port, MACH_PORT_RIGHT_SEND, -1), KERN_SUCCESS);
    ASSERT_TRUE(receiveOne(notify, &got));
    EXPECT_EQ(reinterpret_cast<mach_msg_header_t*>(got.data())->msgh_id, MACH_NOTIFY_NO_SENDERS);
    EXPECT_EQ(mach_port_mod_refs(mach_task_self(), port, MACH_PORT_RIGHT_SEND, -1), KERN_INVALID_RIGHT);
    destroyPort(port);
    destroyPort(notify);
}

// --- Server -----------------------------------------------------------------------------------

namespace {

struct Seen {
    std::atomic<int> calls{0};
    std::atomic<uint32_t> count{0};
    int64_t codes[4] = {};
    std::atomic<mach_port_t> thread{0};
};

kern_return_t recordingCallback(mach_port_t, mach_port_t thread, exception_type_t,
                                const mach_exception_data_type_t* codes, uint32_t count, void* context) {
    auto* seen = static_cast<Seen*>(context);
    for (uint32_t i = 0; i < count && i < 4; ++i) seen->codes[i] = codes[i];
    seen->count.store(count);
    seen->thread.store(thread);
    seen->calls.fetch_add(1);
    return 42;
}

// Sends `bytes` to the server with a reply port; returns the reply, or nothing within the time-out.
bool exchange(std::vector<uint8_t> bytes, std::vector<uint8_t>* reply, uint32_t timeoutMs = 1000) {
    const mach_port_t replyPort = newPort();
    auto* header = reinterpret_cast<mach_msg_header_t*>(bytes.data());
    header->msgh_local_port = replyPort;
    const uint32_t size = static_cast<uint32_t>(bytes.size());
    EXPECT_EQ(mach_msg(header, MACH_SEND_MSG, size, 0, 0, 0, 0), MACH_MSG_SUCCESS);
    reply->assign(64, 0);
    const auto kr = mach_msg(reinterpret_cast<mach_msg_header_t*>(reply->data()), MACH_RCV_MSG | MACH_RCV_TIMEOUT, 0,
                             64, replyPort, timeoutMs, 0);
    destroyPort(replyPort);
    return kr == MACH_MSG_SUCCESS;
}

}  // namespace

TEST(MachExceptionServer, ServesRequestsRefusesShortOnesAndDropsOversizedOnes) {
    Seen seen;
    auto server = ZVCrashMachExceptionServer::initWithCallBack(&recordingCallback, &seen);
    ASSERT_TRUE(server.ok()) << server.error().description();
    EXPECT_NE(server.value()->serverThread(), MACH_PORT_NULL);
    foundation::Error error;
    const mach_port_t port = server.value()->copySendRightForServerAndReturningError(&error);
    ASSERT_NE(port, MACH_PORT_NULL);

    std::vector<uint8_t> reply;
    ASSERT_TRUE(exchange(request(2, 2, port), &reply));
    EXPECT_EQ(u32(reply.data() + 20), 2505u);
    EXPECT_EQ(u32(reply.data() + 32), 42u);
    EXPECT_EQ(seen.calls.load(), 1);
    EXPECT_EQ(seen.count.load(), 2u);
    EXPECT_EQ(seen.codes[0], 0x1111111100000001);
    EXPECT_EQ(seen.codes[1], 0x1111111100000002);
    EXPECT_EQ(seen.thread.load(), 0x1234u);

    // Zero codes pass; a 75-byte message gets KERN_FAILURE without reaching the callback.
    ASSERT_TRUE(exchange(request(1, 0, port), &reply));
    EXPECT_EQ(u32(reply.data() + 32), 42u);
    EXPECT_EQ(seen.count.load(), 0u);
    auto shortOne = request(1, 1, port);
    shortOne.resize(75);
    ASSERT_TRUE(exchange(shortOne, &reply));
    EXPECT_EQ(u32(reply.data() + 32), static_cast<uint32_t>(KERN_FAILURE));
    EXPECT_EQ(seen.calls.load(), 2);
    // More codes announced than the page holds: no reply, no call.
    EXPECT_FALSE(exchange(request(1, 0x20000000, port), &reply, 100));
    EXPECT_EQ(seen.calls.load(), 2);

    // Dropping the last send right sends no-senders, which doesn't stop the server.
    mach_port_mod_refs(mach_task_self(), port, MACH_PORT_RIGHT_SEND, -1);
    const mach_port_t again = server.value()->copySendRightForServerAndReturningError(&error);
    ASSERT_TRUE(exchange(request(2, 2, again), &reply));
    EXPECT_EQ(seen.calls.load(), 3);
    mach_port_mod_refs(mach_task_self(), again, MACH_PORT_RIGHT_SEND, -1);
    // Teardown stops the thread and waits for it (a hang here fails by the test time-out).
    server = foundation::Error();
}

TEST(MachExceptionServer, ExceptionPortCarriesCodesBehaviourAndOneReference) {
    Seen seen;
    auto server = ZVCrashMachExceptionServer::initWithCallBack(&recordingCallback, &seen);
    ASSERT_TRUE(server.ok());
    foundation::Error error;
    auto port = server.value()->exceptionPortWithMask(0x6E, &error);
    ASSERT_TRUE(port);
    EXPECT_EQ(port->mask(), 0x6Eu);
    EXPECT_EQ(static_cast<uint32_t>(port->behavior()), 0x80000001u);
    EXPECT_EQ(port->flavor(), 1);
    uint32_t refs = 0;
    ASSERT_EQ(mach_port_mod_refs_count(port->server_port(), &refs), KERN_SUCCESS);
    EXPECT_EQ(refs, 1u);
}

// --- Forwarding -------------------------------------------------------------------------------

namespace {

// Answers one exception request on `port` with `result`, keeping the request's bytes.
std::thread answerOne(mach_port_t port, kern_return_t result, std::vector<uint8_t>* seen) {
    return std::thread([=] {
        if (!receiveOne(port, seen, 256)) return;
        uint8_t reply[36];
        zvcrash_exception_reply_build(*reinterpret_cast<mach_msg_header_t*>(seen->data()), result, reply);
        mach_msg(reinterpret_cast<mach_msg_header_t*>(reply), MACH_SEND_MSG, 36, 0, 0, 0, 0);
    });
}

}  // namespace

TEST(MachExceptionForward, FirstMatchingEntryWith32BitCodes) {
    const mach_port_t first = newPort(), second = newPort();
    zvcrash_mach_exception_port_state_set form{};
    form.count = 3;
    form.masks[0] = EXC_MASK_BAD_ACCESS;
    form.ports[0] = MACH_PORT_NULL;  // not valid: skipped
    form.masks[1] = EXC_MASK_BAD_ACCESS | EXC_MASK_ARITHMETIC;
    form.ports[1] = first;
    form.behaviors[1] = EXCEPTION_DEFAULT;
    form.masks[2] = EXC_MASK_BAD_ACCESS;
    form.ports[2] = second;
    form.behaviors[2] = EXCEPTION_DEFAULT;
    std::vector<uint8_t> seen;
    auto answer = answerOne(first, KERN_SUCCESS, &seen);
    const int64_t codes[2] = {0x100000001, 0x7fff00001234};
    EXPECT_EQ(zvcrash_exception_port_forward(&form, mach_task_self(), 77, EXC_BAD_ACCESS, codes, 2), KERN_SUCCESS);
    answer.join();
    ASSERT_EQ(seen.size(), 76u);  // 32-bit codes
    EXPECT_EQ(u32(seen.data() + 20), static_cast<uint32_t>(kExceptionRaiseId));
    EXPECT_EQ(u32(seen.data() + 28), 77u);
    EXPECT_EQ(u32(seen.data() + 60), static_cast<uint32_t>(EXC_BAD_ACCESS));
    EXPECT_EQ(u32(seen.data() + 64), 2u);
    EXPECT_EQ(u32(seen.data() + 68), 1u);
    EXPECT_EQ(u32(seen.data() + 72), 0x1234u);

    // An entry asking for 64-bit codes is not forwarded to, and later entries aren't tried.
    form.behaviors[1] = EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES;
    EXPECT_EQ(zvcrash_exception_port_forward(&form, mach_task_self(), 77, EXC_BAD_ACCESS, codes, 2), KERN_FAILURE);
    alignas(8) uint8_t buffer[128];
    EXPECT_EQ(
        mach_msg(reinterpret_cast<mach_msg_header_t*>(buffer), MACH_RCV_MSG | MACH_RCV_TIMEOUT, 0, 128, second, 10, 0),
        MACH_RCV_TIMED_OUT);
    // No entry for the type, or no entries: failure.
    EXPECT_EQ(zvcrash_exception_port_forward(&form, mach_task_self(), 77, EXC_BREAKPOINT, codes, 2), KERN_FAILURE);
    form.count = 0;
    EXPECT_EQ(zvcrash_exception_port_forward(&form, mach_task_self(), 77, EXC_BAD_ACCESS, codes, 2), KERN_FAILURE);
    destroyPort(first);
    destroyPort(second);
}

// --- Real faults --------------------------------------------------------------------------------

namespace {

char* gPage = nullptr;

kern_return_t unprotectAndResume(mach_port_t, mach_port_t, exception_type_t type,
                                 const mach_exception_data_type_t* codes, uint32_t count, void*) {
    if (type != EXC_BAD_ACCESS || count < 2 || codes[0] != KERN_PROTECTION_FAILURE) return KERN_FAILURE;
    return ::mprotect(gPage, 4096, PROT_READ | PROT_WRITE) == 0 ? KERN_SUCCESS : KERN_FAILURE;
}

kern_return_t faultItself(mach_port_t, mach_port_t, exception_type_t, const mach_exception_data_type_t*, uint32_t,
                          void*) {
    hx_fixture_null_write_outer();
    return KERN_FAILURE;
}

kern_return_t refuse(mach_port_t, mach_port_t, exception_type_t, const mach_exception_data_type_t*, uint32_t, void*) {
    return KERN_FAILURE;
}

void serveTask(ZVCrashMachExceptionServerCallback callback, std::shared_ptr<ZVCrashMachExceptionServer>* keep) {
    auto server = ZVCrashMachExceptionServer::initWithCallBack(callback, nullptr);
    if (!server.ok()) _exit(20);
    foundation::Error error;
    auto port = server.value()->exceptionPortWithMask(0x6E, &error);
    if (!port || !port->registerForTask(mach_task_self(), nullptr, &error)) _exit(21);
    *keep = server.value();
}

}  // namespace

TEST(MachExceptionFaults, ASuccessReplyResumesTheFaultingThread) {
    int status = crashtest::runInChild([] {
        alarm(20);
        std::shared_ptr<ZVCrashMachExceptionServer> server;
        gPage = static_cast<char*>(::mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        serveTask(&unprotectAndResume, &server);
        *reinterpret_cast<volatile char*>(gPage + 10) = 7;
        _exit(gPage[10] == 7 ? 0 : 30);
    });
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(MachExceptionFaults, AFaultOnTheServerThreadTakesTheDefaultAction) {
    int status = crashtest::runInChild([] {
        alarm(20);  // without the rule the process would wait for itself forever
        std::shared_ptr<ZVCrashMachExceptionServer> server;
        serveTask(&faultItself, &server);
        ::raise(SIGUSR1);  // not a fault: never an exception message
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGUSR1);
    status = crashtest::runInChild([] {
        alarm(20);
        std::shared_ptr<ZVCrashMachExceptionServer> server;
        serveTask(&faultItself, &server);
        hx_fixture_null_write_outer();
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
}

TEST(MachExceptionFaults, AFailureReplyReRaisesTheFaultsSignal) {
    // A write to a read-only page is EXC_BAD_ACCESS/KERN_PROTECTION_FAILURE, which maps to SIGBUS;
    // the process still dies by the signal the fault raised.
    int status = crashtest::runInChild([] {
        alarm(20);
        std::shared_ptr<ZVCrashMachExceptionServer> server;
        serveTask(&refuse, &server);
        auto* page = static_cast<char*>(::mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        *reinterpret_cast<volatile char*>(page) = 1;
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
#if defined(__x86_64__)
    status = crashtest::runInChild([] {
        alarm(20);
        std::shared_ptr<ZVCrashMachExceptionServer> server;
        serveTask(&refuse, &server);
        int zero = 0;
        asm volatile("movl $1, %%eax; cltd; idivl %0" : : "r"(zero) : "eax", "edx");
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    EXPECT_EQ(WTERMSIG(status), SIGFPE);
#endif
    status = crashtest::runInChild([] {
        alarm(20);
        std::shared_ptr<ZVCrashMachExceptionServer> server;
        serveTask(&refuse, &server);
        // A previous exception port that refuses, then ours: the swap hands the old one back.
        foundation::Error error;
        auto again = ZVCrashMachExceptionServer::initWithCallBack(&refuse, nullptr);
        auto port = again.value()->exceptionPortWithMask(0x6E, &error);
        std::shared_ptr<ZVCrashMachExceptionPortSet> previous;
        if (!port->registerForTask(mach_task_self(), &previous, &error)) _exit(40);
        if (!previous || previous->asyncSafeRepresentation().count != 1) _exit(41);
        if (previous->asyncSafeRepresentation().masks[0] != 0x6E) _exit(42);
        hx_fixture_null_write_outer();
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
}
