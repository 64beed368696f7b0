#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "crashreport/core/EThreadsList.h"
#include "platform/Handles.h"

namespace {

using namespace kv::crashreport;

DWORD WINAPI EndAtOnce(void*) { return 0; }

DWORD WINAPI WaitForEvent(void* event)
{
    ::WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
    return 0;
}

TOspreyThreadInfo* AddRecord(TOspreyThreadsList& list, HANDLE handle, DWORD id)
{
    TOspreyThreadInfo* record = list.AddNewItem();
    record->Handle = handle;
    record->ID = id;
    return record;
}

TEST(ThreadsList, NewRecordIsZeroedWithUnknownPriority)
{
    const auto record = TOspreyThreadsList::NewItem();
    EXPECT_EQ(record->Priority, static_cast<std::int32_t>(0x80000000u));
    EXPECT_EQ(record->ID, 0u);
    EXPECT_EQ(record->Handle, nullptr);
    EXPECT_EQ(record->Thread, nullptr);
    EXPECT_FALSE(record->CallerStackDump);
    TOspreyThreadsList list;
    EXPECT_EQ(list.Count(), 0);
    list.AddNewItem();
    EXPECT_EQ(list.Count(), 1);
}

// Two ended threads side by side, an ended one last and a closed handle all
// go; the running thread stays.
TEST(ThreadsList, PurgeDropsEveryEndedThread)
{
    kv::KernelHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DWORD id = 0;
    kv::KernelHandle ended1(::CreateThread(nullptr, 0, EndAtOnce, nullptr, 0, &id));
    kv::KernelHandle ended2(::CreateThread(nullptr, 0, EndAtOnce, nullptr, 0, &id));
    kv::KernelHandle running(::CreateThread(nullptr, 0, WaitForEvent, release.Get(), 0, &id));
    kv::KernelHandle ended3(::CreateThread(nullptr, 0, EndAtOnce, nullptr, 0, &id));
    for (HANDLE ended : {ended1.Get(), ended2.Get(), ended3.Get()}) ::WaitForSingleObject(ended, 5000);

    TOspreyThreadsList list;
    AddRecord(list, ::GetCurrentThread(), ::GetCurrentThreadId()); // the pseudo handle names a running thread
    AddRecord(list, ended1.Get(), 1);
    AddRecord(list, ended2.Get(), 2);
    AddRecord(list, running.Get(), 3);
    AddRecord(list, reinterpret_cast<HANDLE>(0x7FFC), 4); // no such handle
    AddRecord(list, ended3.Get(), 5);
    list.PurgeList();
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(0)->ID, ::GetCurrentThreadId());
    EXPECT_EQ(list.Items(1)->ID, 3u);

    ::SetEvent(release.Get());
    ::WaitForSingleObject(running.Get(), 5000);
    list.PurgeList();
    EXPECT_EQ(list.Count(), 1);
}

TEST(ThreadsList, FindSearchesFromTheLastRecord)
{
    TOspreyThreadsList list;
    int objectA = 0, objectB = 0;
    AddRecord(list, reinterpret_cast<HANDLE>(0x10), 7)->Thread = &objectA;
    AddRecord(list, reinterpret_cast<HANDLE>(0x20), 8)->Thread = &objectB;
    AddRecord(list, reinterpret_cast<HANDLE>(0x10), 7)->Thread = &objectA;
    EXPECT_EQ(list.FindByThreadID(7), 2);
    EXPECT_EQ(list.FindByThreadID(8), 1);
    EXPECT_EQ(list.FindByThreadID(9), -1);
    EXPECT_EQ(list.FindByThreadHandle(reinterpret_cast<HANDLE>(0x10)), 2);
    EXPECT_EQ(list.FindByThreadHandle(reinterpret_cast<HANDLE>(0x30)), -1);
    EXPECT_EQ(list.FindByThreadObject(&objectA), 2);
    EXPECT_EQ(list.FindByThreadObject(&objectB), 1);
    EXPECT_EQ(list.FindByThreadObject(nullptr), -1);
}

TEST(ThreadsList, RemoveCurrentThreadDropsOnlyItsOwnRecord)
{
    TOspreyThreadsList list;
    AddRecord(list, nullptr, 1);
    AddRecord(list, nullptr, ::GetCurrentThreadId());
    AddRecord(list, nullptr, 2);
    list.RemoveCurrentThread();
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(0)->ID, 1u);
    EXPECT_EQ(list.Items(1)->ID, 2u);
    list.RemoveCurrentThread();
    EXPECT_EQ(list.Count(), 2);
}

// A snapshot holds its own records; the creator stack it shows stays
// readable after the live list dropped the record.
TEST(ThreadsList, SnapshotOutlivesTheLiveRecords)
{
    TOspreyThreadsList live;
    TOspreyThreadInfo* record = AddRecord(live, nullptr, 42);
    record->CallerStackDump = std::make_shared<const std::vector<std::uint8_t>>(std::vector<std::uint8_t>{1, 2, 3});
    record->CallerStackSize = 3;
    TOspreyThreadsList snapshot(live);
    EXPECT_TRUE(snapshot.IsSnapshot());
    EXPECT_FALSE(live.IsSnapshot());
    live.Delete(0);
    ASSERT_EQ(snapshot.Count(), 1);
    EXPECT_EQ(snapshot.Items(0)->ID, 42u);
    ASSERT_TRUE(snapshot.Items(0)->CallerStackDump);
    EXPECT_EQ(*snapshot.Items(0)->CallerStackDump, (std::vector<std::uint8_t>{1, 2, 3}));
    snapshot.BeginWrite(); // no lock: never blocks
    snapshot.BeginWrite();
    snapshot.EndWrite();
    snapshot.EndWrite();
}

// Writers and snapshot takers at once: every snapshot sees whole records.
TEST(ThreadsList, WritersAndSnapshotsAtOnce)
{
    TOspreyThreadsList live;
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w)
        writers.emplace_back([&, w] {
            for (int i = 0; i < 2000; ++i) {
                kv::crashreport::ThreadsListWriteLock lock(live);
                TOspreyThreadInfo* record = live.AddNewItem();
                record->ID = static_cast<DWORD>(w * 100000 + i);
                record->CallerID = record->ID;
                if (live.Count() > 50) live.Delete(0);
            }
        });
    std::thread reader([&] {
        while (!stop.load()) {
            TOspreyThreadsList snapshot(live);
            for (int i = 0; i < snapshot.Count(); ++i)
                if (snapshot.Items(i)->ID != snapshot.Items(i)->CallerID) ++torn;
        }
    });
    for (auto& writer : writers) writer.join();
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_LE(live.Count(), 50);
}

} // namespace
