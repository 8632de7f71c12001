// Mail the user already has on disk: a single message file, a Maildir folder
// (its cur/ and new/), a folder of message files, or an mbox file. Each
// message comes out as a POP3 server would send it: every bare LF made CR LF,
// the text ending in CR LF.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Messages bigger than this (as stored) are skipped and counted, never read
// into memory whole.
inline constexpr int64_t kMaxMailFileMessage = 10 * 1024 * 1024;

struct SMailFileMessage {
    std::string name; // the file's path, or "path:N" for the Nth message of an mbox
    std::string text;
};

// What reading one PATH found besides its messages.
struct SMailPathReport {
    int64_t messages = 0; // handed to the caller
    int64_t tooBig = 0;   // skipped: over the size bound
    int64_t empty = 0;    // skipped: empty files or mbox entries
    // Files of a folder that could not be read, with the reason.
    std::vector<std::string> unreadable;
};

// What kind of PATH this is, or why it is none: a path that does not exist,
// cannot be opened or is a folder with neither cur/, new/ nor files.
enum class EMailPathKind { kMessage, kMbox, kMaildir, kFolder, kUnreadable };
EMailPathKind MailPathKind(const std::string& path, std::string* error);

// Calls `each` with every message under `path`, in a stable order (file
// names sorted, cur/ before new/; an mbox in file order); stops early when
// `each` returns false. False, with `error`, when the PATH itself cannot be
// read; the problems of single messages are counted in `report`.
bool ReadMailPath(const std::string& path, int64_t maxSize,
                  const std::function<bool(SMailFileMessage&&)>& each, SMailPathReport& report,
                  std::string& error);

// The text of a message file as a server would send it: bare LF made CR LF,
// a CR LF added when the last line has none.
std::string MailFileToWire(std::string_view text);
