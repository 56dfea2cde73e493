// KeyedArchive: a file holding one dictionary of key → Value, the stand-in
// for the platform's keyed archiver (token, user record, device UUID files).
//
// Format: a binary property list whose root is the dictionary. Null values,
// which property lists cannot hold, are stored as a marker and read back as
// null, so an archive round-trips every Value.
//
// Writing is atomic: the data goes to a temporary file in the same folder,
// which is fsync'ed, given mode 0600 and renamed over the target (the folder
// is fsync'ed too), so a reader sees the old archive or the new one, never a
// mix, and a crash mid-write leaves the old file intact.
//
// Reading never crashes and never throws on bad files: a missing, empty,
// truncated or damaged file, or one whose root is not a dictionary, reads as
// "no archive" (std::nullopt).
//
// Thread-safety: stateless; calls on different paths may run concurrently.
// Concurrent writers of the same path each replace the file whole (the last
// rename wins).
#pragma once

#include <filesystem>
#include <optional>

#include "platform/Error.h"
#include "platform/Value.h"

namespace pellix::platform {

class KeyedArchive {
public:
    // Files larger than this are not read (treated as damaged).
    static constexpr std::uintmax_t kMaxFileSize = 64u << 20;

    // True on success. On failure the target is untouched, the temporary file
    // removed, and `error` (when given) receives an Error in
    // "NSCocoaErrorDomain" (code 3852 for a value that cannot be archived,
    // 512 for a file-system failure, with the errno text as reason).
    static bool write(const std::filesystem::path& path, const Dictionary& root, ErrorPtr* error = nullptr);
    // The same atomic replacement for any bytes (temporary file in the same
    // folder, fsync, mode 0600, rename, folder fsync), with the same errors.
    static bool writeFileAtomically(const std::filesystem::path& path, const Bytes& data,
                                    ErrorPtr* error = nullptr);

    // A regular file's whole content, or std::nullopt when it cannot be
    // opened, is not a regular file or is larger than kMaxFileSize; a file
    // that shrinks while it is read gives what was there.
    static std::optional<Bytes> readFileBounded(const std::filesystem::path& path);

    // The archived dictionary, or std::nullopt when there is no readable archive.
    static std::optional<Dictionary> read(const std::filesystem::path& path);

    // Removes the archive; true when it is gone afterwards (absent counts).
    static bool remove(const std::filesystem::path& path);
};

}  // namespace pellix::platform
