#include "filter/RuleCache.h"

#include "base/Paths.h"

#include <sys/stat.h>

namespace {

// What tells that a file may have changed: its path, size and time of last
// change, in one string; empty when the file is missing.
std::string FileStamp(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {};
    return path + '\0' + std::to_string(info.st_size) + ':' + std::to_string(info.st_mtim.tv_sec) +
           '.' + std::to_string(info.st_mtim.tv_nsec);
}

} // namespace

CCompiledRuleFile::CCompiledRuleFile(std::string content) : m_strContent(std::move(content))
{
    // Read as the rule set reads it, so that the lists compare equal.
    ERuleFileEncoding encoding = ERuleFileEncoding::kWindows1252;
    ParseRuleFile(DecodeRuleFile(m_strContent, &encoding), m_lists);
}

bool CCompiledRuleFile::SameList(ERuleList which, const RuleList& list) const
{
    const RuleList& mine = m_lists.lists[static_cast<size_t>(which)];
    if (mine.count() != list.count())
        return false;
    auto other = list.begin();
    for (const std::string* entry : mine) {
        if (*entry != **other)
            return false;
        ++other;
    }
    return true;
}

void CCompiledRuleFile::Compile() const
{
    std::call_once(m_compileOnce, [this] {
        const RuleList& html = m_lists.lists[kRuleBodyHtml];
        const RuleList& body = m_lists.lists[kRuleBody];
        if (!html.empty())
            m_html.emplace(html, CRuleMatcher::kBodySearch, false);
        if (!body.empty()) {
            m_plain.emplace(body, CRuleMatcher::kBodySearch, false);
            m_stripped.emplace(body, CRuleMatcher::kBodySearch, true);
        }
        std::lock_guard<std::mutex> lock(m_headerLock);
        for (const auto& [which, strip] : kHeaderTests) {
            const RuleList& list = m_lists.lists[static_cast<size_t>(which)];
            if (!list.empty())
                m_header[{which, strip}] =
                    std::make_unique<CRuleMatcher>(list, CRuleMatcher::kHeaderTest, strip);
        }
        m_bCompiled = true;
    });
}

SBodyMatchers CCompiledRuleFile::Matchers() const
{
    Compile();
    SBodyMatchers matchers;
    matchers.html = m_html ? &*m_html : nullptr;
    matchers.plain = m_plain ? &*m_plain : nullptr;
    matchers.stripped = m_stripped ? &*m_stripped : nullptr;
    return matchers;
}

bool CCompiledRuleFile::HeaderMatches(ERuleList which, bool stripSeparators, std::string_view text) const
{
    const RuleList& list = m_lists.lists[static_cast<size_t>(which)];
    if (list.empty())
        return false;
    std::lock_guard<std::mutex> lock(m_sharedHeaderLock);
    std::unique_ptr<CRuleMatcher>& matcher = m_sharedHeader[{which, stripSeparators}];
    if (!matcher)
        matcher = std::make_unique<CRuleMatcher>(list, CRuleMatcher::kHeaderTest, stripSeparators);
    return matcher->FirstHeaderMatch(text) >= 0;
}

std::unique_ptr<CRuleMatcher> CCompiledRuleFile::TakeHeaderMatcher(ERuleList which,
                                                                   bool stripSeparators) const
{
    if (!m_bCompiled)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_headerLock);
    auto it = m_header.find({which, stripSeparators});
    if (it == m_header.end())
        return nullptr;
    std::unique_ptr<CRuleMatcher> matcher = std::move(it->second);
    m_header.erase(it);
    return matcher;
}

bool CRuleCache::Refresh(const CompileAhead& compileAhead)
{
    // The rule file as the analysis will read it. Its stamp is looked at
    // again at most a few times a second, and the file read again only when
    // the stamp changed. A change missed that way costs nothing but time: the
    // analysis uses a verdict only when its own lists equal the ones the
    // verdict was computed with.
    const auto now = std::chrono::steady_clock::now();
    if (m_pFile && now - m_fileChecked < std::chrono::milliseconds(250))
        return true;
    m_fileChecked = now;
    const std::string folder = CurrentDirectory();
    const std::string path = FindFile(folder, kRuleFileName);
    const std::string stamp =
        folder.size() > kMaxRuleFolderLength ? std::string() : FileStamp(path);
    std::string content;
    if (stamp.empty() || (stamp != m_strFileStamp && !ReadBinaryFile(path, content))) {
        m_pFile.reset();
        m_strFileStamp.clear();
        return false;
    }
    if (stamp != m_strFileStamp) {
        if (!m_pFile || m_pFile->Content() != content) {
            m_pFile = std::make_shared<const CCompiledRuleFile>(std::move(content));
            // Compiled in the background from now on, not when the first
            // message is waiting for it.
            compileAhead(m_pFile);
        }
        m_strFileStamp = stamp;
    }
    return true;
}

bool CRuleCache::SameEntries(const RuleList& list, const CRuleMatcher& matcher)
{
    if (list.count() != matcher.EntryCount())
        return false;
    int32_t i = 0;
    for (const std::string* entry : list)
        if (*entry != matcher.Entry(i++))
            return false;
    return true;
}

void CRuleCache::BeginRun()
{
    for (auto it = m_matchers.begin(); it != m_matchers.end();) {
        if (SameEntries(m_rules.List(std::get<0>(it->first)), *it->second))
            ++it;
        else
            it = m_matchers.erase(it);
    }
    m_bInRun = true;
    const CCompiledRuleFile* file = m_pFile.get();
    if (!file)
        return;
    // Body verdicts count only when they were computed with the body lists
    // this run has just read.
    if (file->SameList(kRuleBodyHtml, m_rules.List(kRuleBodyHtml)) &&
        file->SameList(kRuleBody, m_rules.List(kRuleBody)))
        m_pRunFile = file;
    for (const auto& [which, strip] : CCompiledRuleFile::kHeaderTests) {
        const Key key{which, CRuleMatcher::kHeaderTest, strip};
        if (m_matchers.count(key) == 0 && file->SameList(which, m_rules.List(which)))
            if (std::unique_ptr<CRuleMatcher> matcher = file->TakeHeaderMatcher(which, strip))
                m_matchers.emplace(key, std::move(matcher));
    }
}

void CRuleCache::EndRun()
{
    m_bInRun = false;
    m_pRunFile = nullptr;
}

CRuleMatcher* CRuleCache::Find(const RuleList& list, CRuleMatcher::EMode mode, bool stripSeparators)
{
    const int which = m_rules.IndexOf(list);
    if (!m_bInRun || which < 0)
        return nullptr;
    const Key key{static_cast<ERuleList>(which), mode, stripSeparators};
    auto it = m_matchers.find(key);
    // A list of another length than when it was compiled is compiled again.
    if (it == m_matchers.end() || it->second->EntryCount() != list.count())
        it = m_matchers
                 .insert_or_assign(key, std::make_unique<CRuleMatcher>(list, mode, stripSeparators))
                 .first;
    return it->second.get();
}
