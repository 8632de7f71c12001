#include "shell/SettingsFile.h"

#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Paths.h"
#include "base/Texts.h"
#include "base/Win1252.h"
#include "filter/PlugIns.h"
#include "proxy/Login.h"
#include "shell/Settings.h"

#include <QByteArray>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslSocket>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// ---- the file as lines ----------------------------------------------------------

CSettingsFile::CSettingsFile(std::string_view bytes)
{
    while (!bytes.empty()) {
        const size_t lf = bytes.find('\n');
        SLine line;
        if (lf == std::string_view::npos) {
            line.text = bytes;
            bytes = {};
        } else {
            line.text = bytes.substr(0, lf);
            line.end.assign(1, '\n');
            bytes.remove_prefix(lf + 1);
            if (!line.text.empty() && line.text.back() == '\r') {
                line.text.pop_back();
                line.end = "\r\n";
            }
        }
        if (m_strNewline.empty() && !line.end.empty())
            m_strNewline = line.end;
        m_lines.push_back(std::move(line));
    }
    // The file's own line ends; a new file gets those of Windows, as every
    // text file this program writes.
    if (m_strNewline.empty())
        m_strNewline = "\r\n";
}

std::string CSettingsFile::Bytes() const
{
    std::string bytes;
    for (const SLine& line : m_lines)
        bytes += line.text + line.end;
    return bytes;
}

std::string CSettingsFile::KeyOf(const SLine& line)
{
    const size_t eq = line.text.find('=');
    if (eq == std::string::npos)
        return {};
    std::string key;
    for (char c : std::string_view(line.text).substr(0, eq))
        if (c != ' ' && c != '\r')
            key.push_back(c);
    return !key.empty() && key.front() == '#' ? std::string() : key;
}

std::string CSettingsFile::ValueOf(const SLine& line)
{
    std::string value;
    for (char c : std::string_view(line.text).substr(line.text.find('=') + 1))
        if (c != ' ' && c != '\r')
            value.push_back(c);
    return value;
}

std::optional<std::string> CSettingsFile::Value(std::string_view key) const
{
    for (auto it = m_lines.rbegin(); it != m_lines.rend(); ++it)
        if (w1252::EqualsNoCase(KeyOf(*it), key))
            return ValueOf(*it);
    return std::nullopt;
}

void CSettingsFile::Rewrite(SLine& line, std::string_view value)
{
    size_t keep = line.text.find('=') + 1;
    while (keep < line.text.size() && line.text[keep] == ' ')
        ++keep;
    line.text.resize(keep);
    line.text += value;
}

CSettingsFile::SLine CSettingsFile::NewLine(std::string_view key, std::string_view value) const
{
    return SLine{std::string(key) + "=" + std::string(value), m_strNewline};
}

void CSettingsFile::Insert(size_t at, SLine line)
{
    if (at > 0 && m_lines[at - 1].end.empty())
        m_lines[at - 1].end = m_strNewline;
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void CSettingsFile::Set(std::string_view key, std::string_view value)
{
    for (auto it = m_lines.rbegin(); it != m_lines.rend(); ++it)
        if (w1252::EqualsNoCase(KeyOf(*it), key)) {
            Rewrite(*it, value);
            return;
        }
    Insert(m_lines.size(), NewLine(key, value));
}

void CSettingsFile::RemoveAll(std::string_view key)
{
    std::erase_if(m_lines, [key](const SLine& line) { return w1252::EqualsNoCase(KeyOf(line), key); });
}

void CSettingsFile::SetList(std::string_view key, const std::vector<std::string>& values)
{
    std::vector<size_t> at; // the key's lines
    for (size_t i = 0; i < m_lines.size(); ++i)
        if (w1252::EqualsNoCase(KeyOf(m_lines[i]), key))
            at.push_back(i);
    // The longest run of old values that stays in order is kept.
    const size_t n = at.size(), m = values.size();
    std::vector<std::vector<size_t>> common(n + 1, std::vector<size_t>(m + 1, 0));
    for (size_t i = n; i-- > 0;)
        for (size_t j = m; j-- > 0;)
            common[i][j] = ValueOf(m_lines[at[i]]) == values[j] ? common[i + 1][j + 1] + 1
                                                                : std::max(common[i + 1][j], common[i][j + 1]);
    std::vector<ptrdiff_t> line(m, -1); // the line a new value keeps, or -1
    std::vector<bool> kept(m_lines.size(), false);
    for (size_t i = 0, j = 0; i < n && j < m;) {
        if (ValueOf(m_lines[at[i]]) == values[j]) {
            line[j] = static_cast<ptrdiff_t>(at[i]);
            kept[at[i]] = true;
            ++i, ++j;
        } else if (common[i + 1][j] >= common[i][j + 1]) {
            ++i;
        } else {
            ++j;
        }
    }
    // Each new value goes after the kept line before it, else before the
    // first kept line after it, else at the end.
    std::vector<std::vector<SLine>> before(m_lines.size()), after(m_lines.size());
    std::vector<SLine> atEnd;
    ptrdiff_t previous = -1;
    for (size_t j = 0; j < m; ++j) {
        if (line[j] >= 0) {
            previous = line[j];
            continue;
        }
        SLine added = NewLine(key, values[j]);
        if (previous >= 0) {
            after[static_cast<size_t>(previous)].push_back(std::move(added));
            continue;
        }
        const auto next = std::find_if(line.begin() + static_cast<ptrdiff_t>(j), line.end(),
                                       [](ptrdiff_t l) { return l >= 0; });
        if (next != line.end())
            before[static_cast<size_t>(*next)].push_back(std::move(added));
        else
            atEnd.push_back(std::move(added));
    }
    std::vector<SLine> old = std::move(m_lines);
    m_lines.clear();
    auto push = [this](SLine l) { Insert(m_lines.size(), std::move(l)); };
    for (size_t i = 0; i < old.size(); ++i) {
        const bool ofKey = w1252::EqualsNoCase(KeyOf(old[i]), key);
        for (SLine& l : before[i])
            push(std::move(l));
        if (!ofKey || kept[i])
            push(std::move(old[i]));
        for (SLine& l : after[i])
            push(std::move(l));
    }
    for (SLine& l : atEnd)
        push(std::move(l));
}

// ---- the form -------------------------------------------------------------------

namespace {

// The option keys of the reader's result, one per key (the last value wins),
// in the order they first appear.
std::vector<std::pair<std::string, std::string>> OptionsOf(const CSettings& settings)
{
    std::vector<std::pair<std::string, std::string>> options;
    for (const auto& [key, value] : settings.m_plugInOptions) {
        auto same = std::find_if(options.begin(), options.end(),
                                 [&key](const auto& o) { return w1252::EqualsNoCase(o.first, key); });
        if (same == options.end())
            options.emplace_back(key, value);
        else
            same->second = value;
    }
    return options;
}

// The file's text already says `value` as the reader would take it.
bool SaysNumber(const std::string& text, const std::string& value)
{
    return IsWholeNumber(text) && IsWholeNumber(value) && AtoiSaturating(text) == AtoiSaturating(value);
}

bool HasBlank(std::string_view text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) <= 32 || c == 127; });
}

bool InRange(const std::string& text, int32_t low, int32_t high)
{
    if (!IsWholeNumber(text) || text.size() > 11)
        return false;
    const int32_t n = AtoiSaturating(text);
    return n >= low && n <= high;
}

} // namespace

SSettingsForm ReadForm(const CSettingsFile& file)
{
    CSettings s;
    ParseSettings(file.Bytes(), s);
    SSettingsForm form;
    form.popServer = s.m_strPopServer;
    form.security = SecurityWord(s.m_nServerSecurity);
    form.certificate = s.m_strServerCertificate;
    form.listenPort = std::to_string(s.m_nListenPort);
    form.listenAddress = s.m_strListenAddress;
    form.maxMemoMsg = std::to_string(s.m_nMaxMemoMsg);
    form.maxStoreMB = std::to_string(s.m_nMaxStoreMB);
    form.scanAnswerSeconds = std::to_string(s.m_nScanAnswerSeconds);
    if (const std::optional<std::string> size = file.Value("MaxMsgSize"))
        form.maxMsgSize = std::to_string(AtoiSaturating(*size));
    form.spamHeaders = s.m_bSpamHeaders;
    form.plugIns = s.m_plugInNames;
    form.options = OptionsOf(s);
    return form;
}

void StoreForm(const SSettingsForm& form, CSettingsFile& file)
{
    const SSettingsForm defaults;
    const auto text = [&file](const char* key, const std::string& value, const std::string& byDefault,
                              bool number) {
        const std::optional<std::string> now = file.Value(key);
        if (now ? (*now == value || (number && SaysNumber(*now, value))) : value == byDefault)
            return;
        file.Set(key, value);
    };
    text("POPServer", form.popServer, defaults.popServer, false);
    if (const std::optional<std::string> now = file.Value("ServerSecurity");
        now ? !w1252::EqualsNoCase(*now, form.security) : form.security != defaults.security)
        file.Set("ServerSecurity", form.security);
    text("ServerCertificate", form.certificate, defaults.certificate, false);
    text("ListenPort", form.listenPort, defaults.listenPort, true);
    text("ListenAddress", form.listenAddress, defaults.listenAddress, false);
    text("MaxMemoMsg", form.maxMemoMsg, defaults.maxMemoMsg, true);
    text("MaxStoreMB", form.maxStoreMB, defaults.maxStoreMB, true);
    text("ScanAnswerSeconds", form.scanAnswerSeconds, defaults.scanAnswerSeconds, true);
    text("MaxMsgSize", form.maxMsgSize, defaults.maxMsgSize, true);
    if (const std::optional<std::string> now = file.Value("SpamHeaders");
        now ? !(IsWholeNumber(*now) && (AtoiSaturating(*now) != 0) == form.spamHeaders) : form.spamHeaders)
        file.Set("SpamHeaders", form.spamHeaders ? "1" : "0");
    file.SetList("PlugIn", form.plugIns);

    CSettings before;
    ParseSettings(file.Bytes(), before);
    for (const auto& [key, value] : OptionsOf(before)) {
        const std::string& gone = key;
        if (std::none_of(form.options.begin(), form.options.end(),
                         [&gone](const auto& o) { return w1252::EqualsNoCase(o.first, gone); }))
            file.RemoveAll(key);
    }
    for (const auto& [key, value] : form.options)
        if (file.Value(key) != value)
            file.Set(key, value);
}

// ---- the checks -----------------------------------------------------------------

namespace {

// The reason a POP3 server name cannot be used, or empty.
std::string ServerProblem(const std::string& server)
{
    if (server.empty())
        return {}; // the mail client names the server at login
    std::string host;
    int32_t port = 0;
    bool ambiguous = false;
    const bool hasPort = SplitServerName(server, host, port, &ambiguous);
    const char* text = server.c_str();
    if (ambiguous) {
        const size_t last = server.rfind(':');
        return StrFormat(txt::kFormServerAmbiguous, text, server.substr(0, last).c_str(),
                         server.substr(last + 1).c_str());
    }
    if (server.front() == '[') {
        const size_t close = server.find(']');
        if (close == std::string::npos || (close + 1 < server.size() && server[close + 1] != ':') ||
            QHostAddress(QString::fromStdString(host)).protocol() != QAbstractSocket::IPv6Protocol)
            return StrFormat(txt::kFormServerBad, text);
    } else if (host.find(':') != std::string::npos) {
        if (QHostAddress(QString::fromStdString(host)).protocol() != QAbstractSocket::IPv6Protocol)
            return StrFormat(txt::kFormServerBad, text);
    } else if (host.empty() || host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                      "0123456789.-_") != std::string::npos) {
        return StrFormat(txt::kFormServerBad, text);
    }
    if (hasPort && !InRange(server.substr(server.rfind(':') + 1), 1, 65535))
        return StrFormat(txt::kFormServerPort, text);
    return {};
}

std::string CertificateProblem(const std::string& path)
{
    if (path.empty())
        return {};
    std::string bytes;
    if (::access(path.c_str(), R_OK) != 0 || !ReadBinaryFile(path, bytes))
        return StrFormat(txt::kFormCertificateUnreadable, path.c_str());
    const QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const bool pem = QSslSocket::supportsSsl() ? !QSslCertificate::fromData(data, QSsl::Pem).isEmpty()
                                               : data.contains("-----BEGIN CERTIFICATE-----");
    return pem ? std::string() : StrFormat(txt::kFormCertificateNotPem, path.c_str());
}

} // namespace

std::vector<SFormProblem> CheckForm(const SSettingsForm& form,
                                    const std::function<std::string(const std::string&)>& plugInPath)
{
    std::vector<SFormProblem> problems;
    const auto add = [&problems](const char* key, std::string message) {
        if (!message.empty())
            problems.push_back({key, std::move(message)});
    };
    const auto blanks = [&](const char* key, const char* label, const std::string& value) {
        if (!HasBlank(value))
            return false;
        add(key, StrFormat(txt::kFormNoBlanks, label));
        return true;
    };

    if (!blanks("POPServer", "Serveur POP3", form.popServer))
        add("POPServer", ServerProblem(form.popServer));
    ServerSecurity security{};
    if (!ReadSecurityWord(form.security, security))
        add("ServerSecurity", StrFormat(txt::kFormSecurity, form.security.c_str()));
    if (!blanks("ServerCertificate", "Certificat", form.certificate))
        add("ServerCertificate", CertificateProblem(form.certificate));
    if (!InRange(form.listenPort, 1, 65535))
        add("ListenPort", StrFormat(txt::kFormListenPort, form.listenPort.c_str()));
    if (!blanks("ListenAddress", "Adresse d'\xE9" "coute", form.listenAddress) && !form.listenAddress.empty() &&
        form.listenAddress != "localhost" && QHostAddress(QString::fromStdString(form.listenAddress)).isNull())
        add("ListenAddress", StrFormat(txt::kFormListenAddress, form.listenAddress.c_str()));
    const std::pair<const char*, const std::string*> numbers[] = {
        {"MaxMemoMsg", &form.maxMemoMsg},
        {"MaxStoreMB", &form.maxStoreMB},
        {"ScanAnswerSeconds", &form.scanAnswerSeconds},
        {"MaxMsgSize", &form.maxMsgSize},
    };
    for (const auto& [key, value] : numbers) {
        const auto bounds = std::find_if(std::begin(kFormNumbers), std::end(kFormNumbers),
                                         [key](const SNumberBounds& b) { return std::strcmp(b.key, key) == 0; });
        if (!InRange(*value, bounds->low, bounds->high))
            add(key, StrFormat(txt::kFormNumber, key, value->c_str(), bounds->low, bounds->high));
    }

    for (const std::string& name : form.plugIns) {
        if (name.empty())
            add("PlugIn", txt::kFormPlugInEmpty);
        else if (!blanks("PlugIn", "Plug-ins", name) && plugInPath(name).empty())
            add("PlugIn", StrFormat(txt::kFormPlugInMissing, name.c_str()));
    }
    for (const auto& [key, value] : form.options) {
        const size_t dot = key.find('.');
        if (blanks("Options", "Options", key) || blanks("Options", "Options", value))
            continue;
        if (dot == std::string::npos || dot == 0 || dot + 1 >= key.size() || key.find('=') != std::string::npos ||
            key.front() == '#') {
            add("Options", StrFormat(txt::kFormOptionKey, key.c_str()));
            continue;
        }
        const bool owned = std::any_of(form.plugIns.begin(), form.plugIns.end(), [&key](const std::string& p) {
            const std::string prefix = PlugInOptionPrefix(p) + ".";
            return key.size() > prefix.size() && w1252::EqualsNoCase(std::string_view(key).substr(0, prefix.size()), prefix);
        });
        if (!owned)
            add("Options", StrFormat(txt::kFormOptionOrphan, key.c_str()));
    }
    return problems;
}

// ---- the write ------------------------------------------------------------------

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error)
{
    // Through a link, the file it names is replaced.
    std::string target = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    std::string temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data()); // mode 0600
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat existing{};
    if (::stat(target.c_str(), &existing) == 0)
        ::fchmod(fd, existing.st_mode & 07777);
    size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const int saved = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), target.c_str()) != 0) {
        error = std::strerror(ok ? errno : (saved ? saved : errno));
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}
