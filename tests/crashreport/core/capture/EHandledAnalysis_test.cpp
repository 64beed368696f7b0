// Whether a handler of the program takes an exception, decided on handler
// chains laid out by hand (records, jumps, on-exception tables), and on the
// live chain of this thread with and without the structured-exception guard.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "crashreport/core/capture/EHandledAnalysis.h"
#include "platform/Exceptions.h"
#include "platform/runtime/SehGuard.h"

namespace {

namespace cr = kv::crashreport;

std::uint32_t Address(const void* p) { return reinterpret_cast<std::uint32_t>(p); }

// Code memory of the hand-made chains: three routines standing for the
// runtime's handlers, then the handlers' jumps with their tables.
class HandMadeCode {
public:
    HandMadeCode()
    {
        bytes_ = static_cast<std::uint8_t*>(::VirtualAlloc(nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        std::memset(bytes_, 0xC3, kSize);
        handlers_.AnyException = bytes_ + 0;
        handlers_.OnException = bytes_ + 16;
        handlers_.SafeCall = bytes_ + 32;
        next_ = 256;
    }
    ~HandMadeCode() { ::VirtualFree(bytes_, 0, MEM_RELEASE); }
    HandMadeCode(const HandMadeCode&) = delete;
    HandMadeCode& operator=(const HandMadeCode&) = delete;

    const cr::TRuntimeHandlers& Handlers() const { return handlers_; }
    std::uint8_t* At(std::uint32_t offset) { return bytes_ + offset; }

    // A handler: a 5-byte jump to `target`, followed by `after` (a table).
    std::uint32_t Jump(const void* target, const std::vector<std::uint32_t>& after = {})
    {
        std::uint8_t* at = bytes_ + next_;
        at[0] = 0xE9;
        const std::int32_t displacement = static_cast<std::int32_t>(Address(target) - (Address(at) + 5));
        std::memcpy(at + 1, &displacement, 4);
        std::memcpy(at + 5, after.data(), after.size() * 4);
        next_ += 8 + static_cast<std::uint32_t>(after.size()) * 4;
        next_ = (next_ + 15) & ~15u;
        return Address(at);
    }
    // An import thunk (jmp [cell]) whose cell holds `target`.
    std::uint32_t Thunk(const void* target)
    {
        std::uint8_t* at = bytes_ + next_;
        std::uint8_t* cell = at + 8;
        const std::uint32_t value = Address(target), cellAddress = Address(cell);
        at[0] = 0xFF;
        at[1] = 0x25;
        std::memcpy(at + 2, &cellAddress, 4);
        std::memcpy(cell, &value, 4);
        next_ += 16;
        return Address(at);
    }
    // Retargets the jump at `handler`.
    void Retarget(std::uint32_t handler, const void* target)
    {
        const std::int32_t displacement = static_cast<std::int32_t>(Address(target) - (handler + 5));
        std::memcpy(reinterpret_cast<void*>(handler + 1), &displacement, 4);
    }

private:
    static constexpr std::size_t kSize = 8192;
    std::uint8_t* bytes_;
    cr::TRuntimeHandlers handlers_;
    std::uint32_t next_;
};

cr::TSehChainSnapshot Chain(std::uint32_t head, std::initializer_list<std::uint32_t> handlers)
{
    cr::TSehChainSnapshot chain;
    chain.Head = head;
    for (const std::uint32_t handler : handlers) chain.Handlers[chain.Count++] = handler;
    return chain;
}

// A table's class reference: the class's self-pointer slot, 88 bytes before it.
std::uint32_t ClassReference(const std::type_info& type) { return Address(&type) - cr::kClassSelfSlotOffset; }

EXCEPTION_RECORD g_record{};
kv::EAccessViolation g_violation(L"Access violation", g_record);
kv::EStackOverflow g_overflow(L"Stack overflow", g_record);

// ---- Kinds

struct KindCase {
    const char* name;
    int target; // 0-2: the three routines, 3: elsewhere, 4: the any-exception routine through a thunk
    cr::THandlerKind kind;
};

class ClassifyTest : public testing::TestWithParam<KindCase> {};

TEST_P(ClassifyTest, JumpTargetGivesTheKind)
{
    HandMadeCode code;
    const KindCase& c = GetParam();
    const void* targets[] = {code.Handlers().AnyException, code.Handlers().OnException, code.Handlers().SafeCall,
                             code.At(100)};
    const void* target = c.target < 4 ? targets[c.target]
                                      : reinterpret_cast<const void*>(code.Thunk(code.Handlers().AnyException));
    const std::uint32_t handler = code.Jump(target);
    EXPECT_EQ(cr::ClassifySehHandler(reinterpret_cast<const void*>(handler), code.Handlers()), c.kind);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ClassifyTest,
                         testing::Values(KindCase{"AnyException", 0, cr::hkAnyException},
                                         KindCase{"OnException", 1, cr::hkOnException},
                                         KindCase{"SafeCall", 2, cr::hkSafeCall},
                                         KindCase{"ForeignRoutine", 3, cr::hkOther},
                                         KindCase{"ThroughImportThunk", 4, cr::hkAnyException}),
                         [](const testing::TestParamInfo<KindCase>& info) { return std::string(info.param.name); });

TEST(HandledAnalysisTest, UnreadableHandlerIsOther)
{
    HandMadeCode code;
    EXPECT_EQ(cr::ClassifySehHandler(nullptr, code.Handlers()), cr::hkOther);
    void* page = ::VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
    EXPECT_EQ(cr::ClassifySehHandler(page, code.Handlers()), cr::hkOther);
    ::VirtualFree(page, 0, MEM_RELEASE);
}

// ---- Walks

TEST(HandledAnalysisTest, BareHandlerCatches)
{
    HandMadeCode code;
    cr::THandlerWalkSettings settings;
    settings.Handlers = code.Handlers();
    const std::uint32_t foreign = code.Jump(code.At(100));
    const std::uint32_t bare = code.Jump(code.Handlers().AnyException);
    const cr::THandledAnalysis result = cr::WalkHandlerChain(&g_violation, Chain(0x1000, {foreign, bare}), settings);
    EXPECT_EQ(result.Handled, 1);
    EXPECT_EQ(result.HandlerCount, 1u);
    EXPECT_EQ(result.FirstKind, cr::hkAnyException);
    EXPECT_EQ(result.FirstUserHandler, reinterpret_cast<const void*>(bare + 5));
    EXPECT_EQ(result.AsynchronousKind, cr::aeNone);

    const cr::THandledAnalysis none = cr::WalkHandlerChain(&g_violation, Chain(0x1000, {foreign}), settings);
    EXPECT_EQ(none.Handled, 0);
    EXPECT_EQ(none.HandlerCount, 0u);
}

struct TableCase {
    const char* name;
    std::vector<const std::type_info*> classes; // nullptr: a catch-all entry
    bool catches;
    int entry; // the entry whose code is taken
};

class OnTableTest : public testing::TestWithParam<TableCase> {};

TEST_P(OnTableTest, EntriesTriedInOrder)
{
    const TableCase& c = GetParam();
    for (const bool inPackage : {false, true}) {
        HandMadeCode code;
        // In a package the entry holds the address of a pointer to the slot.
        std::vector<std::uint32_t> slots(c.classes.size());
        std::vector<std::uint32_t> table{static_cast<std::uint32_t>(c.classes.size())};
        for (std::size_t i = 0; i < c.classes.size(); ++i) {
            const std::uint32_t reference = c.classes[i] ? ClassReference(*c.classes[i]) : 0;
            slots[i] = reference;
            table.push_back(inPackage && reference ? Address(&slots[i]) : reference);
            table.push_back(0x00500000 + static_cast<std::uint32_t>(i) * 0x10);
        }
        cr::THandlerWalkSettings settings;
        settings.Handlers = code.Handlers();
        settings.RuntimeInPackage = inPackage;
        const std::uint32_t handler = code.Jump(code.Handlers().OnException, table);
        const void* entryCode = nullptr;
        EXPECT_EQ(cr::OnTableCatches(&g_violation, reinterpret_cast<const void*>(handler + 5), inPackage, entryCode),
                  c.catches)
            << "package " << inPackage;
        const cr::THandledAnalysis result = cr::WalkHandlerChain(&g_violation, Chain(0x2000, {handler}), settings);
        EXPECT_EQ(result.Handled, c.catches ? 1 : 0) << "package " << inPackage;
        if (c.catches) {
            EXPECT_EQ(entryCode, reinterpret_cast<const void*>(0x00500000 + c.entry * 0x10));
            EXPECT_EQ(result.FirstKind, cr::hkOnException);
            EXPECT_EQ(result.FirstUserHandler, entryCode);
        } else {
            EXPECT_EQ(result.HandlerCount, 0u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, OnTableTest,
    testing::Values(
        TableCase{"NonMatchingClasses", {&typeid(kv::EDivByZero), &typeid(kv::EMathError)}, false, 0},
        TableCase{"EmptyTable", {}, false, 0},
        TableCase{"OwnClass", {&typeid(kv::EDivByZero), &typeid(kv::EAccessViolation)}, true, 1},
        TableCase{"AncestorClass", {&typeid(kv::EMathError), &typeid(kv::EExternal), &typeid(kv::EAccessViolation)},
                  true, 1},
        TableCase{"CatchAllEntry", {&typeid(kv::EDivByZero), nullptr}, true, 1}),
    [](const testing::TestParamInfo<TableCase>& info) { return std::string(info.param.name); });

TEST(HandledAnalysisTest, TableReadStopsAtUnreadableEntries)
{
    HandMadeCode code;
    // A count far beyond the committed page: the walk stops where memory ends.
    std::uint8_t* table = code.At(8192 - 12);
    const std::uint32_t words[3] = {1000, ClassReference(typeid(kv::EDivByZero)), 0x00500000};
    std::memcpy(table, words, sizeof words);
    const void* entryCode = nullptr;
    EXPECT_FALSE(cr::OnTableCatches(&g_violation, table, false, entryCode));
}

struct SynchronizeCase {
    const char* name;
    int distance;      // of the first taker's code from the synchronize except block
    bool takerBefore;  // another handler takes it first
    std::uint8_t handled;
    cr::TAsynchronousException kind;
};

class SynchronizeTest : public testing::TestWithParam<SynchronizeCase> {};

TEST_P(SynchronizeTest, FirstTakerNearTheSynchronizeBlock)
{
    const SynchronizeCase& c = GetParam();
    HandMadeCode code;
    cr::THandlerWalkSettings settings;
    settings.Handlers = code.Handlers();
    const std::uint32_t inner = code.Jump(code.Handlers().AnyException);
    for (int i = 0; i < 8; ++i) code.Jump(code.At(100)); // keeps the inner block out of reach
    const std::uint32_t synchronize = code.Jump(code.Handlers().AnyException);
    settings.SynchronizeExceptBlock = reinterpret_cast<const void*>(synchronize + 5 - c.distance);
    const cr::TSehChainSnapshot chain =
        c.takerBefore ? Chain(0x3000, {inner, synchronize}) : Chain(0x3000, {synchronize});
    const cr::THandledAnalysis result = cr::WalkHandlerChain(&g_violation, chain, settings);
    EXPECT_EQ(result.Handled, c.handled);
    EXPECT_EQ(result.AsynchronousKind, c.kind);
}

INSTANTIATE_TEST_SUITE_P(
    Synchronize, SynchronizeTest,
    testing::Values(SynchronizeCase{"AtTheBlock", 0, false, 0, cr::aeSynchronize},
                    SynchronizeCase{"SixtyFourBytesAway", 64, false, 0, cr::aeSynchronize},
                    SynchronizeCase{"SixtyFourBytesBefore", -64, false, 0, cr::aeSynchronize},
                    SynchronizeCase{"SixtyFiveBytesAway", 65, false, 1, cr::aeNone},
                    SynchronizeCase{"AnotherTakerFirst", 0, true, 1, cr::aeNone}),
    [](const testing::TestParamInfo<SynchronizeCase>& info) { return std::string(info.param.name); });

// ---- The verdict: cache, unit start, overrides

class VerdictTest : public testing::Test {
protected:
    void SetUp() override
    {
        cr::HandledCacheClear();
        settings_.Handlers = code_.Handlers();
    }
    void TearDown() override { cr::HandledCacheClear(); }

    std::uint8_t Verdict(const void* object, const cr::TSehChainSnapshot& chain, const cr::THandledQuery& query,
                         cr::TAsynchronousException& kind)
    {
        return cr::AnalyseHandled(object, chain, query, settings_, kind);
    }

    HandMadeCode code_;
    cr::THandlerWalkSettings settings_;
};

TEST_F(VerdictTest, EleventhKeyDropsTheOldest)
{
    cr::THandledAnalysis analysis;
    analysis.Handled = 1;
    analysis.HandlerCount = 3;
    analysis.FirstKind = cr::hkSafeCall;
    for (std::uint32_t key = 1; key <= 11; ++key)
        cr::HandledCacheAdd(&typeid(kv::EAccessViolation), reinterpret_cast<const void*>(key), 0x4000, analysis);
    EXPECT_EQ(cr::HandledCacheCount(), 10);
    cr::THandledAnalysis found;
    EXPECT_FALSE(cr::HandledCacheLookup(&typeid(kv::EAccessViolation), reinterpret_cast<const void*>(1), 0x4000, found));
    for (std::uint32_t key = 2; key <= 11; ++key)
        EXPECT_TRUE(cr::HandledCacheLookup(&typeid(kv::EAccessViolation), reinterpret_cast<const void*>(key), 0x4000,
                                           found))
            << key;
    EXPECT_EQ(found.Handled, 1);
    EXPECT_EQ(found.HandlerCount, 3u);
    EXPECT_EQ(found.FirstKind, cr::hkSafeCall);
    // All three keys must agree.
    EXPECT_FALSE(cr::HandledCacheLookup(&typeid(kv::EStackOverflow), reinterpret_cast<const void*>(5), 0x4000, found));
    EXPECT_FALSE(cr::HandledCacheLookup(&typeid(kv::EAccessViolation), reinterpret_cast<const void*>(5), 0x4004, found));
}

TEST_F(VerdictTest, CacheAnswersTheSameRaiseUnlessUnitsStartOrEnd)
{
    const std::uint32_t handler = code_.Jump(code_.Handlers().AnyException);
    const cr::TSehChainSnapshot chain = Chain(0x5000, {handler});
    cr::THandledQuery query;
    query.Address = reinterpret_cast<const void*>(0x00401234);
    cr::TAsynchronousException kind = cr::aeNone;
    EXPECT_EQ(Verdict(&g_violation, chain, query, kind), 1);
    // The same record now leads elsewhere: the cache still answers for the
    // same class, address and head...
    code_.Retarget(handler, code_.At(100));
    EXPECT_EQ(Verdict(&g_violation, chain, query, kind), 1);
    // ...but never while the units start or end: the chain is walked again.
    query.UnitStartOrEnd = true;
    EXPECT_EQ(Verdict(&g_violation, chain, query, kind), 0);
    EXPECT_EQ(cr::HandledCacheCount(), 2);
}

TEST_F(VerdictTest, RuntimeCoreHandlerDuringUnitStartIsNoHandler)
{
    const std::uint32_t handler = code_.Jump(code_.Handlers().AnyException);
    settings_.RuntimeCoreCode = {reinterpret_cast<const void*>(handler), reinterpret_cast<const void*>(handler + 16)};
    cr::THandledQuery query;
    query.Address = reinterpret_cast<const void*>(0x00401000);
    cr::TAsynchronousException kind = cr::aeNone;
    EXPECT_EQ(Verdict(&g_violation, Chain(0x6000, {handler}), query, kind), 1);
    query.UnitStartOrEnd = true;
    EXPECT_EQ(Verdict(&g_violation, Chain(0x6000, {handler}), query, kind), 0);
}

TEST_F(VerdictTest, SafeCallHandlerReportsWhenAsked)
{
    const cr::TSehChainSnapshot chain = Chain(0x7000, {code_.Jump(code_.Handlers().SafeCall)});
    cr::THandledQuery query;
    query.Address = reinterpret_cast<const void*>(0x00402000);
    cr::TAsynchronousException kind = cr::aeNone;
    EXPECT_EQ(Verdict(&g_violation, chain, query, kind), 1);
    EXPECT_EQ(kind, cr::aeNone);
    query.HandleSafeCallExceptions = true;
    EXPECT_EQ(Verdict(&g_violation, chain, query, kind), 0);
    EXPECT_EQ(kind, cr::aeSafeCall);
}

TEST_F(VerdictTest, StackOverflowIsAlwaysReported)
{
    const cr::TSehChainSnapshot chain = Chain(0x8000, {code_.Jump(code_.Handlers().AnyException)});
    cr::THandledQuery query;
    query.Address = reinterpret_cast<const void*>(0x00403000);
    query.ForceHandled = true;
    cr::TAsynchronousException kind = cr::aeSafeCall;
    EXPECT_EQ(Verdict(&g_overflow, chain, query, kind), 0);
    EXPECT_EQ(kind, cr::aeNone);
    EXPECT_EQ(cr::HandledCacheCount(), 0);
}

TEST_F(VerdictTest, ForcedOrForwardedCountsAsHandled)
{
    const cr::TSehChainSnapshot empty = Chain(cr::kChainEnd, {});
    cr::THandledQuery query;
    query.Address = reinterpret_cast<const void*>(0x00404000);
    cr::TAsynchronousException kind = cr::aeNone;
    EXPECT_EQ(Verdict(&g_violation, empty, query, kind), 0);
    query.ForceHandled = true;
    EXPECT_EQ(Verdict(&g_violation, empty, query, kind), 1);
    query.ForceHandled = false;
    query.MainModuleCarriesReporter = true;
    EXPECT_EQ(Verdict(&g_violation, empty, query, kind), 1);
}

// ---- Chains in memory

TEST(HandledAnalysisTest, SnapshotFollowsRecordsToTheEnd)
{
    std::uint32_t records[3][2] = {};
    records[0][0] = Address(records[1]);
    records[0][1] = 0x11;
    records[1][0] = Address(records[2]);
    records[1][1] = 0x22;
    records[2][0] = cr::kChainEnd;
    records[2][1] = 0x33;
    cr::TSehChainSnapshot chain;
    cr::SnapshotSehChain(Address(records[0]), chain);
    EXPECT_EQ(chain.Head, Address(records[0]));
    ASSERT_EQ(chain.Count, 3u);
    EXPECT_EQ(chain.Handlers[0], 0x11u);
    EXPECT_EQ(chain.Handlers[2], 0x33u);
}

TEST(HandledAnalysisTest, SnapshotStopsAtAnUnreadableRecordAndAtALoop)
{
    void* page = ::VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
    std::uint32_t records[2][2] = {{0, 0x11}, {Address(page), 0x22}};
    records[0][0] = Address(records[1]);
    cr::TSehChainSnapshot chain;
    cr::SnapshotSehChain(Address(records[0]), chain);
    EXPECT_EQ(chain.Count, 2u);
    ::VirtualFree(page, 0, MEM_RELEASE);
    // A record pointing at itself: the snapshot is bounded.
    std::uint32_t loop[2] = {0, 0x44};
    loop[0] = Address(loop);
    cr::SnapshotSehChain(Address(loop), chain);
    EXPECT_EQ(chain.Count, static_cast<std::uint32_t>(cr::kMaxChainRecords));
}

// ---- This thread's live chain

struct LiveCheck {
    bool handled = false;
    cr::THandlerKind kind = cr::hkOther;
};

TEST(HandledAnalysisTest, GuardIsABareHandlerOnTheLiveChain)
{
    cr::InitializeHandledAnalysis();
    ASSERT_NE(cr::HandlerWalkSettings().Handlers.AnyException, nullptr);
    EXPECT_EQ(cr::HandlerWalkSettings().Handlers.AnyException, reinterpret_cast<const void*>(&kv_seh_guard_handler));
    // Outside any guard of ours (the test thread runs under none), nothing takes it.
    cr::TAsynchronousException kind = cr::aeNone;
    EXPECT_FALSE(cr::CheckHandledByTryExcept(&g_violation, reinterpret_cast<const void*>(0x00405000), false, kind));
    LiveCheck inside;
    kv_seh_guard(
        [](void* argument) {
            auto* check = static_cast<LiveCheck*>(argument);
            const auto* record = reinterpret_cast<const EXCEPTION_REGISTRATION_RECORD*>(cr::CurrentSehChainHead());
            check->kind = cr::ClassifySehHandler(reinterpret_cast<const void*>(record->Handler),
                                                 cr::HandlerWalkSettings().Handlers);
            cr::TAsynchronousException kind = cr::aeNone;
            check->handled =
                cr::CheckHandledByTryExcept(&g_violation, reinterpret_cast<const void*>(0x00405000), false, kind);
        },
        &inside, [](void*, const EXCEPTION_RECORD*, const CONTEXT*) {});
    EXPECT_EQ(inside.kind, cr::hkAnyException);
    EXPECT_TRUE(inside.handled);
    cr::HandledCacheClear();
}

} // namespace
