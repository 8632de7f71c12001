#include "Corpus.h"

#include "base/Paths.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace {

std::string ToCrLf(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 30);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out.push_back('\r');
        out.push_back(text[i]);
    }
    return out;
}

} // namespace

const std::vector<CorpusMessage>& LoadCorpus(size_t limit)
{
    static std::map<size_t, std::vector<CorpusMessage>> cache;
    auto it = cache.find(limit);
    if (it != cache.end())
        return it->second;
    std::vector<CorpusMessage>& out = cache[limit];
    const char* root = std::getenv("ORVELANE_CORPUS");
    if (!root || !std::filesystem::is_directory(root))
        return out;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file() && entry.path().extension() == ".txt")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        if (limit && out.size() >= limit)
            break;
        std::string bytes;
        if (!ReadBinaryFile(path.string(), bytes))
            continue;
        out.push_back({path.parent_path().filename().string(), ToCrLf(bytes)});
    }
    return out;
}

size_t CorpusBytes(const std::vector<CorpusMessage>& corpus)
{
    size_t total = 0;
    for (const auto& m : corpus)
        total += m.text.size();
    return total;
}
