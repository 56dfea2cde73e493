// Multipart and resumable uploads of a local file against the stand-in: part
// sizing, the checks made before any request, a run cut at a part (by the
// connection, or by killing the uploading process) and resumed, an upload
// the service no longer knows, and the part-information file.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSPartInfoStore.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSMutableData+HOS_CRC.h"
#include "HOSSDK/NSString+HOS.h"
#include "StandIn.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"

namespace pellix::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kPart = 102400;
constexpr const char* kChildHome = "PELLIX_HOS_RESUME_CHILD_HOME";
constexpr const char* kChildPort = "PELLIX_HOS_RESUME_CHILD_PORT";
constexpr const char* kChildFile = "PELLIX_HOS_RESUME_CHILD_FILE";
constexpr const char* kChildRecords = "PELLIX_HOS_RESUME_CHILD_RECORDS";

std::string text(const platform::Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(MultipartSizing, PartCountFollowsTheFileAndCapsAtFiveThousand) {
    const std::uint64_t d = HOSMultipartUploadRequest::kDefaultPartSize;
    struct Case {
        std::uint64_t fileSize, partSize, count, newPartSize, lastPart;
    } cases[] = {
        {300000, d, 2, d, 37856},
        {d, d, 1, d, d},
        {5000 * d, d, 5000, d, d},
        // 5001 parts would be needed: the size is recomputed (rounded down),
        // and the last of 5000 parts carries the remainder.
        {5000 * d + 1, d, 5000, d, d + 1},
        {3 * 5000 * d + 4999, d, 5000, 3 * d, 3 * d + 4999},
        {600000, d, 3, d, 75712},
    };
    for (const auto& c : cases) {
        HOSMultipartUploadRequest request;
        request.setPartSize(c.partSize);
        EXPECT_EQ(HOSClient::judgePartSizeForMultipartRequest(request, c.fileSize), c.count) << c.fileSize;
        EXPECT_EQ(request.partSize(), c.newPartSize) << c.fileSize;
        EXPECT_EQ(c.fileSize - request.partSize() * (c.count - 1), c.lastPart) << c.fileSize;
    }
}

TEST(PartInfoStore, RecordsSurviveReopeningAndKeepEveryUnsignedValue) {
    TempDir dir;
    const std::string path = dir.file("UPLOAD1");
    const std::uint64_t crcs[] = {0, 12345, std::uint64_t(INT64_MAX), std::uint64_t(INT64_MAX) + 1, UINT64_MAX};
    {
        HOSPartInfoStore store(path);
        EXPECT_FALSE(store.open());
        for (std::int32_t n = 1; n <= 5; ++n)
            ASSERT_FALSE(store.record(HOSPartInfo(n, "\"ETAG" + std::to_string(n) + "\"", 100 + n, crcs[n - 1])));
        // Without a close (a crash), the journal alone keeps them.
    }
    ASSERT_TRUE(fs::exists(HOSPartInfoStore::journalPathFor(path)));
    {
        HOSPartInfoStore store(path);
        ASSERT_TRUE(store.open());
        // Opening folded the journal into the snapshot.
        EXPECT_FALSE(fs::exists(HOSPartInfoStore::journalPathFor(path)));
        for (std::int32_t n = 1; n <= 5; ++n) EXPECT_EQ(store.crc64Of(n), crcs[n - 1]) << n;
        EXPECT_FALSE(store.crc64Of(6));
    }
    // The snapshot is the XML property list described for the file: keyed by
    // part number, each entry the part's dictionary form.
    const auto bytes = readFile(path);
    EXPECT_EQ(bytes.rfind("<?xml", 0), 0u);
    auto root = platform::PropertyList::read(platform::Bytes(bytes.begin(), bytes.end()));
    ASSERT_TRUE(root && root->isDictionary());
    EXPECT_EQ(root->asDictionary().keys(), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    const auto* second = root->get("2");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->get("partNum")->intValue(), 2);
    EXPECT_EQ(second->get("eTag")->asString(), "\"ETAG2\"");
    EXPECT_EQ(second->get("size")->intValue(), 102);
    EXPECT_EQ(HOSPartInfoStore::crc64Of(*second), 12345u);

    // A file written by another writer with the plain unsigned decimal reads
    // the same.
    writeFile(path,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict><key>7</key><dict>"
              "<key>partNum</key><integer>7</integer><key>size</key><integer>9</integer>"
              "<key>crc64</key><integer>18446744073709551615</integer></dict></dict></plist>");
    HOSPartInfoStore other(path);
    ASSERT_TRUE(other.open());
    EXPECT_EQ(other.crc64Of(7), UINT64_MAX);
}

TEST(PartInfoStore, ALineCutShortIsSkippedAndLosesNothingBeforeOrAfterIt) {
    TempDir dir;
    const std::string path = dir.file("UPLOAD2");
    const std::string journal = HOSPartInfoStore::journalPathFor(path);
    const std::string first = HOSPartInfoStore::journalLine(HOSPartInfo(1, "\"A\"", 10, 111));
    const std::string second = HOSPartInfoStore::journalLine(HOSPartInfo(2, std::nullopt, 10, 222));
    std::string altered = HOSPartInfoStore::journalLine(HOSPartInfo(4, "\"D\"", 10, 444));
    altered[2] = '9';
    // A whole line, an altered one, and one cut by a crash mid-write.
    writeFile(journal, first + altered + second.substr(0, second.size() / 2));
    {
        HOSPartInfoStore store(path);
        ASSERT_TRUE(store.open());
        EXPECT_EQ(store.crc64Of(1), 111u);
        EXPECT_FALSE(store.crc64Of(2));
        EXPECT_FALSE(store.crc64Of(4));
        // A part recorded after the crash is read back as well.
        ASSERT_FALSE(store.record(HOSPartInfo(3, "\"C\"", 10, 333)));
    }
    // Cut lines before a new record (no fold in between): the new one counts.
    writeFile(journal, readFile(journal) + second.substr(0, 5));
    {
        HOSPartInfoStore store(path);
        ASSERT_FALSE(store.record(HOSPartInfo(5, "\"E\"", 10, 555)));
    }
    HOSPartInfoStore store(path);
    ASSERT_TRUE(store.open());
    EXPECT_EQ(store.crc64Of(1), 111u);
    EXPECT_EQ(store.crc64Of(3), 333u);
    EXPECT_EQ(store.crc64Of(5), 555u);
    EXPECT_EQ(store.size(), 3u);
}

class ResumableUpload : public ::testing::Test {
protected:
    void SetUp() override {
        configuration->setCrc64Verifiable(true);
        configuration->setMaxRetryCount(0);
        client = clientOf(standIn, configuration);
        records = dir.file("records");
        fs::create_directories(records);
    }

    // A file of `parts` parts of kPart bytes, the last one `tail` bytes.
    void makeFile(int parts, std::size_t tail, unsigned seed = 7) {
        data = patternBytes(kPart * (parts - 1) + tail, seed);
        writeFile(file, text(data));
    }

    std::shared_ptr<HOSResumableUploadRequest> request(const std::string& key) {
        auto r = std::make_shared<HOSResumableUploadRequest>();
        r->setBucketName(kBucket);
        r->setObjectKey(key);
        r->setUploadingFileURL(platform::URL::fileURL(file));
        r->setPartSize(kPart);
        r->setRecordDirectoryPath(records);
        r->setUploadProgress([this](std::int64_t now, std::int64_t total, std::int64_t expected) {
            std::lock_guard<std::mutex> g(progressLock);
            progress.push_back({now, total, expected});
        });
        return r;
    }

    HOSTaskPtr run(const std::shared_ptr<HOSResumableUploadRequest>& r, bool sequential) {
        return waitFor(sequential ? client->sequentialMultipartUpload(r) : client->resumableUpload(r));
    }

    // Part numbers the service stored for its open uploads of `key`.
    std::set<int> storedParts(const std::string& key) {
        std::set<int> out;
        auto uploads = standIn.admin("GET", std::string("/__admin/uploads?bucket=") + kBucket);
        for (const auto& u : *uploads.arrayIf())
            if (u.get("key")->asString() == key)
                for (const auto& p : *u.get("parts")->arrayIf()) out.insert(int(p.get("partNumber")->intValue()));
        return out;
    }

    // Part numbers of the part uploads the service answered with 200.
    std::multiset<int> sentParts() {
        std::multiset<int> out;
        static const std::regex number("partNumber=(\\d+)");
        for (const auto& entry : standIn.requests("UploadPart")) {
            std::smatch m;
            const std::string url = entry.get("url")->asString();
            if (entry.get("status")->intValue() == 200 && std::regex_search(url, m, number)) out.insert(std::stoi(m[1]));
        }
        return out;
    }

    std::optional<std::string> objectCrc(const std::string& key) {
        auto objects = standIn.admin("GET", std::string("/__admin/objects?bucket=") + kBucket);
        for (const auto& o : *objects.arrayIf())
            if (o.get("key")->asString() == key) return o.get("crc64")->asString();
        return std::nullopt;
    }

    std::vector<std::string> recordFiles() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(records)) out.push_back(e.path().string());
        return out;
    }

    static std::string partInfoDir() { return hos_documentDirectory() + "/" + kHOSPartInfosDirectoryName; }
    static bool partInfoFilesOf(const std::string& uploadId) {
        const auto path = *hosPartInfoFilePath(uploadId);
        return fs::exists(path) || fs::exists(HOSPartInfoStore::journalPathFor(path));
    }

    std::string recordedUploadId() const {
        auto files = recordFiles();
        return files.size() == 1 ? readFile(files[0]) : std::string();
    }

    std::uint64_t partCrc(int number) const {
        const auto begin = data.begin() + std::ptrdiff_t(kPart * (number - 1));
        const auto end = std::min(data.end(), begin + std::ptrdiff_t(kPart));
        return hos_crc64(platform::Bytes(begin, end));
    }

    StandIn standIn;
    LoopbackResolver resolver;
    std::shared_ptr<HOSClientConfiguration> configuration = std::make_shared<HOSClientConfiguration>();
    std::unique_ptr<HOSClient> client;
    TempDir dir;
    std::string file = dir.file("upload.bin");
    std::string records;
    platform::Bytes data;
    std::mutex progressLock;
    std::vector<std::array<std::int64_t, 3>> progress;
};

TEST_F(ResumableUpload, ChecksRefuseBadRequestsBeforeSendingAnything) {
    makeFile(2, 10);
    writeFile(dir.file("empty.bin"), "");
    struct Case {
        const char* what;
        std::function<void(HOSMultipartUploadRequest&)> bend;
        const char* message;
    } cases[] = {
        {"no file", [](auto& r) { r.setUploadingFileURL(std::nullopt); }, HOSErrorMessage::kCheckUploadingFileURL},
        {"empty file", [&](auto& r) { r.setUploadingFileURL(platform::URL::fileURL(dir.file("empty.bin"))); },
         HOSErrorMessage::kFileLengthZero},
        {"blank key", [](auto& r) { r.setObjectKey(" \n"); }, HOSErrorMessage::kCheckParamsObjectKey},
        {"no bucket", [](auto& r) { r.setBucketName(std::nullopt); }, HOSErrorMessage::kCheckParamsBucketName},
        {"small parts", [](auto& r) { r.setPartSize(kPart - 1); }, HOSErrorMessage::kPartSizeTooSmall},
    };
    standIn.admin("DELETE", "/__admin/requests");
    for (const auto& c : cases) {
        auto r = request("checked.bin");
        c.bend(*r);
        for (bool resumable : {false, true}) {
            auto task = waitFor(client->multipartUpload(r, resumable, false));
            ASSERT_TRUE(task->error()) << c.what;
            EXPECT_EQ(task->error()->domain(), HOSClientErrorDomain) << c.what;
            EXPECT_EQ(task->error()->code(), HOSClientErrorCodeInvalidArgument) << c.what;
            EXPECT_EQ(task->error()->userInfo().find(HOSErrorMessageKey)->asString(), c.message) << c.what;
        }
    }
    // A resumable run needs the resumable record, whatever else is wrong.
    auto plain = std::make_shared<HOSMultipartUploadRequest>();
    auto task = waitFor(client->multipartUpload(plain, true, false));
    ASSERT_TRUE(task->error());
    EXPECT_EQ(task->error()->userInfo().find(HOSErrorMessageKey)->asString(),
              HOSErrorMessage::kResumableNeedsMultipartRequest);
    EXPECT_TRUE(standIn.admin("GET", "/__admin/requests").arrayIf()->empty());
    EXPECT_TRUE(recordFiles().empty());
}

TEST_F(ResumableUpload, MultipartUploadSendsEveryPartAndChecksTheWholeObject) {
    data = patternBytes(300000, 3);
    writeFile(file, text(data));
    auto r = std::make_shared<HOSMultipartUploadRequest>();
    r->setBucketName(kBucket);
    r->setObjectKey("whole.bin");
    r->setUploadingFileURL(platform::URL::fileURL(file));
    std::vector<std::array<std::int64_t, 3>> calls;
    r->setUploadProgress([&](std::int64_t a, std::int64_t b, std::int64_t c) { calls.push_back({a, b, c}); });
    auto task = waitFor(client->multipartUpload(r));
    ASSERT_FALSE(task->error()) << task->error()->description();
    auto result = resultOf<HOSResumableUploadResult>(task);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->httpResponseCode(), 200);
    EXPECT_EQ(objectCrc("whole.bin"), std::to_string(hos_crc64(data)));
    EXPECT_EQ(result->localCRC64ecma(), std::to_string(hos_crc64(data)));
    // Default part size: 262144 and 37856 bytes, in whichever order they end.
    std::multiset<std::int64_t> sizes;
    for (const auto& c : calls) {
        sizes.insert(c[0]);
        EXPECT_EQ(c[2], 300000);
    }
    EXPECT_EQ(sizes, (std::multiset<std::int64_t>{262144, 37856}));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls.back()[1], 300000);
    EXPECT_FALSE(partInfoFilesOf(*r->uploadId()));
    EXPECT_TRUE(storedParts("whole.bin").empty());
}

// A failing part ends a plain multipart run with that part's error after
// the other parts were sent, and the upload is aborted with nothing left
// behind.
TEST_F(ResumableUpload, AFailingPartAbortsAPlainMultipartRun) {
    makeFile(4, 100, 60);
    standIn.fault(R"({"match":{"op":"UploadPart","partNumber":"2"},"status":500,"times":0})");
    auto r = request("failing.bin");
    auto task = waitFor(client->multipartUpload(r));
    ASSERT_TRUE(task->error());
    EXPECT_EQ(task->error()->domain(), HOSServerErrorDomain);
    EXPECT_EQ(task->error()->code(), -500);
    EXPECT_EQ(sentParts(), (std::multiset<int>{1, 3, 4}));
    EXPECT_EQ(standIn.requests("AbortMultipartUpload").size(), 1u);
    EXPECT_TRUE(storedParts("failing.bin").empty());
    ASSERT_TRUE(r->uploadId());
    EXPECT_FALSE(partInfoFilesOf(*r->uploadId()));
    EXPECT_TRUE(recordFiles().empty());
}

// An initiation answered without an id: going on would send every part as a
// plain write of the object.
TEST_F(ResumableUpload, AnInitiationWithoutUploadIdStopsBeforeAnyPart) {
    makeFile(3, 100);
    for (bool resumable : {false, true}) {
        standIn.fault(R"({"match":{"op":"InitMultipartUpload"},"replyBody":)"
                      R"("<InitiateMultipartUploadResult><Bucket>photos</Bucket><Key>k</Key><UploadId></UploadId>)"
                      R"(</InitiateMultipartUploadResult>"})");
        standIn.admin("DELETE", "/__admin/requests");
        auto r = request("noid.bin");
        r->setRecordDirectoryPath(std::nullopt);
        auto task = waitFor(client->multipartUpload(r, resumable, false));
        ASSERT_TRUE(task->error()) << resumable;
        EXPECT_EQ(task->error()->domain(), HOSServerErrorDomain);
        EXPECT_EQ(task->error()->code(), HOSClientErrorCodeNoUploadId);
        EXPECT_EQ(platform::Value(task->error()->userInfo()).description(),
                  platform::Value(platform::Dictionary{{HOSErrorMessageKey, HOSErrorMessage::kCannotGetUploadId}})
                      .description());
        EXPECT_TRUE(standIn.requests("UploadPart").empty()) << resumable;
        EXPECT_TRUE(standIn.requests("PutObject").empty()) << resumable;
        EXPECT_FALSE(objectCrc("noid.bin"));
    }
}

// A run cut at part 3 (the connection dropped every time it is sent) keeps
// its record; the next run with the same inputs lists what the service has,
// sends only the rest and completes with the whole file's CRC-64, also when
// the parts' recorded CRC-64 values were lost in between.
TEST_F(ResumableUpload, ARunCutAtAPartResumesWithOnlyTheMissingParts) {
    struct Case {
        bool sequential, losePartInfo;
    } cases[] = {{false, false}, {true, false}, {true, true}, {false, true}};
    int round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "sequential " << c.sequential << ", part info lost " << c.losePartInfo);
        const std::string key = "cut" + std::to_string(round) + ".bin";
        makeFile(5, 5000, 11 + round++);
        standIn.fault(R"({"match":{"op":"UploadPart","partNumber":"3"},"closeBeforeHead":true,"times":0})");
        auto first = request(key);
        first->setDeleteUploadIdOnCancelling(false);
        auto failed = run(first, c.sequential);
        ASSERT_TRUE(failed->error());
        EXPECT_EQ(failed->error()->code(), HOSClientErrorCodeNetworkError) << failed->error()->description();
        const std::string uploadId = recordedUploadId();
        ASSERT_FALSE(uploadId.empty());
        EXPECT_EQ(uploadId, first->uploadId());
        const auto stored = storedParts(key);
        EXPECT_EQ(stored, (c.sequential ? std::set<int>{1, 2} : std::set<int>{1, 2, 4, 5}));
        {
            HOSPartInfoStore store(*hosPartInfoFilePath(uploadId));
            ASSERT_TRUE(store.open());
            for (int n : stored) EXPECT_EQ(store.crc64Of(n), partCrc(n)) << n;
        }
        if (c.losePartInfo) HOSPartInfoStore::remove(*hosPartInfoFilePath(uploadId));

        standIn.admin("DELETE", "/__admin/faults");
        standIn.admin("DELETE", "/__admin/requests");
        progress.clear();
        auto second = request(key);
        auto done = run(second, c.sequential);
        ASSERT_FALSE(done->error()) << done->error()->description();
        EXPECT_EQ(second->uploadId(), uploadId);
        EXPECT_EQ(objectCrc(key), std::to_string(hos_crc64(data)));
        std::multiset<int> missing;
        for (int n = 1; n <= 5; ++n)
            if (!stored.count(n)) missing.insert(n);
        EXPECT_EQ(sentParts(), missing);
        EXPECT_TRUE(standIn.requests("InitMultipartUpload").empty());
        ASSERT_FALSE(progress.empty());
        std::int64_t already = 0;
        for (int n : stored) already += n == 5 ? 5000 : std::int64_t(kPart);
        EXPECT_EQ(progress.front(), (std::array<std::int64_t, 3>{{0, already, std::int64_t(data.size())}}));
        EXPECT_EQ(progress.back()[1], std::int64_t(data.size()));
        EXPECT_TRUE(recordFiles().empty());
        EXPECT_FALSE(partInfoFilesOf(uploadId));
    }
}

// The service lists parts a page at a time: a resume reads every page, so
// only the part really missing is sent again.
TEST_F(ResumableUpload, AResumeFollowsThePartListingToItsEnd) {
    standIn.config(R"({"listPartsMax":2})");
    makeFile(5, 5000, 71);
    standIn.fault(R"({"match":{"op":"UploadPart","partNumber":"3"},"closeBeforeHead":true,"times":0})");
    auto first = request("paged.bin");
    first->setDeleteUploadIdOnCancelling(false);
    ASSERT_TRUE(run(first, false)->error());
    ASSERT_EQ(storedParts("paged.bin"), (std::set<int>{1, 2, 4, 5}));

    standIn.admin("DELETE", "/__admin/faults");
    standIn.admin("DELETE", "/__admin/requests");
    auto done = run(request("paged.bin"), false);
    ASSERT_FALSE(done->error()) << done->error()->description();
    EXPECT_EQ(sentParts(), (std::multiset<int>{3}));
    EXPECT_GE(standIn.requests("ListParts").size(), 2u);
    EXPECT_EQ(objectCrc("paged.bin"), std::to_string(hos_crc64(data)));
}

// Listed parts that do not fit this run's plan (numbered past its last
// part, of another size than its own part of that number, without an ETag)
// are sent again instead of being completed from, which with CRC-64 off
// would go unnoticed.
TEST_F(ResumableUpload, ListedPartsThatDoNotFitThePlanAreSentAgain) {
    makeFile(3, 700, 81);
    standIn.fault(R"({"match":{"op":"UploadPart","partNumber":"2"},"status":500,"times":0})");
    auto first = request("planned.bin");
    first->setCrcFlag(HOSCrcFlagOff);
    first->setDeleteUploadIdOnCancelling(false);
    ASSERT_TRUE(run(first, false)->error());
    ASSERT_EQ(storedParts("planned.bin"), (std::set<int>{1, 3}));
    const std::string uploadId = *first->uploadId();

    const auto etagOf = [&](int number) {
        const auto begin = data.begin() + std::ptrdiff_t(kPart * (number - 1));
        const auto end = std::min(data.end(), begin + std::ptrdiff_t(kPart));
        return HOSUtil::dataMD5String(platform::Bytes(begin, end));
    };
    const auto part = [](int number, const std::string& etag, std::uint64_t size) {
        return "<Part><PartNumber>" + std::to_string(number) + "</PartNumber><ETag>" + etag + "</ETag><Size>" +
               std::to_string(size) + "</Size></Part>";
    };
    const std::string listing = "<ListPartsResult><Bucket>photos</Bucket><Key>planned.bin</Key><UploadId>" +
                                uploadId + "</UploadId><IsTruncated>false</IsTruncated>" +
                                part(1, etagOf(1), kPart) +               // fits: kept
                                part(2, "0123456789ABCDEF", 50) +          // another size
                                part(3, etagOf(3), kPart) +               // the last part is 700 bytes
                                part(9, "FEDCBA9876543210", 100) +         // past the last part
                                "</ListPartsResult>";
    standIn.admin("DELETE", "/__admin/faults");
    standIn.admin("DELETE", "/__admin/requests");
    standIn.fault(R"({"match":{"op":"ListParts"},"replyBody":")" + listing + R"("})");
    auto second = request("planned.bin");
    second->setCrcFlag(HOSCrcFlagOff);
    auto done = run(second, false);
    ASSERT_FALSE(done->error()) << done->error()->description();
    EXPECT_EQ(sentParts(), (std::multiset<int>{2, 3}));
    EXPECT_EQ(objectCrc("planned.bin"), std::to_string(hos_crc64(data)));
}

TEST_F(ResumableUpload, AnUploadTheServiceNoLongerKnowsStartsAgain) {
    makeFile(3, 700);
    standIn.fault(R"({"match":{"op":"UploadPart","partNumber":"2"},"status":500,"times":0})");
    auto first = request("gone.bin");
    first->setDeleteUploadIdOnCancelling(false);
    ASSERT_TRUE(run(first, true)->error());
    const std::string oldId = recordedUploadId();
    ASSERT_FALSE(oldId.empty());
    // Dropped at the service behind the record's back.
    auto abort = std::make_shared<HOSAbortMultipartUploadRequest>();
    abort->setBucketName(kBucket);
    abort->setObjectKey("gone.bin");
    abort->setUploadId(oldId);
    ASSERT_FALSE(waitFor(client->abortMultipartUpload(abort))->error());

    standIn.admin("DELETE", "/__admin/faults");
    standIn.admin("DELETE", "/__admin/requests");
    standIn.fault(R"({"match":{"op":"CompleteMultipartUpload"},"status":500})");
    auto second = request("gone.bin");
    auto failed = run(second, true);
    ASSERT_TRUE(failed->error());
    EXPECT_EQ(failed->error()->code(), -500);
    // The new id went into the same record file, which a failed completion
    // keeps.
    const std::string newId = recordedUploadId();
    EXPECT_NE(newId, oldId);
    EXPECT_EQ(newId, second->uploadId());
    EXPECT_EQ(standIn.requests("ListParts").size(), 1u);
    EXPECT_EQ(standIn.requests("InitMultipartUpload").size(), 1u);
    EXPECT_EQ(sentParts(), (std::multiset<int>{1, 2, 3}));

    standIn.admin("DELETE", "/__admin/requests");
    auto third = request("gone.bin");
    auto done = run(third, true);
    ASSERT_FALSE(done->error()) << done->error()->description();
    EXPECT_TRUE(sentParts().empty());
    EXPECT_EQ(objectCrc("gone.bin"), std::to_string(hos_crc64(data)));
}

// Cancelled after the first part: the run ends with code 5; with
// deleteUploadIdOnCancelling the upload and both files go, without it they
// stay and a later run finishes the upload.
TEST_F(ResumableUpload, CancellingKeepsOrGivesUpTheUploadAsAsked) {
    int round = 0;
    for (bool deleteOnCancel : {true, false}) {
        SCOPED_TRACE(deleteOnCancel);
        const std::string key = "cancel" + std::to_string(round) + ".bin";
        makeFile(3, 900, 40 + round++);
        standIn.admin("DELETE", "/__admin/requests");
        auto r = request(key);
        r->setDeleteUploadIdOnCancelling(deleteOnCancel);
        r->setUploadProgress([r = r.get()](std::int64_t, std::int64_t, std::int64_t) { r->cancel(); });
        auto task = run(r, true);
        ASSERT_TRUE(task->error());
        EXPECT_EQ(task->error()->domain(), HOSClientErrorDomain);
        EXPECT_EQ(task->error()->code(), HOSClientErrorCodeTaskCancelled);
        EXPECT_EQ(sentParts(), (std::multiset<int>{1}));
        ASSERT_TRUE(r->uploadId());
        if (deleteOnCancel) {
            EXPECT_TRUE(recordFiles().empty());
            EXPECT_FALSE(partInfoFilesOf(*r->uploadId()));
            EXPECT_EQ(standIn.requests("AbortMultipartUpload").size(), 1u);
            EXPECT_TRUE(storedParts(key).empty());
            continue;
        }
        EXPECT_EQ(recordedUploadId(), *r->uploadId());
        EXPECT_TRUE(partInfoFilesOf(*r->uploadId()));
        EXPECT_TRUE(standIn.requests("AbortMultipartUpload").empty());
        standIn.admin("DELETE", "/__admin/requests");
        auto done = run(request(key), true);
        ASSERT_FALSE(done->error()) << done->error()->description();
        EXPECT_EQ(sentParts(), (std::multiset<int>{2, 3}));
        EXPECT_EQ(objectCrc(key), std::to_string(hos_crc64(data)));
    }
}

// The service's CRC-64 of the completed object differs from the parts'
// fold: reported as code 7, with the object already in place and the record
// files already gone.
TEST_F(ResumableUpload, AWholeObjectCrcMismatchIsReportedAfterCompletion) {
    makeFile(2, 4000, 50);
    standIn.fault(R"({"match":{"op":"CompleteMultipartUpload"},"crc":"wrong"})");
    auto r = request("mismatch.bin");
    auto task = run(r, false);
    ASSERT_TRUE(task->error());
    EXPECT_EQ(task->error()->domain(), HOSClientErrorDomain);
    EXPECT_EQ(task->error()->code(), HOSClientErrorCodeInvalidCRC);
    const auto crc = hos_crc64(data);
    const std::string expected = "local_crc64(" + std::to_string(crc) + ") is not equal to remote_crc64(" +
                                 std::to_string(crc ^ 1) + ")!";
    const auto* message = task->error()->userInfo().find(HOSErrorMessageKey);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->asString(), expected);
    EXPECT_EQ(objectCrc("mismatch.bin"), std::to_string(crc));
    EXPECT_TRUE(recordFiles().empty());
    EXPECT_FALSE(partInfoFilesOf(*r->uploadId()));
}

// The uploading process is killed while part 3 hangs at the service; every
// other part was recorded on the way and a new run sends only part 3.
TEST_F(ResumableUpload, AKilledUploaderIsResumedByTheNextProcess) {
    makeFile(5, 3000, 29);
    standIn.fault(R"({"match":{"op":"UploadPart","partNumber":"3"},"delayMs":120000})");
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = '\0';
    Process child({exe, "--gtest_filter=ResumableUploadChild.UploadUntilKilled"},
                  {{kChildHome, platform::Paths::homeDirectory()},
                   {kChildPort, std::to_string(standIn.port())},
                   {kChildFile, file},
                   {kChildRecords, records}});
    ASSERT_TRUE(child.waitForLine("^finished 4$", std::chrono::seconds(60)))
        << child.output() << child.errorOutput();
    ::kill(child.pid(), SIGKILL);
    EXPECT_EQ(child.wait(), -SIGKILL);

    const std::string uploadId = recordedUploadId();
    ASSERT_FALSE(uploadId.empty());
    EXPECT_EQ(storedParts("killed.bin"), (std::set<int>{1, 2, 4, 5}));
    {
        HOSPartInfoStore store(*hosPartInfoFilePath(uploadId));
        ASSERT_TRUE(store.open());
        EXPECT_EQ(store.size(), 4u);
        for (int part : {1, 2, 4, 5}) EXPECT_EQ(store.crc64Of(part), partCrc(part)) << part;
    }

    standIn.admin("DELETE", "/__admin/faults");
    standIn.admin("DELETE", "/__admin/requests");
    auto r = request("killed.bin");
    auto done = run(r, false);
    ASSERT_FALSE(done->error()) << done->error()->description();
    EXPECT_EQ(sentParts(), (std::multiset<int>{3}));
    EXPECT_EQ(objectCrc("killed.bin"), std::to_string(hos_crc64(data)));
}

// Run by the test above in a process of its own; skipped otherwise.
class ResumableUploadChild : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv(kChildHome)) GTEST_SKIP() << "runs as a child of the resumable upload tests";
        platform::Paths::setHomeDirectory(std::getenv(kChildHome));
    }
};

TEST_F(ResumableUploadChild, UploadUntilKilled) {
    LoopbackResolver resolver;
    auto configuration = std::make_shared<HOSClientConfiguration>();
    configuration->setCrc64Verifiable(true);
    HOSClient client(std::string("http://") + kTestDomain + ":" + std::getenv(kChildPort),
                     std::make_shared<HOSPlainTextAKSKPairCredentialProvider>("HOSTESTACCESSKEY0001",
                                                                              "hos-test-secret-4b7e1c9a2d"),
                     configuration);
    auto r = std::make_shared<HOSResumableUploadRequest>();
    r->setBucketName(kBucket);
    r->setObjectKey("killed.bin");
    r->setUploadingFileURL(platform::URL::fileURL(std::getenv(kChildFile)));
    r->setPartSize(kPart);
    r->setRecordDirectoryPath(std::string(std::getenv(kChildRecords)));
    int finished = 0;
    r->setUploadProgress([&](std::int64_t, std::int64_t, std::int64_t) {
        std::printf("finished %d\n", ++finished);
        std::fflush(stdout);
    });
    client.resumableUpload(r)->waitUntilFinished();
    ADD_FAILURE() << "the upload should have hung at part 3";
}

}  // namespace
}  // namespace pellix::test
