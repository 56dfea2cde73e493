// Request bodies are parsed back by the platform's XML parser: whatever the
// object keys, ETags or locations hold, the service reads exactly the
// elements we meant and the texts we were given.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HOSSDK/HOSUtil.h"
#include "platform/XMLParser.h"

namespace pellix {
namespace {

// Collects element paths and the text of leaf elements (those closed with
// no child element inside).
class LeafCollector : public platform::XMLParserDelegate {
public:
    std::vector<std::string> elements;                       // "Delete/Object/Key", in order
    std::vector<std::pair<std::string, std::string>> texts;  // leaf name, text

    void didStartElement(platform::XMLParser&, const std::string& name, const platform::Dictionary&) override {
        stack_.push_back(name);
        std::string path;
        for (const auto& s : stack_) path += (path.empty() ? "" : "/") + s;
        elements.push_back(path);
        text_.clear();
        leaf_ = true;
    }
    void foundCharacters(platform::XMLParser&, const std::string& t) override { text_ += t; }
    void foundCDATA(platform::XMLParser&, const platform::Bytes& d) override { text_.append(d.begin(), d.end()); }
    void didEndElement(platform::XMLParser&, const std::string& name) override {
        if (leaf_) texts.emplace_back(name, text_);
        stack_.pop_back();
        leaf_ = false;
        text_.clear();
    }

private:
    std::vector<std::string> stack_;
    std::string text_;
    bool leaf_ = false;
};

LeafCollector parse(const platform::Bytes& body) {
    LeafCollector c;
    platform::XMLParser parser(body);
    parser.setDelegate(&c);
    EXPECT_TRUE(parser.parse()) << std::string(body.begin(), body.end())
                                << (parser.parserError() ? parser.parserError()->description() : "");
    return c;
}

const std::vector<std::string> kHostileTexts = {
    "plain/key.jpg",
    "</Key></Object><Object><Key>victim",
    "a&b",
    "&amp;",
    "<![CDATA[x]]>",
    "]]>",
    "a<b>c",
    "\"quoted\" 'single'",
    "line\nbreak",
    "carriage\rreturn",
    "crlf\r\nend",
    "tab\there",
    "<!-- comment -->",
    "<?pi x?>",
    "&#60;already&#62;",
    "\xE5\x9B\xBE\xE7\x89\x87/\xF0\x9F\x98\x80.png",
    " leading and trailing ",
};

TEST(HOSXMLBody, DeleteMultipleObjectsCarriesExactlyTheKeys) {
    for (bool quiet : {true, false}) {
        LeafCollector c = parse(HOSUtil::constructHttpBodyForDeleteMultipleObjects(kHostileTexts, quiet));
        std::vector<std::string> keys;
        std::size_t objects = 0;
        for (const auto& e : c.elements) {
            if (e == "Delete/Object") ++objects;
            EXPECT_TRUE(e == "Delete" || e == "Delete/Quiet" || e == "Delete/Object" || e == "Delete/Object/Key") << e;
        }
        for (const auto& [name, text] : c.texts) {
            if (name == "Key") keys.push_back(text);
            if (name == "Quiet") {
                EXPECT_EQ(text, quiet ? "true" : "false");
            }
        }
        EXPECT_EQ(objects, kHostileTexts.size());
        EXPECT_EQ(keys, kHostileTexts);
    }
}

TEST(HOSXMLBody, CompleteMultipartUploadCarriesPartsInOrder) {
    std::vector<std::pair<std::int32_t, std::string>> parts;
    for (std::size_t i = 0; i < kHostileTexts.size(); ++i) parts.emplace_back(static_cast<int>(i + 1), kHostileTexts[i]);
    const platform::Bytes body = HOSUtil::constructHttpBodyFromPartInfos(parts);
    LeafCollector c = parse(body);
    std::vector<std::pair<std::int32_t, std::string>> back;
    for (const auto& [name, text] : c.texts) {
        if (name == "PartNumber") back.emplace_back(std::stoi(text), "");
        if (name == "ETag") back.back().second = text;
    }
    EXPECT_EQ(back, parts);
    EXPECT_EQ(std::string(body.begin(), body.begin() + 26), "<CompleteMultipartUpload>\n");

    // Records with partNum()/eTag() go through the same writer; null ones are skipped.
    struct Info {
        std::int32_t n;
        std::string e;
        std::int32_t partNum() const { return n; }
        const std::string& eTag() const { return e; }
    };
    std::vector<std::shared_ptr<Info>> infos{std::make_shared<Info>(Info{1, "\"etag-1\""}), nullptr,
                                             std::make_shared<Info>(Info{2, "\"etag-2\""})};
    const platform::Bytes fromInfos = HOSUtil::constructHttpBodyFromPartInfos(infos);
    EXPECT_EQ(std::string(fromInfos.begin(), fromInfos.end()),
              "<CompleteMultipartUpload>\n<Part>\n<PartNumber>1</PartNumber>\n<ETag>\"etag-1\"</ETag>\n</Part>\n"
              "<Part>\n<PartNumber>2</PartNumber>\n<ETag>\"etag-2\"</ETag>\n</Part>\n</CompleteMultipartUpload>\n");
}

TEST(HOSXMLBody, CreateBucketCarriesTheLocation) {
    for (const std::string& location : kHostileTexts) {
        LeafCollector c = parse(HOSUtil::constructHttpBodyForCreateBucketWithLocation(location));
        ASSERT_EQ(c.texts.size(), 1u);
        EXPECT_EQ(c.texts[0].first, "LocationConstraint");
        EXPECT_EQ(c.texts[0].second, location);
    }
    const platform::Bytes body = HOSUtil::constructHttpBodyForCreateBucketWithLocation("cn-east-1");
    EXPECT_EQ(std::string(body.begin(), body.end()),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CreateBucketConfiguration>\n"
              "<LocationConstraint>cn-east-1</LocationConstraint>\n</CreateBucketConfiguration>\n");
}

}  // namespace
}  // namespace pellix
