#include "base/Paths.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <strings.h>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

std::string ConfigFolder()
{
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        base = "/tmp";
    ::mkdir(base.c_str(), 0700);
    const std::string folder = base + "/orvelane";
    ::mkdir(folder.c_str(), 0700);
    return folder;
}

std::string CurrentDirectory()
{
    std::string buffer(4096, '\0');
    if (!::getcwd(buffer.data(), buffer.size()))
        return ".";
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    return buffer;
}

bool SetCurrentDirectory(const std::string& path)
{
    return ::chdir(path.c_str()) == 0;
}

bool ReadBinaryFile(const std::string& path, std::string& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    bytes.clear();
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.append(chunk, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool ReadTextFile(const std::string& path, std::string& text, int64_t* diskLength)
{
    std::string raw;
    if (!ReadBinaryFile(path, raw))
        return false;
    if (diskLength)
        *diskLength = static_cast<int64_t>(raw.size());
    text.clear();
    text.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
            continue;
        text.push_back(raw[i]);
    }
    return true;
}

namespace {

// Text-mode writing: every LF becomes CR LF.
std::string ToDosLines(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n')
            out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

} // namespace

bool WriteTextFile(const std::string& path, const std::string& text)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const std::string out = ToDosLines(text);
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

bool ReplaceTextFile(const std::string& path, const std::string& text)
{
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    struct stat info{};
    mode_t mode = 0;
    if (::stat(path.c_str(), &info) == 0) {
        mode = info.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    const std::string out = ToDosLines(text);
    bool ok = ::fchmod(fd, mode) == 0;
    size_t done = 0;
    while (ok && done < out.size()) {
        const ssize_t n = ::write(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

std::string FindFile(const std::string& folder, const std::string& name)
{
    const std::string exact = folder + "/" + name;
    struct stat info{};
    if (::stat(exact.c_str(), &info) == 0)
        return exact;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return exact;
    std::string found = exact;
    while (const dirent* entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = folder + "/" + entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}
