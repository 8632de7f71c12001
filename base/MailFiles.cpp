#include "base/MailFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File OpenFile(const std::string& path, std::string* error)
{
    File file(std::fopen(path.c_str(), "rb"));
    if (!file && error)
        *error = std::strerror(errno);
    return file;
}

bool IsRegular(const std::string& path, struct stat& st)
{
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The entries of a folder that are not folders and whose names do not begin
// with '.', sorted (a dangling link is kept: it is reported as unreadable).
std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> files;
    std::error_code code;
    for (fs::directory_iterator it(folder, code), end; !code && it != end; it.increment(code)) {
        const std::string name = it->path().filename().string();
        std::error_code kind;
        if (!name.starts_with('.') && !it->is_directory(kind))
            files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool IsFolder(const std::string& path)
{
    std::error_code code;
    return fs::is_directory(path, code);
}

// One message file: read whole when within the bound.
bool ReadOneFile(const std::string& path, int64_t maxSize, const std::function<bool(SMailFileMessage&&)>& each,
                 SMailPathReport& report, bool* stop)
{
    struct stat st{};
    if (!IsRegular(path, st)) {
        report.unreadable.push_back(path + ": " + std::strerror(errno ? errno : EINVAL));
        return false;
    }
    if (st.st_size > maxSize) {
        ++report.tooBig;
        return true;
    }
    std::string error;
    File file = OpenFile(path, &error);
    if (!file) {
        report.unreadable.push_back(path + ": " + error);
        return false;
    }
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    const size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (std::ferror(file.get())) {
        report.unreadable.push_back(path + ": " + std::strerror(errno));
        return false;
    }
    bytes.resize(got);
    if (bytes.empty()) {
        ++report.empty;
        return true;
    }
    ++report.messages;
    *stop = !each({path, MailFileToWire(bytes)});
    return true;
}

// An mbox, read a chunk at a time: a line that begins with "From " at the
// start of the file or after an empty line opens a message; ">From " lines
// lose one '>'. A message past the bound is skipped up to the next one.
bool ReadMbox(const std::string& path, int64_t maxSize, const std::function<bool(SMailFileMessage&&)>& each,
              SMailPathReport& report, std::string& error)
{
    File file = OpenFile(path, &error);
    if (!file)
        return false;
    std::string message;   // the current message, as sent
    bool open = false;     // a "From " line has opened it
    bool tooBig = false;   // past the bound: its lines are dropped
    bool lastEmpty = true; // the previous line was empty (or none yet)
    bool pendingEmpty = false; // an empty line held back: it may precede a separator
    int64_t position = 0;
    bool stop = false;
    const auto add = [&](std::string_view line) {
        if (tooBig)
            return;
        if (int64_t(message.size() + line.size() + 2) > maxSize) {
            tooBig = true;
            message.clear();
            return;
        }
        message.append(line);
        message.append("\r\n");
    };
    const auto finish = [&] {
        if (!open)
            return;
        if (tooBig)
            ++report.tooBig;
        else if (message.empty())
            ++report.empty;
        else {
            ++report.messages;
            stop = !each({path + ":" + std::to_string(position), std::move(message)});
        }
        message.clear();
        tooBig = false;
    };
    const auto line = [&](std::string_view text) {
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        if (lastEmpty && text.starts_with("From ")) {
            pendingEmpty = false;
            finish();
            open = true;
            ++position;
            lastEmpty = false;
            return;
        }
        if (!open) { // bytes before the first "From " line: not an mbox message
            lastEmpty = text.empty();
            return;
        }
        if (pendingEmpty)
            add("");
        pendingEmpty = false;
        lastEmpty = text.empty();
        if (lastEmpty) {
            pendingEmpty = true;
            return;
        }
        const size_t quotes = text.find_first_not_of('>');
        if (quotes != 0 && quotes != std::string_view::npos && text.substr(quotes).starts_with("From "))
            text.remove_prefix(1);
        add(text);
    };

    std::string pending; // a line not ended yet (bounded: a longer one is cut)
    std::vector<char> chunk(1 << 16);
    while (!stop) {
        const size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
        if (got == 0)
            break;
        std::string_view data(chunk.data(), got);
        while (!stop && !data.empty()) {
            const size_t lf = data.find('\n');
            if (lf == std::string_view::npos) {
                if (int64_t(pending.size()) <= maxSize)
                    pending.append(data.substr(0, std::min<size_t>(data.size(), size_t(maxSize) + 1)));
                break;
            }
            if (pending.empty()) {
                line(data.substr(0, lf));
            } else {
                if (int64_t(pending.size()) <= maxSize)
                    pending.append(data.substr(0, std::min<size_t>(lf, size_t(maxSize) + 1)));
                line(pending);
                pending.clear();
            }
            data.remove_prefix(lf + 1);
        }
    }
    if (std::ferror(file.get())) {
        error = std::strerror(errno);
        return false;
    }
    if (!stop && !pending.empty())
        line(pending);
    if (!stop)
        finish();
    return true;
}

} // namespace

std::string MailFileToWire(std::string_view text)
{
    std::string wire;
    wire.reserve(text.size() + text.size() / 32 + 2);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            wire += '\r';
        wire += text[i];
    }
    if (!wire.empty() && !wire.ends_with("\r\n"))
        wire += wire.back() == '\r' ? "\n" : "\r\n";
    return wire;
}

EMailPathKind MailPathKind(const std::string& path, std::string* error)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        *error = std::strerror(errno);
        return EMailPathKind::kUnreadable;
    }
    if (S_ISREG(st.st_mode)) {
        File file = OpenFile(path, error);
        if (!file)
            return EMailPathKind::kUnreadable;
        char head[5] = {};
        const size_t got = std::fread(head, 1, sizeof head, file.get());
        return got == 5 && std::memcmp(head, "From ", 5) == 0 ? EMailPathKind::kMbox : EMailPathKind::kMessage;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = "neither a file nor a folder";
        return EMailPathKind::kUnreadable;
    }
    std::error_code code;
    fs::directory_iterator probe(path, code);
    if (code) {
        *error = code.message();
        return EMailPathKind::kUnreadable;
    }
    if (IsFolder(path + "/cur") || IsFolder(path + "/new"))
        return EMailPathKind::kMaildir;
    if (!FilesIn(path).empty())
        return EMailPathKind::kFolder;
    *error = "neither a Maildir (cur/, new/) nor a folder of message files";
    return EMailPathKind::kUnreadable;
}

bool ReadMailPath(const std::string& path, int64_t maxSize, const std::function<bool(SMailFileMessage&&)>& each,
                  SMailPathReport& report, std::string& error)
{
    bool stop = false;
    switch (MailPathKind(path, &error)) {
    case EMailPathKind::kUnreadable:
        return false;
    case EMailPathKind::kMbox:
        return ReadMbox(path, maxSize, each, report, error);
    case EMailPathKind::kMessage:
        if (!ReadOneFile(path, maxSize, each, report, &stop)) {
            error = report.unreadable.back().substr(path.size() + 2);
            report.unreadable.pop_back();
            return false;
        }
        return true;
    case EMailPathKind::kMaildir:
        for (const char* part : {"/cur", "/new"})
            for (const std::string& file : FilesIn(path + part))
                if (!stop)
                    ReadOneFile(file, maxSize, each, report, &stop);
        return true;
    case EMailPathKind::kFolder:
        for (const std::string& file : FilesIn(path))
            if (!stop)
                ReadOneFile(file, maxSize, each, report, &stop);
        return true;
    }
    return false;
}
