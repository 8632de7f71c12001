// The whole analysis of one message on arbitrary bytes: decoding, header
// extraction, every filter step and the marking, with a rule file that
// reaches each list.
#include "base/Models.h"
#include "base/OwnedList.h"
#include "base/Paths.h"
#include "base/SettingsValues.h"
#include "decode/MailDecoder.h"
#include "decode/TextTools.h"
#include "filter/Analysis.h"
#include "filter/PlugIns.h"
#include "filter/RuleSet.h"
#include "shell/LogWriter.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

const char kRules[] = "FROM:\nspammer@*\nTO:\nundisclosed\nCC:\ncopy*list\nBODY:\nviagra\nfree money\n"
                      "BODYHTML:\n<font\nSUBJECT:\nwinner\n*sale*\nRETPATH:\nbounce@\nTRUST:\nfriend@example.org\n"
                      "RELAY:\n10.0.0.\nNBRTO:\n5\nNBRCC:\n5\n";

struct Chain {
    Chain()
    {
        folder = (std::filesystem::temp_directory_path() / ("orvelane-fuzz-" + std::to_string(getpid()))).string();
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/" + kRuleFileName, std::ios::binary) << kRules;
        log.SetEcho(false);
    }
    ~Chain() { std::filesystem::remove_all(folder); }
    std::string folder;
    int32_t logCap = 1 << 20;
    CLogWriter log{logCap};
    CSettings settings;
    CMailListModel mailList;
    CMailDecoder decoder{&log};
    CTextTools tools;
    CRuleSet ruleSet{log};
    CPlugIns plugIns{log, settings, decoder, tools};
    CAnalysis analysis{log, settings, mailList, ruleSet, plugIns, decoder, tools};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Chain chain;
    OwnedList<CMailRecord> records;
    auto record = std::make_unique<CMailRecord>();
    record->m_pszText.assign(reinterpret_cast<const char*>(data), size);
    record->m_nSize = static_cast<int32_t>(size);
    records.append(std::move(record));
    // The analysis reads the rule file from the current directory; the
    // fuzzer's own relative paths need it back afterwards.
    const std::string previous = CurrentDirectory();
    SetCurrentDirectory(chain.folder);
    chain.analysis.AnalyseMessages(records, std::string(), std::string());
    SetCurrentDirectory(previous);
    chain.mailList.DeleteAllRows();
    return 0;
}
