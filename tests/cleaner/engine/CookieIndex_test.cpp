#include <gtest/gtest.h>

#include <cstring>

#include "cleaner/engine/CookieIndex.h"
#include "cleaner/engine/FunctionUnit.h"
#include "platform/Exceptions.h"
#include "CleanTargetsTestSupport.h"

namespace {

using kvtest::PathExists;

// ---- Generated IE5-style index files

struct RecordSpec {
    const char* signature;
    std::uint32_t blocks;
    std::string url;
    std::string fileName;
    bool nameField; // the local-name offset field names the file (else: the older layout)
};

std::string MakeRecord(const RecordSpec& spec)
{
    // Filler without NULs, as Wine leaves it, so no text ends by accident.
    std::string record(spec.blocks * 128, '\xEF');
    std::memcpy(record.data(), spec.signature, 4);
    std::memcpy(record.data() + 4, &spec.blocks, 4);
    std::memset(record.data() + 8, 0, 96);
    std::size_t at = 104;
    record.replace(at, spec.url.size() + 1, spec.url + '\0');
    at = (at + spec.url.size() + 1 + 3) & ~std::size_t(3);
    record.replace(at, spec.fileName.size() + 1, spec.fileName + '\0');
    const std::uint32_t field = spec.nameField ? static_cast<std::uint32_t>(at) : 0;
    std::memcpy(record.data() + 60, &field, 4);
    return record;
}

const std::vector<RecordSpec> kRecords = {
    {"URL ", 2, "Cookie:alice@keep.example.com/", "ALICE1.txt", true},
    {"LEAK", 2, "Cookie:alice@tracker.example.net/", "alice@tracker.example[1].txt", false},
    {"URL ", 3, "Cookie:bob@ads.example.org/" + std::string(180, 'p') + "/", "BOB.txt", true},
    {"URL ", 2, "Cookie:carol@evil.example/", "..\\evil.txt", true},
    {"URL ", 2, "Cookie:dave@evil2.example/", "C:\\evil.txt", true},
    {"URL ", 2, "cookie:Erin@Keep.Example.com/", "ERIN.txt", true},
    {"URL ", 2, "Cookie:user@domain@other.example/x", "F.txt", true},
};

struct GeneratedIndex {
    std::string bytes;
    std::vector<std::size_t> offsets; // of kRecords
    std::size_t truncatedAt = 0;
    std::vector<std::size_t> hashItems; // one item of the hash table per record, in order
};

GeneratedIndex MakeIndex()
{
    GeneratedIndex index;
    index.bytes = std::string("Client UrlCache MMF Ver 5.2") + std::string(0x4000 - 27, '\0');
    // A hash table whose body happens to hold a record signature on a block
    // boundary: it belongs to the table, not a cookie.
    std::string hash(32 * 128, '\x03');
    const std::uint32_t hashBlocks = 32;
    std::memcpy(hash.data(), "HASH", 4);
    std::memcpy(hash.data() + 4, &hashBlocks, 4);
    hash.replace(256, 8, std::string("URL \x02\0\0\0", 8));
    index.bytes += hash;
    // A free block with the signature off the block boundary.
    std::string free(128, '\xEE');
    free.replace(5, 8, std::string("URL \x02\0\0\0", 8));
    index.bytes += free;
    for (const RecordSpec& spec : kRecords) {
        index.offsets.push_back(index.bytes.size());
        index.bytes += MakeRecord(spec);
    }
    // The hash table points at every record, as WinInet's does.
    for (std::size_t i = 0; i < index.offsets.size(); ++i) {
        const std::size_t item = 0x4000 + 16 + 8 * i;
        const std::uint32_t key = 0xA5A5A500u + static_cast<std::uint32_t>(i << 6);
        const std::uint32_t offset = static_cast<std::uint32_t>(index.offsets[i]);
        std::memcpy(index.bytes.data() + item, &key, 4);
        std::memcpy(index.bytes.data() + item + 4, &offset, 4);
        index.hashItems.push_back(item);
    }
    index.truncatedAt = index.bytes.size();
    index.bytes += MakeRecord({"URL ", 2, "Cookie:zed@truncated.example/", "ZED.txt", true}).substr(0, 128);
    return index;
}

TEST(CookieIndex, ParsesRecordsOfEveryLengthAndLayout)
{
    const GeneratedIndex index = MakeIndex();
    const auto records = kv::ParseCookieIndex(index.bytes);
    ASSERT_EQ(records.size(), kRecords.size());
    const std::pair<const char*, const char*> expected[] = {
        {"keep.example.com/", "ALICE1.txt"},
        {"tracker.example.net/", "alice@tracker.example[1].txt"},
        {nullptr, "BOB.txt"},
        {"evil.example/", ""},
        {"evil2.example/", ""},
        {"Keep.Example.com/", "ERIN.txt"},
        {"other.example/x", "F.txt"}};
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].offset, index.offsets[i]);
        EXPECT_EQ(records[i].length, kRecords[i].blocks * 128u);
        if (expected[i].first) {
            EXPECT_EQ(records[i].domain, expected[i].first);
        }
        EXPECT_EQ(records[i].fileName, expected[i].second);
    }
    EXPECT_EQ(records[2].domain, "ads.example.org/" + std::string(180, 'p') + "/");
}

TEST(CookieIndex, DomainIsTheTextAfterTheLastAtUpToTheNul)
{
    EXPECT_EQ(kv::GetCookieDomain("Cookie:user@site.example/path/"), "site.example/path/");
    EXPECT_EQ(kv::GetCookieDomain("Cookie:us@er@site.example/"), "site.example/");
    EXPECT_EQ(kv::GetCookieDomain("Cookie:site.example/"), "site.example/");
    EXPECT_EQ(kv::GetCookieDomain("Cookie:"), "");
    EXPECT_EQ(kv::GetCookieUserName("Cookie:us@er@site.example/"), "us@er");
    std::string record = MakeRecord({"URL ", 2, "Cookie:u@site.example/a", "A.txt", true});
    EXPECT_EQ(kv::GetRecordCookieDomain(record), "site.example/a");
    EXPECT_EQ(kv::GetRecordCookieDomain(record.substr(0, 111)), "");
    // No NUL inside the record: the URL ends with the record.
    std::string unterminated(256, 'x');
    unterminated.replace(104, 9, "Cookie:u@");
    EXPECT_EQ(kv::GetRecordCookieDomain(unterminated), std::string(256 - 113, 'x'));
}

class CookieFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = kvtest::ScratchFolder(L"cookies-generated");
        folder_ = root_ + L"Cookies\\";
        index_ = MakeIndex();
        kvtest::WriteSized(folder_ + L"index.dat", 0);
        kvtest::WriteBytes(folder_ + L"index.dat", index_.bytes);
        for (const wchar_t* name : {L"ALICE1.txt", L"alice@tracker.example[1].txt", L"BOB.txt", L"ERIN.txt", L"F.txt",
                                    L"unreferenced.txt"})
            kvtest::WriteSized(folder_ + name, 50);
        kvtest::WriteSized(root_ + L"evil.txt", 5);
    }
    std::wstring root_, folder_;
    GeneratedIndex index_;
    const std::wstring keep_ = L"KEEP.example.COM/\r\nnot-present.example/\r\n";
};

TEST_F(CookieFolder, ReadCookieIndexListsDomainAndFilePairs)
{
    EXPECT_EQ(kv::ReadCookieIndex(folder_ + L"index.dat"),
              "keep.example.com/\r\nALICE1.txt\r\n"
              "tracker.example.net/\r\nalice@tracker.example[1].txt\r\n"
              "ads.example.org/" + std::string(180, 'p') + "/\r\nBOB.txt\r\n"
              "Keep.Example.com/\r\nERIN.txt\r\n"
              "other.example/x\r\nF.txt\r\n");
    EXPECT_EQ(kv::ReadCookieIndex(folder_ + L"missing.dat"), "");
}

TEST_F(CookieFolder, DeleteAndWipeFollowOneKeepRule)
{
    kv::DeleteUnkeptCookies(folder_, keep_);

    EXPECT_EQ(kvtest::TreeOf(folder_), (std::set<std::wstring>{L"ALICE1.txt", L"ERIN.txt", L"unreferenced.txt",
                                                                L"index.dat"}));
    EXPECT_TRUE(PathExists(root_ + L"evil.txt")); // a name with ".." is never opened

    std::string expected = index_.bytes;
    for (std::size_t i = 0; i < kRecords.size(); ++i) {
        const bool kept = i == 0 || i == 5;
        if (kept) continue;
        expected.replace(index_.offsets[i], kRecords[i].blocks * 128, kRecords[i].blocks * 128, '\0');
        // Its hash item is marked deleted, so WinInet can store the domain again.
        expected.replace(index_.hashItems[i], 4, std::string("\x01\0\0\0", 4));
    }
    const std::string after = kvtest::ReadBytes(folder_ + L"index.dat");
    ASSERT_EQ(after.size(), expected.size());
    EXPECT_TRUE(after == expected) << "only the records of cookies not kept are zeroed, whole";
}

TEST_F(CookieFolder, TheMeasureCountsWhatTheDeleteRemoves)
{
    std::vector<std::wstring> files = kv::UnkeptCookieFiles(folder_, keep_);
    EXPECT_EQ(files, (std::vector<std::wstring>{folder_ + L"alice@tracker.example[1].txt", folder_ + L"BOB.txt",
                                                 folder_ + L"F.txt"}));
}

TEST_F(CookieFolder, AnIndexHeldWithoutSharingIsAFailedResult)
{
    kv::FileHandle holder(::CreateFileW((folder_ + L"index.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    bool wiped = true;
    EXPECT_NO_THROW(wiped = kv::WipeCookieIndex(folder_, keep_));
    EXPECT_FALSE(wiped);
    holder.Reset();
    EXPECT_TRUE(kvtest::ReadBytes(folder_ + L"index.dat") == index_.bytes);
}

TEST(CookieIndex, CorruptIndexFilesAreHarmless)
{
    const std::string samples[] = {std::string(), std::string(7, 'U'), std::string("URL \xFF\xFF\xFF\x7F", 8),
                                   std::string("LEAK\x01\0\0\0", 8) + std::string(120, '\0'),
                                   std::string("URL \x02\0\0\0", 8) + std::string(248, '@')};
    for (const std::string& bytes : samples) {
        for (const kv::TCookieRecord& record : kv::ParseCookieIndex(bytes)) {
            EXPECT_LE(record.offset + record.length, bytes.size());
            EXPECT_TRUE(record.fileName.empty());
        }
    }
}

// ---- A real index.dat made by Wine's WinInet in other processes

int Probe(const std::wstring& arguments) { return kvtest::RunProcess(L"\"" + kvtest::ProbePath() + L"\" " + arguments); }

TEST(CookieIndexWithWinInet, ABlankedRecordIsGoneForANewProcessAndTheKeptOneStays)
{
    const std::wstring folder = kv::GetShellFolder(L"Cookies") + L"\\";
    ASSERT_GT(folder.size(), 3u);
    // A fresh store of the test prefix: WinInet makes a new index.
    for (const std::wstring& name : kvtest::TreeOf(folder)) ::DeleteFileW((folder + name).c_str());
    ASSERT_EQ(Probe(L"set-cookie http://keep.kvtest.example/ keepme 1"), 0);
    ASSERT_EQ(Probe(L"set-cookie http://drop.kvtest.example/ dropme 2"), 0);
    ASSERT_EQ(Probe(L"has-cookie http://keep.kvtest.example/ keepme"), 0);
    ASSERT_EQ(Probe(L"has-cookie http://drop.kvtest.example/ dropme"), 0);

    const std::string pairs = kv::ReadCookieIndex(folder + L"index.dat");
    ASSERT_NE(pairs.find("keep.kvtest.example/\r\n"), std::string::npos) << pairs;
    ASSERT_NE(pairs.find("drop.kvtest.example/\r\n"), std::string::npos) << pairs;
    const std::vector<std::wstring> dropped = kv::UnkeptCookieFiles(folder, L"Keep.KVTest.example/");
    ASSERT_FALSE(dropped.empty());

    kv::DeleteUnkeptCookies(folder, L"Keep.KVTest.example/");

    for (const std::wstring& file : dropped) EXPECT_FALSE(PathExists(file)) << testing::PrintToString(file);
    EXPECT_EQ(Probe(L"has-cookie http://drop.kvtest.example/ dropme"), 1);
    EXPECT_EQ(Probe(L"has-cookie http://keep.kvtest.example/ keepme"), 0);
    const std::string after = kv::ReadCookieIndex(folder + L"index.dat");
    EXPECT_EQ(after.find("drop.kvtest.example/"), std::string::npos);
    EXPECT_NE(after.find("keep.kvtest.example/"), std::string::npos);

    // The index stays usable: the cleaned domain can store cookies again.
    ASSERT_EQ(Probe(L"set-cookie http://drop.kvtest.example/ dropme 3"), 0);
    EXPECT_EQ(Probe(L"has-cookie http://drop.kvtest.example/ dropme"), 0);
    EXPECT_EQ(Probe(L"has-cookie http://keep.kvtest.example/ keepme"), 0);
}

} // namespace
