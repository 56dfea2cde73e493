// HOSPartInfoStore: the part-information file of one multipart upload, from
// which a resumed upload recovers the CRC-64 of the parts it sent earlier
// (the service's part listing does not carry them).
//
// On disk, next to each other in the part-information folder:
// - the snapshot, named after the upload id: an XML property list holding
//   one dictionary keyed by part number as decimal text, each entry the
//   dictionary form of an HOSPartInfo ("partNum", "eTag", "size", "crc64");
// - the journal, the same name plus ".journal": one text line per part
//   finished since the last snapshot, each line carrying its own CRC-64.
//
// Recording a part appends one line to the journal, so its cost does not
// grow with the number of parts already recorded (rewriting the whole
// snapshot per part would make a 5000-part upload quadratic). The journal
// is folded into the snapshot when the store is opened and when it is
// closed; the snapshot is replaced atomically (temporary file, fsync,
// rename), so a crash at any point leaves either the old or the new
// snapshot, and the journal is removed only after the new snapshot is in
// place. A journal line cut short by a crash fails its check and is
// skipped; the lines before it count.
//
// CRC-64 values are unsigned 64-bit. XML integers are signed here, so a
// value above INT64_MAX is stored as the signed integer with the same 64
// bits; reading takes either that or the plain positive decimal.
//
// Not thread-safe: the multipart engine records parts under its lock.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "HOSSDK/HOSModel.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace pellix {

class HOSPartInfoStore {
public:
    // `path`: the snapshot's path; the journal is `path` + ".journal".
    explicit HOSPartInfoStore(std::string path);
    ~HOSPartInfoStore();
    HOSPartInfoStore(const HOSPartInfoStore&) = delete;
    HOSPartInfoStore& operator=(const HOSPartInfoStore&) = delete;

    static std::string journalPathFor(const std::string& path) { return path + ".journal"; }

    const std::string& path() const { return path_; }

    // Reads the parts recorded so far (snapshot, then journal lines, a later
    // entry replacing an earlier one of the same part); false when neither
    // file holds any. A journal left by an earlier run is folded into the
    // snapshot (a failure to do so is logged; the parts are still read).
    bool open();

    // The CRC-64 recorded for a part, if any.
    std::optional<std::uint64_t> crc64Of(std::int32_t partNum) const;
    std::size_t size() const { return parts_.size(); }
    // The recorded parts as the snapshot holds them: keyed by part number as
    // decimal text, in part-number order.
    platform::Dictionary dictionary() const;

    // Records one finished part: in memory and as one journal line. A failure
    // to write is returned as a storage error (client code 2); the part stays
    // recorded in memory.
    platform::ErrorPtr record(const HOSPartInfo& part);

    // Folds the journal into the snapshot and removes the journal; nothing
    // happens when no line was written since the last fold.
    platform::ErrorPtr close();

    // Removes the snapshot and the journal of `path`.
    static void remove(const std::string& path);

    // The dictionary form of a part as stored, and the CRC-64 of a stored
    // entry (std::nullopt when it has none that reads as a number).
    static platform::Dictionary entryOf(const HOSPartInfo& part);
    static std::optional<std::uint64_t> crc64Of(const platform::Value& entry);
    // One journal line for a part, with its trailing check and line feed.
    static std::string journalLine(const HOSPartInfo& part);

private:
    platform::ErrorPtr writeSnapshot();
    void readJournal();

    std::string path_;
    std::string journalPath_;
    std::map<std::int32_t, platform::Value> parts_;
    int journalFd_ = -1;
    bool journalPending_ = false;
};

}  // namespace pellix
